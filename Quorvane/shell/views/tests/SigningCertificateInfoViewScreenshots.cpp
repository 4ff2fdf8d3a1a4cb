// Renders of the signing certificate card in a narrow column, where a long name and the texts must wrap, in
// the light and the dark palette.
#include <gtest/gtest.h>

#include "Quorvane/shell/views/SigningCertificateInfoView.h"
#include "Quorvane/testing/Screenshot.h"
#include "Quorvane/testing/ViewTestSupport.h"

namespace {

TEST(SigningCertificateCardScreens, NarrowWithALongName) {
    SigningCertificateInfo info;
    info.methodCreatedWith = halcyra::AuthenticationMethod::eid;
    info.fullName = "Marie-Thérèse Anne-Sophie Van den Broeck-d'Oultremont de Merode";
    info.nationalNumber = "71715100070";
    info.notValidBefore = platform::Date(std::chrono::seconds(1'765'000'000));
    info.notValidAfter = platform::Date(std::chrono::seconds(1'891'230'367));
    for (bool dark : {false, true}) {
        SigningCertificateInfoView card(info);
        if (dark)
            card.setPalette(testsupport::darkPalette());
        const int width = 320;
        EXPECT_TRUE(testsupport::saveScreenshot(
            card, dark ? "signing-certificate-card-narrow-dark" : "signing-certificate-card-narrow",
            QSize(width, card.heightForWidth(width))));
    }
}

}  // namespace
