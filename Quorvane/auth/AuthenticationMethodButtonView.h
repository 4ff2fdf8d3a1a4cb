#pragma once
// The button of one authentication method: the card reader or the wallet's mark beside the method's title,
// and for a method the server disabled, a red "(Temporarily unavailable)" after it (the button is then
// disabled too).
#include "Quorvane/shell/views/MenuButtonView.h"
#include "api/Authentication.h"

class AuthenticationMethodButtonView : public MenuButtonView {
  public:
    AuthenticationMethodButtonView(halcyra::AuthenticationMethod method, bool disabled,
                                   QWidget* parent = nullptr);

    // The method's title, then " (", the localized "Temporarily unavailable" and ")" in red when disabled.
    static AttributedText buttonText(halcyra::AuthenticationMethod method, bool disabled);
    using MenuButtonView::buttonText;

    const halcyra::AuthenticationMethod method;
};
