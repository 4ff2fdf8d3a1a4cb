#include "Quorvane/shell/tests/endtoend/LiveRig.h"

namespace endtoend {

std::string LiveRig::describeTarget() const {
    auto current = model();
    if (!current)
        return "no navigation";
    const auto& target = current->navigationTarget();
    if (const auto* info = target.as<AppNavigationTarget::Info>())
        return "info " + info->message.substr(0, info->message.find('\n'));
    if (target.is<AppNavigationTarget::AccountCreation>())
        return "accountCreation";
    if (const auto* info = target.as<AppNavigationTarget::AccountInfo>())
        return "accountInfo " + info->session.firstName.value_or("-");
    if (target.is<AppNavigationTarget::CertificateRetrieval>())
        return "certificateRetrieval";
    if (target.is<AppNavigationTarget::CardSelection>())
        return "cardSelection";
    return "other";
}

bool clickSheetButton(LiveRig& rig, const std::string& title) {
    if (!rig.sheet())
        return false;
    for (auto* button : rig.sheet()->findChildren<QAbstractButton*>())
        if (button->isVisible() && button->isEnabled() && button->text().toStdString() == title) {
            QTest::mouseClick(button, Qt::LeftButton);
            return true;
        }
    return false;
}

}  // namespace endtoend
