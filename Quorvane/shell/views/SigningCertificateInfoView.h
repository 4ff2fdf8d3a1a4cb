#pragma once
// The card of one remote signing certificate: a green badge, the holder's name and national number, that it
// is active until its end of validity, and with which method the account was created. It shows the value it
// is given and nothing else; an end date in the past still reads "Active" (expired certificates are removed
// before a screen shows one).
#include <QWidget>
#include <string>

#include "Assets.h"
#include "Quorvane/core/SigningCertificateInfo.h"

class QLabel;

class SigningCertificateInfoView : public QWidget {
  public:
    explicit SigningCertificateInfoView(SigningCertificateInfo info, QWidget* parent = nullptr);

    const SigningCertificateInfo& info() const { return info_; }
    // "Created with Civaro" or "Created with eID", translated.
    std::string createdWithText() const;
    // The wallet's logo or the card reader.
    static ViewImage methodImage(halcyra::AuthenticationMethod method);

    QLabel* fullNameLabel() const { return fullName_; }
    QLabel* nationalNumberLabel() const { return nationalNumber_; }
    QLabel* expiryLabel() const { return expiry_; }
    QLabel* createdWithLabel() const { return createdWith_; }

  private:
    SigningCertificateInfo info_;
    QLabel* fullName_;
    QLabel* nationalNumber_;
    QLabel* expiry_;
    QLabel* createdWith_;
};

// The date as the current locale writes a short date and a time with seconds, in the local time zone
// ("3/4/27, 3:06:07 PM" in American English).
std::string shortDateMediumTimeText(platform::Date date);
