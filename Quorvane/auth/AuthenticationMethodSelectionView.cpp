#include "AuthenticationMethodSelectionView.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QShowEvent>
#include <QVBoxLayout>

#include "AuthenticationMethodButtonView.h"
#include "Quorvane/core/HalcyraEnvironment.h"
#include "Quorvane/shell/views/AppSettingsView.h"
#include "Quorvane/shell/views/AppVersionsView.h"
#include "Quorvane/shell/views/FontStyle.h"
#include "Quorvane/shell/views/ImageView.h"
#include "Quorvane/shell/views/InfoView.h"
#include "Quorvane/shell/views/LinkLabel.h"
#include "Quorvane/shell/views/Sheet.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "Quorvane/shell/views/ViewModifiers.h"
#include "platform/qt/Localizable.h"

namespace {

QString qtext(const std::string& text) {
    return QString::fromStdString(text);
}

QLabel* label(const QString& text, FontStyle style, QFont::Weight weight = QFont::Normal) {
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    applyFontStyle(label, style, weight);
    return label;
}

// A row of the introduction: a check mark beside a text made of runs.
QWidget* checkRow(const AttributedText& text, const QPalette& palette) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new ImageView(ViewImage::symbol("checkmark.circle.fill"), QSize(16, 16), {}), 0,
                      Qt::AlignVCenter);
    auto* content = new QLabel(text.html(palette));
    content->setTextFormat(Qt::RichText);
    content->setWordWrap(true);
    applyFontStyle(content, FontStyle::title3);
    layout->addWidget(content, 1);
    return row;
}

QWidget* padded(QWidget* content, int left, int top, int right, int bottom) {
    auto* host = new QWidget;
    auto* layout = new QVBoxLayout(host);
    layout->setContentsMargins(left, top, right, bottom);
    layout->addWidget(content);
    return host;
}

std::string pageURL(const char* path) {
    return "https://" + std::string(builtInHost(HalcyraEnvironment::prod)) + path;
}

}  // namespace

std::string AuthenticationMethodSelectionView::termsURL() {
    return pageURL("/docs/UserConditions");
}

std::string AuthenticationMethodSelectionView::privacyURL() {
    return pageURL("/docs/PrivacyStatement");
}

QString AuthenticationMethodSelectionView::termsText(const QPalette& palette) {
    return LinkLabel::linkedText(
        qtext(L("If you authenticate, you agree with our terms and conditions and privacy statement for "
                "authentication.")),
        {{qtext(L("terms and conditions")), termsURL()}, {qtext(L("privacy statement")), privacyURL()}},
        palette);
}

AuthenticationMethodSelectionView::AuthenticationMethodSelectionView(
    std::shared_ptr<AuthenticationMethodSelectionViewModel> model, QWidget* parent)
    : QWidget(parent),
      model_(std::move(model)),
      stateArea_(new QVBoxLayout),
      settings_(new StyledButton(qtext(L("Settings")), StyledButton::Style::borderedProminent,
                                 StyledButton::ControlSize::large)),
      done_(new StyledButton(qtext(model_->doneButtonText.value_or(L("Done"))),
                             StyledButton::Style::borderedProminent, StyledButton::ControlSize::large)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(defaultPadding, defaultPadding, defaultPadding, defaultPadding);
    layout->setSpacing(10);
    stateArea_->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(stateArea_, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(settings_);
    bottom->addStretch(1);
    bottom->addWidget(done_);
    layout->addLayout(bottom);
    // Neither is the default button: Return acts on the control that has the focus.
    settings_->setDefault(false);
    done_->setDefault(false);

    connect(settings_, &QPushButton::clicked, this,
            [this] { model_->setCurrentModalState(AuthenticationMethodSelectionModalState::settings()); });
    connect(done_, &QPushButton::clicked, this, [this] { model_->done(); });

    render();
    subscription_ = model_->subscribe([this] { render(); });
}

void AuthenticationMethodSelectionView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // A window coming back from the desktop's hiding is no new showing of the screen.
    if (event->spontaneous())
        return;
    setFocusAsync(done_);
    platform::Scheduler::live()->post([model = model_] { model->onAppear(); });
}

void AuthenticationMethodSelectionView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && terms_)
        terms_->setText(termsText(palette()));
}

