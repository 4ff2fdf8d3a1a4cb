// The card-holder panel: where each value comes from, for card and wallet contexts, against the real
// session store on a virtual clock.
#include <gtest/gtest.h>

#include <QLabel>

#include "Quorvane/core/SampleCards.h"
#include "Quorvane/shell/views/BaseCardInformationView.h"
#include "Quorvane/testing/ViewsTestSupport.h"

namespace {

using Holder = std::optional<std::vector<std::string>>;

TEST(BaseCardInformationViewTest, SessionValuesFirstThenTheCardThenAQuestionMark) {
    const auto card = SampleCards::cardB();  // Jonas Claessens, 84122800153
    const auto cardContext = SigningSessionContext::card("session", card);
    const auto walletContext = SigningSessionContext::wallet("session", "polling");
    struct Case {
        const char* label;
        SigningSessionContext context;
        std::optional<std::chrono::seconds> lifetime;  // none: no session
        Holder holder;
        const char* fullName;
        const char* nationalNumber;
    };
    const Case cases[] = {
        {"card, session with blanks around the names", cardContext, std::chrono::hours(1),
         std::vector<std::string>{"  Amélie \n", "\tVan den Broeck ", "90.02.01-997.04"},
         "Amélie Van den Broeck", "90.02.01-997.04"},
        {"card, session without holder yet", cardContext, std::chrono::hours(1), std::nullopt,
         "Jonas Claessens", "84122800153"},
        {"card, no session", cardContext, std::nullopt, std::nullopt, "Jonas Claessens", "84122800153"},
        {"card, session within the 900 s margin", cardContext, std::chrono::seconds(899),
         std::vector<std::string>{"Amélie", "Lefèvre", "90.02.01-997.04"}, "Jonas Claessens", "84122800153"},
        {"wallet, session with holder", walletContext, std::chrono::hours(1),
         std::vector<std::string>{"Marie", "Dubois", "99999999910"}, "Marie Dubois", "99999999910"},
        {"wallet, no session", walletContext, std::nullopt, std::nullopt, "?", "?"},
        {"wallet, session without holder", walletContext, std::chrono::hours(1), std::nullopt, "?", "?"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        testsupport::SessionStoreRig sessions;
        if (c.lifetime)
            sessions.addSession(c.context, *c.lifetime, c.holder);
        BaseCardInformationView view(c.context, nullptr, sessions.store);
        view.show();
        EXPECT_EQ(view.fullNameLabel()->text().toStdString(), c.fullName);
        EXPECT_EQ(view.nationalNumberLabel()->text().toStdString(), c.nationalNumber);
    }
}

TEST(BaseCardInformationViewTest, LooksTheSessionUpAgainAtEachShowingNotAtEachRepaint) {
    testsupport::SessionStoreRig sessions;
    const auto context = SigningSessionContext::card("session", SampleCards::cardB());
    sessions.addSession(context, std::chrono::seconds(1000),
                        std::vector<std::string>{"Amélie", "Lefèvre", "1"});
    auto* content = new QLabel("below");
    BaseCardInformationView view(context, content, sessions.store);
    view.show();
    EXPECT_EQ(view.fullNameLabel()->text(), "Amélie Lefèvre");
    EXPECT_TRUE(content->isVisible());

    // The session comes within the margin: the panel keeps what it showed until it is shown again.
    sessions.scheduler->advance(std::chrono::seconds(200));
    view.repaint();
    EXPECT_EQ(view.fullNameLabel()->text(), "Amélie Lefèvre");
    EXPECT_EQ(sessions.store->authenticatedSessions().size(), 1u) << "a repaint looked the session up";
    view.hide();
    view.show();
    EXPECT_EQ(view.fullNameLabel()->text(), "Jonas Claessens");
    EXPECT_TRUE(sessions.store->authenticatedSessions().empty()) << "the lookup dropped the expiring session";
}

}  // namespace
