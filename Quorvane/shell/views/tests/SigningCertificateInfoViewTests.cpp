// The signing certificate card: the texts it shows for a wallet and a card certificate, and the end of
// validity in the locale's short date and a time with seconds.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QLabel>
#include <QLocale>

#include "Quorvane/shell/views/SigningCertificateInfoView.h"

namespace {

using halcyra::AuthenticationMethod;

platform::Date localDate(int year, int month, int day, int hour, int minute, int second) {
    const QDateTime local(QDate(year, month, day), QTime(hour, minute, second));
    return platform::Date(std::chrono::milliseconds(local.toMSecsSinceEpoch()));
}

SigningCertificateInfo certificate(AuthenticationMethod method, platform::Date notValidAfter) {
    SigningCertificateInfo info;
    info.methodCreatedWith = method;
    info.fullName = "Marie-Thérèse Van den Broeck-d'Oultremont";
    info.nationalNumber = "85073003328";
    info.notValidBefore = notValidAfter - std::chrono::hours(24 * 365);
    info.notValidAfter = notValidAfter;
    return info;
}

class ScopedLocale {
  public:
    explicit ScopedLocale(const QLocale& locale) { QLocale::setDefault(locale); }
    ~ScopedLocale() { QLocale::setDefault(previous_); }

  private:
    QLocale previous_;
};

TEST(SigningCertificateInfoView, ShowsTheHolderTheEndOfValidityAndTheMethodOfTheAccount) {
    ScopedLocale english(QLocale(QLocale::English, QLocale::UnitedStates));
    struct Case {
        AuthenticationMethod method;
        const char* createdWith;
        const char* image;
    };
    for (const Case& c : {Case{AuthenticationMethod::wallet, "Created with Civaro", "CivaroLogo"},
                          Case{AuthenticationMethod::eid, "Created with eID", "Pindle"}}) {
        SCOPED_TRACE(c.createdWith);
        SigningCertificateInfoView card(certificate(c.method, localDate(2027, 3, 4, 15, 6, 7)));
        EXPECT_EQ(card.fullNameLabel()->text().toStdString(), "Marie-Thérèse Van den Broeck-d'Oultremont");
        EXPECT_EQ(card.nationalNumberLabel()->text().toStdString(), "National number: 85073003328");
        EXPECT_EQ(card.expiryLabel()->text().toStdString(), "Active - Expires on 3/4/27, 3:06:07 PM");
        EXPECT_EQ(card.createdWithLabel()->text().toStdString(), c.createdWith);
        EXPECT_EQ(card.createdWithText(), c.createdWith);
        EXPECT_EQ(SigningCertificateInfoView::methodImage(c.method), ViewImage::asset(c.image));
    }
}

TEST(SigningCertificateInfoView, TheEndOfValidityFollowsTheLocaleKeepsItsSecondsAndIsShownWhenPast) {
    struct Case {
        QLocale locale;
        platform::Date end;
        const char* text;
    };
    const Case cases[] = {
        {QLocale(QLocale::English, QLocale::UnitedStates), localDate(2027, 3, 4, 9, 5, 1),
         "Active - Expires on 3/4/27, 9:05:01 AM"},
        {QLocale(QLocale::German, QLocale::Germany), localDate(2027, 3, 4, 15, 6, 7),
         "Active - Expires on 04.03.27, 15:06:07"},
        // A time zone the locale writes in front of the time goes, with the blank after it.
        {QLocale(QLocale::Chinese, QLocale::China), localDate(2027, 3, 4, 15, 6, 7),
         "Active - Expires on 2027/3/4, 15:06:07"},
        {QLocale(QLocale::English, QLocale::UnitedStates), localDate(2020, 12, 31, 23, 59, 59),
         "Active - Expires on 12/31/20, 11:59:59 PM"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ScopedLocale locale(c.locale);
        SigningCertificateInfoView card(certificate(AuthenticationMethod::eid, c.end));
        EXPECT_EQ(card.expiryLabel()->text().toStdString(), c.text);
    }
}

}  // namespace
