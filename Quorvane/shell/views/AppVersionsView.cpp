#include "AppVersionsView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "FontStyle.h"
#include "Sheet.h"
#include "StyledButton.h"
#include "ViewModifiers.h"
#include "platform/qt/Localizable.h"

namespace {

QLabel* text(const std::string& content, FontStyle style) {
    auto* label = new QLabel(QString::fromStdString(content));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    applyFontStyle(label, style);
    return label;
}

}  // namespace

AppVersionsView::AppVersionsView(std::shared_ptr<AppVersionsViewModel> model, QWidget* parent)
    : QWidget(parent), model_(std::move(model)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    addContent(layout);
    // Room left over by the host goes below the dialog.
    layout->addStretch(1);
}

Sheet* AppVersionsView::makeSheet(QWidget* owner) {
    const bool forced = model_->release && updateKind(*model_->release) == AppUpdateKind::forced;
    std::function<void()> cancel;
    if (!forced)
        cancel = [model = model_] { model->cancel(); };
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(defaultPadding, defaultPadding, defaultPadding, defaultPadding);
    layout->addWidget(this);
    return new Sheet(content, owner, std::move(cancel));
}

void AppVersionsView::addContent(QVBoxLayout* layout) {
    const Qt::Alignment alignment = model_->inline_ ? Qt::AlignLeft : Qt::AlignHCenter;
    // Texts take the whole width, so that they wrap, and are aligned within it.
    auto add = [&](QLabel* label) {
        label->setAlignment(alignment);
        layout->addWidget(label);
    };
    const std::string appVersion = AppVersions::currentAppVersion();
    add(text(L("Current version: %@", appVersion), FontStyle::body));

    if (!model_->release) {
        add(text(L("No update information found."), FontStyle::title2));
        return;
    }
    const Release& release = *model_->release;
    const AppUpdateKind kind = updateKind(release);
    switch (kind) {
        case AppUpdateKind::upToDate:
            add(text(L("You are up to date."), FontStyle::title2));
            return;
        case AppUpdateKind::updateAvailable:
            add(text(L("Version %@ is available.", release.version), FontStyle::body));
            break;
        case AppUpdateKind::suggested:
            add(text(L("Version %@ is available with important updates.", release.version),
                     FontStyle::title2));
            break;
        case AppUpdateKind::forced:
            add(text(L("Version %@ is no longer supported", appVersion), FontStyle::title2));
            add(text(L("Please install version %@ to continue using QuorvaneApp.", release.version),
                     FontStyle::body));
            break;
    }

    downloadButton_ =
        new StyledButton(QString::fromStdString(L("Download Update")), StyledButton::Style::borderedProminent,
                         StyledButton::ControlSize::large);
    layout->addSpacing(5);
    layout->addWidget(downloadButton_, 0, alignment);
    connect(downloadButton_, &QPushButton::clicked, this, [this] { model_->downloadUpdate(); });

    if (kind == AppUpdateKind::forced || !model_->cancelRequested)
        return;
    remindButton_ =
        new StyledButton(QString::fromStdString(L("Remind me in 30 days")), StyledButton::Style::bordered);
    cancelButton_ = new StyledButton(QString::fromStdString(L("Cancel")), StyledButton::Style::bordered);
    auto* actions = new QHBoxLayout;
    actions->addWidget(remindButton_);
    actions->addStretch(1);
    actions->addWidget(cancelButton_);
    layout->addLayout(actions);
    // Both may close the sheet and with it this view: the model is held by the handler while it runs.
    connect(remindButton_, &QPushButton::clicked, this, [model = model_] { model->remindInThirtyDays(); });
    connect(cancelButton_, &QPushButton::clicked, this, [model = model_] { model->cancel(); });
}
