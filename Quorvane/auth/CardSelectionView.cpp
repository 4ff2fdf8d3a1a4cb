#include "CardSelectionView.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

#include "CardView.h"
#include "Quorvane/shell/views/FontStyle.h"
#include "Quorvane/shell/views/ImageView.h"
#include "Quorvane/shell/views/InfoView.h"
#include "Quorvane/shell/views/LinkLabel.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "Quorvane/shell/views/ViewModifiers.h"
#include "platform/qt/Localizable.h"

namespace {

QString qtext(const std::string& text) {
    return QString::fromStdString(text);
}

QLabel* label(const QString& text, Qt::Alignment alignment) {
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(alignment);
    return label;
}

std::vector<std::string> identifiers(const std::vector<std::shared_ptr<pindle::Card>>& cards) {
    std::vector<std::string> out;
    for (const auto& card : cards)
        out.push_back(card->uniqueIdentifier());
    return out;
}

}  // namespace

CardSelectionView::CardSelectionView(std::shared_ptr<CardSelectionViewModel> model, QWidget* parent)
    : QWidget(parent),
      model_(std::move(model)),
      stateArea_(new QVBoxLayout),
      done_(new StyledButton(qtext(L("Done")), StyledButton::Style::borderedProminent,
                             StyledButton::ControlSize::large)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(defaultPadding, defaultPadding, defaultPadding, defaultPadding);
    layout->setSpacing(0);
    stateArea_->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(stateArea_, 1);
    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(0, 10, 0, 0);
    bottom->addStretch(1);
    bottom->addWidget(done_);
    layout->addLayout(bottom);
    connect(done_, &QPushButton::clicked, this, [this] { model_->done(); });

    render();
    // The timer is observed too; only the state and the guidance change what is shown.
    subscription_ = model_->subscribe([this] { render(); });
}

void CardSelectionView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    setFocusAsync(done_);
}

void CardSelectionView::render() {
    const auto& state = model_->viewState();
    // A new reading brings new card objects for the same cards: the list is rebuilt only when the cards
    // themselves change, so that focus and scrolling stay where the holder left them.
    const auto cards = identifiers(state.cards);
    if (shownKind_ == state.kind && shownCards_ == cards && shownGuidance_ == model_->guidanceText())
        return;
    shownKind_ = state.kind;
    shownCards_ = cards;
    shownGuidance_ = model_->guidanceText();

    const bool focusInside = state_ && state_->isAncestorOf(QApplication::focusWidget());
    if (state_) {
        // Out of sight at once; deleted once the event that replaced it is over.
        state_->hide();
        stateArea_->removeWidget(state_);
        state_->deleteLater();
    }
    guidance_ = nullptr;
    helpLink_ = nullptr;
    cardViews_.clear();
    switch (state.kind) {
        case CardSelectionViewState::Kind::noCards:
            state_ = makeNoCards();
            break;
        case CardSelectionViewState::Kind::longReadOngoing: {
            state_ = new QWidget;
            auto* layout = new QVBoxLayout(state_);
            layout->setContentsMargins(0, 0, 0, 0);
            layout->addWidget(new InfoView(
                std::make_shared<InfoViewModel>(L("Reading eID cards..."), true, nullptr, true)));
            break;
        }
        case CardSelectionViewState::Kind::availableCards:
            state_ = makeCardList(state.cards);
            break;
    }
    stateArea_->addWidget(state_);
    if (focusInside)
        setFocusAsync(done_);
}

QWidget* CardSelectionView::makeNoCards() {
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);
    layout->addStretch(1);

    auto* panel = new QWidget;
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    auto* picture = new ImageView(ViewImage::asset("eID"), QSize(46, 34), {});
    picture->setAccessibleName(qtext(L("eID card")));
    panelLayout->addWidget(picture, 0, Qt::AlignHCenter);
    guidance_ = label(qtext(model_->guidanceText()), Qt::AlignCenter);
    applyFontStyle(guidance_, FontStyle::title2, QFont::DemiBold);
    panelLayout->addWidget(guidance_);
    auto* insert =
        label(qtext(L("Inset your eID card into the card reader to sign digitally.")), Qt::AlignCenter);
    insert->setContentsMargins(0, 4, 0, 4);
    panelLayout->addWidget(insert);
    auto* box = new QWidget;
    auto* boxLayout = new QVBoxLayout(box);
    boxLayout->setContentsMargins(defaultPadding, 0, defaultPadding, 0);
    boxLayout->addWidget(roundedBorderStyle(panel, QPalette::Base));
    layout->addWidget(box);

    auto* help = label(qtext(L("More info about connecting your card reader and eID")), Qt::AlignCenter);
    QFont semibold = help->font();
    semibold.setWeight(QFont::DemiBold);
    help->setFont(semibold);
    helpLink_ = new LinkLabel(QString("<a href=\"%1\">%2</a>")
                                  .arg(QString(cardReaderHelpURL).toHtmlEscaped(),
                                       qtext(L("eID Card reader website")).toHtmlEscaped()));
    helpLink_->setAlignment(Qt::AlignCenter);
    auto* helpBlock = new QVBoxLayout;
    helpBlock->setSpacing(2);
    helpBlock->addWidget(help);
    helpBlock->addWidget(helpLink_);
    layout->addLayout(helpBlock);
    layout->addStretch(1);
    return content;
}

QWidget* CardSelectionView::makeCardList(const std::vector<std::shared_ptr<pindle::Card>>& cards) {
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 8, 0, 0);
    layout->setSpacing(8);
    auto* intro =
        label(qtext(L("You have multiple card readers connected, choose the personal ID card that you "
                      "want to log in.")),
              Qt::AlignLeft);
    applyFontStyle(intro, FontStyle::title3);
    layout->addWidget(intro);

    auto* list = new QWidget;
    auto* listLayout = new QVBoxLayout(list);
    listLayout->setContentsMargins(0, 0, 4, 0);
    listLayout->setSpacing(8);
    for (std::size_t index = 0; index < cards.size(); ++index) {
        auto* row = new CardView(cards[index], [this, index] { select(index); });
        cardViews_.push_back(row);
        auto* padded = new QVBoxLayout;
        padded->setContentsMargins(0, 0, 0, 10);
        padded->addWidget(row);
        listLayout->addLayout(padded);
    }
    listLayout->addStretch(1);
    auto* scroll = new QScrollArea;
    scroll->setWidget(list);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    // Tab reaches the controls inside, and the area follows them; a click beside them keeps the focus.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    scroll->viewport()->setAutoFillBackground(false);
    list->setAutoFillBackground(false);
    layout->addWidget(scroll, 1);
    return content;
}

void CardSelectionView::select(std::size_t index) {
    // Rows are identified by their position in the list on screen, which is the model's current list.
    const auto& state = model_->viewState();
    if (state.kind != CardSelectionViewState::Kind::availableCards || index >= state.cards.size())
        return;
    auto model = model_;
    model->select(state.cards[index]);
}
