#include "AuthenticationMethodButtonView.h"

#include "AuthenticationMethodSelectionViewModel.h"
#include "platform/qt/Localizable.h"

using halcyra::AuthenticationMethod;

namespace {

bool isCard(AuthenticationMethod method) {
    return method == AuthenticationMethod::eid;
}

}  // namespace

AttributedText AuthenticationMethodButtonView::buttonText(AuthenticationMethod method, bool disabled) {
    AttributedText text = AttributedText::plain(QString::fromStdString(title(method)));
    if (disabled)
        text.runs.push_back({" (" + QString::fromStdString(L("Temporarily unavailable")) + ")",
                             ViewColor::asset("SystemRed"), false});
    return text;
}

AuthenticationMethodButtonView::AuthenticationMethodButtonView(AuthenticationMethod method, bool disabled,
                                                               QWidget* parent)
    : MenuButtonView(
          ViewImage::asset(isCard(method) ? "Pindle" : "CivaroLogo"), SymbolWeight::regular,
          ViewColor::role(QPalette::Text),
          isCard(method) ? ViewColor::asset("WalletButtonBackground") : ViewColor::role(QPalette::Base),
          buttonText(method, disabled),
          isCard(method) ? ViewColor::role(QPalette::Base) : ViewColor::asset("WalletButtonBackground"),
          parent),
      method(method) {
    setEnabled(!disabled);
}
