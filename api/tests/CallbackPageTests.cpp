// The stand-in server's callback page for bulk links (the demo's): real requests to it after a wallet holder
// has signed through the live clients.
#include <gtest/gtest.h>
#include <httplib.h>

#include "ApiTestSupport.h"
#include "api/Clients.h"
#include "platform/Codecs.h"
#include "platform/qt/TlsTrust.h"
#include "sim/testing/SimServerProcess.h"

using namespace halcyra;
using namespace apitest;
using platform::json::Json;
using simtest::SimServerProcess;

namespace {

int count(const std::string& text, const std::string& part) {
    int n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

// A wallet holder with an account signs three document hashes: the server's signatures, in document order.
std::vector<std::string> signThreeHashes(const SimServerProcess& server,
                                         std::vector<platform::Bytes>& hashes) {
    auto logger = std::make_shared<LoggerClient>("page-tests");
    auto auth = HalcyraClientProvider::authenticateClient(server.basePath(), logger);
    auto onboarding = HalcyraClientProvider::onboardingClient(server.basePath(), logger);
    auto signing = HalcyraClientProvider::remoteSigningClient(server.basePath(), logger);
    auto confirm = [&](const std::string& pollSessionId) {
        EXPECT_EQ(
            server.control("/wallet", Json{{"pollSessionId", pollSessionId}, {"state", "AUTHENTICATED"}}),
            200);
    };
    auto session = must(auth->getAuthenticationMethods("CLIENTDATA000001", LevelOfAssurance::high)).sessionId;
    auto login =
        must(auth->getAuthenticationMethodData(AuthenticationMethod::wallet, session)).wallet.value();
    confirm(login.pollSessionId);
    must(auth->authenticate(AuthenticateRequest(session, AuthenticateRequest::Wallet{login.pollSessionId})));
    auto agreement = must(onboarding->confirmUserData({session, "en", "UserAgreement.pdf"}));
    confirm(agreement.wallet.value().pollSessionId);
    must(onboarding->signAgreement(SignAgreementRequest(
        agreement.onboardingSessionId, SignAgreementRequest::Wallet{agreement.wallet->pollSessionId})));

    GetDataToConsentRequest request{"CLIENTDATA000001", session, "2.16.840.1.101.3.4.2.1", {}};
    for (std::uint8_t i = 1; i <= 3; ++i) {
        hashes.push_back(platform::Bytes(32, i));
        request.hashesToSign.push_back(
            {"document " + std::to_string(i), platform::base64Encoded(hashes.back())});
    }
    auto consent = must(signing->getDataToConsent(request));
    confirm(consent.wallet.value().pollSessionId);
    return must(signing->consentAndSignHashes(ConsentAndSignHashesRequest(
                    consent.consentSessionId,
                    ConsentAndSignHashesRequest::Wallet{consent.wallet->pollSessionId})))
        .signatures;
}

std::string join(const std::vector<std::string>& pieces) {
    std::string out;
    for (const auto& piece : pieces)
        out += (out.empty() ? "" : ",") + piece;
    return out;
}

}  // namespace

TEST(CallbackPage, ShowsWhetherEachSignatureVerifiesOrTheError) {
    SimServerProcess server({"--callback-page-port", "0"});
    ASSERT_TRUE(platform::addTrustedCACertificates(server.caFile()));
    ASSERT_TRUE(server.callbackPage().starts_with("http://127.0.0.1:")) << server.callbackPage();
    std::vector<platform::Bytes> hashes;
    auto signatures = signThreeHashes(server, hashes);
    ASSERT_EQ(signatures.size(), 3u);

    auto swapped = signatures;
    std::swap(swapped[0], swapped[1]);
    struct Case {
        const char* name;
        std::string query;
        int verified, unverified, undecodable;
        std::string shows;
    };
    const Case cases[] = {
        {"the server's signatures", "?signatures=" + join(signatures), 3, 0, 0,
         "document hash " + platform::base64Encoded(hashes[2])},
        {"out of order", "?signatures=" + join(swapped), 1, 2, 0, "signed with the certificate of"},
        {"not Base64url", "?signatures=" + signatures[0] + ",%2B%2B%2F,x", 1, 0, 2, "not Base64url: ++/"},
        {"no signature", "?signatures=", 0, 0, 0, "The callback holds no signature."},
        // The app appends to a callback that has a query of its own.
        {"after a query", "?order=7&signatures=" + join(signatures), 3, 0, 0, "<h1>Signing result</h1>"},
        {"an error", "?error=" + httplib::detail::encode_query_param("Cancelled <now>"), 0, 0, 0,
         "The signing failed: Cancelled &lt;now&gt;"},
        {"nothing", "", 0, 0, 0, "This link holds neither signatures nor an error."},
    };
    httplib::Client client(server.callbackPage().substr(0, server.callbackPage().rfind('/')));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto reply = client.Get(("/signed" + c.query).c_str());
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 200);
        EXPECT_EQ(reply->get_header_value("Content-Type"), "text/html; charset=utf-8");
        EXPECT_EQ(count(reply->body, "class=\"verified\""), c.verified) << reply->body;
        EXPECT_EQ(count(reply->body, "class=\"unverified\""), c.unverified) << reply->body;
        EXPECT_EQ(count(reply->body, "class=\"undecodable\""), c.undecodable) << reply->body;
        EXPECT_NE(reply->body.find(c.shows), std::string::npos) << reply->body;
    }
}

TEST(CallbackPage, OnlyWithItsFlagAndEndsWithTheServer) {
    {
        SimServerProcess server;
        EXPECT_TRUE(server.callbackPage().empty());
    }
    SimServerProcess server({"--callback-page-port", "0"});
    httplib::Client client(server.callbackPage().substr(0, server.callbackPage().rfind('/')));
    ASSERT_TRUE(client.Get("/signed"));
    EXPECT_EQ(server.stop(), 0);
    EXPECT_FALSE(client.Get("/signed"));
}