void AuthenticationMethodSelectionView::render() {
    const auto& state = model_->viewState();
    if (shownState_ != state) {
        shownState_ = state;
        if (state_) {
            // Out of sight at once; deleted once the event that replaced it is over.
            state_->hide();
            stateArea_->removeWidget(state_);
            state_->deleteLater();
        }
        methodButtons_.clear();
        title_ = nullptr;
        terms_ = nullptr;
        if (state.kind == AuthenticationMethodSelectionViewState::Kind::loading)
            state_ = new InfoView(std::make_shared<InfoViewModel>(state.message, true, nullptr, true));
        else
            state_ = makeSelection();
        stateArea_->addWidget(state_);
        // The screen's own controls first, then the row below them.
        QWidget* previous = nullptr;
        for (QWidget* next : std::initializer_list<QWidget*>{
                 methodButtons_.empty() ? nullptr : methodButtons_.front(), terms_, settings_, done_}) {
            if (!next)
                continue;
            if (previous)
                setTabOrder(previous, next);
            previous = next;
        }
        for (std::size_t i = 1; i < methodButtons_.size(); ++i)
            setTabOrder(methodButtons_[i - 1], methodButtons_[i]);
        if (!methodButtons_.empty() && terms_)
            setTabOrder(methodButtons_.back(), terms_);
    }
    renderSheet();
}

QWidget* AuthenticationMethodSelectionView::makeSelection() {
    const auto& state = model_->viewState();
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    title_ = label(qtext(model_->titleText), FontStyle::title, QFont::DemiBold);
    layout->addWidget(title_);

    auto* introduction = new QWidget;
    auto* intro = new QVBoxLayout(introduction);
    intro->setContentsMargins(0, 0, 0, 0);
    intro->setSpacing(10);
    intro->addWidget(label(qtext(L("Sign your documents with a Arvenia-backed proof of legal validity.")),
                           FontStyle::title2, QFont::DemiBold));
    intro->addWidget(
        label(qtext(L("The Quorvane app is the official platform for secure, legally binding digital "
                      "signatures, backed by the Arvenian government.")),
              FontStyle::title3));
    intro->addWidget(label(qtext(L("How to use the Quorvane app")), FontStyle::title2, QFont::DemiBold));
    const QString doneText = qtext(model_->doneButtonText.value_or(L("Done")));
    intro->addWidget(checkRow(
        AttributedText::plain(
            qtext(L("Use your Civaro or eID card to authenticate and receive a remote signing certificate"))),
        palette()));
    intro->addWidget(checkRow(
        {{{qtext(L("Use the ")), std::nullopt, false},
          {doneText, std::nullopt, true},
          {qtext(
               L(" button in the bottom right to ignore this step and use an existing signing certificate")),
           std::nullopt, false}}},
        palette()));
    intro->addWidget(
        checkRow({{{qtext(L("Use the ")), std::nullopt, false},
                   {qtext(L("Settings")), std::nullopt, true},
                   {qtext(L(" button in the bottom left if you never want to see that screen again "
                            "when using your signing tool of choice")),
                    std::nullopt, false}}},
                 palette()));
    layout->addWidget(padded(introduction, defaultPadding, 0, defaultPadding, defaultPadding));

    auto* buttons = new QWidget;
    auto* buttonsLayout = new QVBoxLayout(buttons);
    buttonsLayout->setContentsMargins(defaultPadding, 0, defaultPadding, 0);
    buttonsLayout->setSpacing(10);
    for (const auto& entry : state.methods) {
        auto* button = new AuthenticationMethodButtonView(entry.method, entry.disabled);
        methodButtons_.push_back(button);
        buttonsLayout->addWidget(button);
        connect(button, &QAbstractButton::clicked, this, [model = model_, method = entry.method] {
            // The choice replaces this screen: the handler holds the model while it runs.
            model->selectMethod(method);
        });
    }
    layout->addWidget(buttons);

    terms_ = new LinkLabel(termsText(palette()));
    layout->addWidget(padded(terms_, defaultPadding, 0, defaultPadding, 0));
    layout->addStretch(1);

    auto* scroll = new QScrollArea;
    scroll->setWidget(content);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    // Tab reaches the controls inside, and the area follows them; a click beside them keeps the focus.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    return scroll;
}

void AuthenticationMethodSelectionView::renderSheet() {
    const auto& state = model_->currentModalState();
    if (shownModalState_ == state && (sheet_ || !state))
        return;
    shownModalState_ = state;
    if (sheet_) {
        sheet_->hide();
        sheet_->deleteLater();
        sheet_ = nullptr;
    }
    if (!state)
        return;
    // The sheets' actions reach the model weakly: they do nothing once it is gone.
    std::weak_ptr<AuthenticationMethodSelectionViewModel> weak = model_;
    if (state->kind == AuthenticationMethodSelectionModalState::Kind::settings) {
        auto close = [weak] {
            if (auto model = weak.lock())
                model->setCurrentModalState(std::nullopt);
        };
        auto* settings = new AppSettingsView(AppSettingsViewModel::make(close));
        sheet_ = new Sheet(settings, this, close);
        sheet_->resize(600, 500);
    } else {
        auto* update =
            new AppVersionsView(std::make_shared<AppVersionsViewModel>(state->release, false, [weak] {
                if (auto model = weak.lock())
                    model->continueAfterUpdateDialog();
            }));
        sheet_ = update->makeSheet(this);
        sheet_->setMinimumWidth(420);
    }
    sheet_->open();
}
