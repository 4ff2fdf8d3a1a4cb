#include "AppSettingsView.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>

#include "AppVersionsView.h"
#include "FontStyle.h"
#include "StyledButton.h"
#include "Toggle.h"
#include "ViewModifiers.h"
#include "platform/qt/Localizable.h"

namespace {

QString text(const char* key) {
    return QString::fromStdString(L(key));
}

QLabel* label(const QString& content, FontStyle style = FontStyle::body) {
    auto* label = new QLabel(content);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    applyFontStyle(label, style);
    return label;
}

// A section: a header in the title-2 style and its elements, in the standard box.
QWidget* section(const char* headerKey, int spacing, std::initializer_list<QWidget*> elements,
                 QVBoxLayout** layoutOut = nullptr) {
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    layout->addWidget(label(text(headerKey), FontStyle::title2));
    for (auto* element : elements)
        layout->addWidget(element);
    if (layoutOut)
        *layoutOut = layout;
    return roundedBorderStyle(content, QPalette::Base);
}

}  // namespace

AppSettingsView::AppSettingsView(std::shared_ptr<AppSettingsViewModel> model, QWidget* parent)
    : QWidget(parent),
      model_(std::move(model)),
      scroll_(new QScrollArea),
      externalCertificateRetrieval_(new Toggle(text("Don't show the Quorvane app automatically when signing "
                                                    "from signing tools (e.g. Adobe Acrobat)."))),
      launchAgent_(
          new Toggle(text("Enable the Quorvane service, through which applications on this computer sign "
                          "with your remote signing certificate."))),
      launchAgentFailure_(label(text("The Quorvane service could not be enabled."))),
      picker_(new QComboBox),
      privacyMode_(
          new Toggle(text("Enable privacy mode: cached Civaro sessions and related signing certificates "
                          "will be removed after 15 minutes."))),
      done_(new StyledButton(text("Done"), StyledButton::Style::borderedProminent,
                             StyledButton::ControlSize::large)) {
    auto* content = new QWidget;
    auto* stack = new QVBoxLayout(content);
    stack->setContentsMargins(defaultPadding, defaultPadding, defaultPadding, defaultPadding);

    stack->addWidget(label(text("Settings"), FontStyle::title));
    stack->addSpacing(defaultPadding / 2);

    stack->addWidget(section("Signing tools integration", 20, {externalCertificateRetrieval_}));

    stack->addWidget(section("Quorvane service", 10, {launchAgent_, launchAgentFailure_}));

    auto* pickerRow = new QWidget;
    auto* pickerLayout = new QHBoxLayout(pickerRow);
    pickerLayout->setContentsMargins(0, 0, 0, 0);
    auto* pickerLabel = label(text("How do you want to authenticate?"));
    pickerLabel->setBuddy(picker_);
    pickerLayout->addWidget(pickerLabel, 1);
    pickerLayout->addWidget(picker_, 0);
    for (auto mode : allAuthenticationMethodSelectionModes)
        picker_->addItem(QString::fromStdString(title(mode)));
    picker_->setAccessibleName(pickerLabel->text());
    stack->addWidget(section("Authentication method", 10,
                             {label(text("Choose how the app should authenticate by default.")), pickerRow}));

    stack->addWidget(section("Privacy", 20, {privacyMode_}));

    stack->addWidget(section("About", 10, {label(text("Quorvane App"), FontStyle::title3)}, &about_));

    stack->addStretch(1);
    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(0, defaultPadding, 0, 0);
    bottom->addStretch(1);
    bottom->addWidget(done_);
    stack->addLayout(bottom);

    scroll_->setWidget(content);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll_);

    // Each change goes to the model, then the screen shows what the model holds (a switch of the service
    // that did not take springs back).
    externalCertificateRetrieval_->onToggled([this](bool value) {
        model_->setExternalCertificateRetrievalDisabled(value);
        render();
    });
    launchAgent_->onToggled([this](bool value) {
        model_->setLaunchAgentEnabled(value);
        render();
    });
    privacyMode_->onToggled([this](bool value) {
        model_->setPrivacyModeEnabled(value);
        render();
    });
    connect(picker_, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < static_cast<int>(allAuthenticationMethodSelectionModes.size()))
            model_->selectAuthenticationMethodSelectionMode(allAuthenticationMethodSelectionModes[index]);
        render();
    });
    connect(done_, &QPushButton::clicked, this, [model = model_] {
        if (auto close = model->closeRequested)
            close();
    });

    subscription_ = model_->subscribe([this] { render(); });
    render();
}

void AppSettingsView::render() {
    externalCertificateRetrieval_->setChecked(model_->externalCertificateRetrievalDisablingEnabled());
    launchAgent_->setChecked(model_->isLaunchAgentEnabled());
    launchAgentFailure_->setVisible(model_->launchAgentEnableFailed());
    privacyMode_->setChecked(model_->privacyModeEnabled());
    const auto& modes = allAuthenticationMethodSelectionModes;
    const auto selected = std::find(modes.begin(), modes.end(), model_->authenticationMethodSelectionMode());
    picker_->setCurrentIndex(static_cast<int>(selected - modes.begin()));

    const auto& state = model_->releaseInfoFetchState();
    if (aboutContent_ && state.isFetched == aboutShowsFetched_)
        return;
    aboutShowsFetched_ = state.isFetched;
    if (aboutContent_) {
        about_->removeWidget(aboutContent_);
        aboutContent_->hide();
        aboutContent_->deleteLater();
    }
    if (state.isFetched) {
        aboutContent_ =
            new AppVersionsView(std::make_shared<AppVersionsViewModel>(state.release, true, nullptr));
        about_->addWidget(aboutContent_);
    } else {
        auto* progress = new QProgressBar;
        progress->setRange(0, 0);
        progress->setTextVisible(false);
        progress->setFixedWidth(progress->fontMetrics().averageCharWidth() * 16);
        aboutContent_ = progress;
        about_->addWidget(aboutContent_, 0, Qt::AlignLeft);
    }
}
