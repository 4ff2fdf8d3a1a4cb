#include "SharedApplicationQt.h"

#include <QApplication>
#include <QGridLayout>
#include <QIcon>
#include <QMessageBox>
#include <QWidget>

#include "platform/BundleInfo.h"
#include "platform/qt/Localizable.h"

void SharedApplicationQt::setActivationPolicy(MainWindowController::ActivationPolicy policy) {
    // The main window is the app's only entry in the taskbar, and it is hidden whenever the policy is
    // accessory: there is nothing else to switch.
    policy_ = policy;
}

void SharedApplicationQt::activate(bool) {
    const bool wasActive = QGuiApplication::applicationState() == Qt::ApplicationActive;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && !(widget->windowFlags() & Qt::Popup)) {
            widget->raise();
            widget->activateWindow();
        }
    }
    if (!wasActive && didBecomeActive)
        didBecomeActive();
}

void SharedApplicationQt::orderFrontStandardAboutPanel() {
    if (!aboutPanel_) {
        auto* panel = new QMessageBox;
        panel->setAttribute(Qt::WA_DeleteOnClose);
        panel->setModal(false);
        panel->setWindowTitle(QString::fromStdString(L("About Quorvane")));
        panel->setIconPixmap(QIcon(":/images/AppIcon.svg").pixmap(64, 64));
        panel->setText("<b>Quorvane</b>");
        panel->setInformativeText(QString::fromStdString(
            L("Version %@ (%@)",
              platform::BundleInfo::mainInfoValue(platform::BundleInfo::shortVersionKey).value_or("?"),
              platform::BundleInfo::mainInfoValue(platform::BundleInfo::versionKey).value_or("?"))));
        panel->setStandardButtons(QMessageBox::Ok);
        // A message box is only as wide as its text, and a window manager elides a title that does not fit
        // beside its frame's buttons ("About …orvane"): leave room for both.
        if (auto* grid = qobject_cast<QGridLayout*>(panel->layout())) {
            const QFontMetrics metrics(panel->font());
            const int width = metrics.horizontalAdvance(panel->windowTitle()) * 3 / 2 +
                              aboutPanelFrameButtons * 2 * metrics.height();
            grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                          grid->rowCount(), 0, 1, grid->columnCount());
        }
        aboutPanel_ = panel;
    }
    aboutPanel_->show();
    aboutPanel_->raise();
    aboutPanel_->activateWindow();
}

void SharedApplicationQt::terminate() {
    if (terminating_)
        return;
    terminating_ = true;
    if (willTerminate)
        willTerminate();
    QCoreApplication::exit(0);
}
