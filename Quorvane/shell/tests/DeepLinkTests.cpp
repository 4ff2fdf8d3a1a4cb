// Deep links through the application delegate: what the window shows afterwards, which URLs are opened, what
// is logged, and what the signing plug-in (an observer process) hears.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QUrl>

#include "Quorvane/core/AppSettings.h"
#include "ShellTestSupport.h"
#include "platform/Codecs.h"

namespace {

using namespace shelltest;

const std::string callback = "https://example.org/done?job=7";

std::string base64(const std::string& text) {
    return platform::base64Encoded(platform::Bytes(text.begin(), text.end()));
}

// A valid request whose Base64 holds a "+" (and a "/"), which the link carries as it is: "+" must not turn
// into a space on the way.
std::string validRequest() {
    for (int pad = 0; pad < 3; ++pad) {
        const std::string json = R"({"version":"1","tokenId":"token-1","signData":[{"hash_base64":)"
                                 R"("n4bQgYhMfWWaL+qgxVrQFaO/TxsrC4Is0V1sFbDwCgg=","docName":")" +
                                 std::string(pad, ' ') + R"(>>>?.pdf"}]})";
        const std::string encoded = base64(json);
        if (encoded.find('+') != std::string::npos)
            return encoded;
    }
    ADD_FAILURE() << "no request with a '+' in its Base64";
    return {};
}

std::string encoded(const std::string& text) {
    return QUrl::toPercentEncoding(QString::fromStdString(text)).toStdString();
}

std::string bulkLink(const std::string& request, const std::string& callbackURL = callback) {
    return "quorvane://bulk?request=" + request + "&callback=" + encoded(callbackURL);
}

// The callback already has a query: the reply joins it.
const std::string busyReply = callback + "&error=Fordidden";
const std::string invalidLog = "Bulk signing request received with invalid URL: ";
const std::string undecodableLog = "Bulk signing request parameter cannot be decoded";
const std::string unreadableReply = callback + "&error=The%20signing%20request%20cannot%20be%20read.";
const std::string signXPC = "sign(overXPC(hash: none))";
const std::string signBulk = "sign(bulk(1 hashes, callback: " + callback + "))";

enum class Before { noWindow, menu, busy };

struct DeepLinkCase {
    std::string name;
    Before before;
    std::vector<std::string> urls;
    // The window's mode afterwards, "" when it is not on screen.
    std::string shownMode;
    Lines opened = {};
    Lines errors = {};
    // What the plug-in hears, as an observer process sees it.
    Lines heard = {};
    bool retrievalDisabled = false;
};

class DeepLinkTest : public ::testing::TestWithParam<DeepLinkCase> {};

TEST_P(DeepLinkTest, ActsOnTheFirstLink) {
    const auto& c = GetParam();
    NotificationWatch watch;
    DelegateRig rig;
    if (c.retrievalDisabled)
        AppSettings().setExternalCertificateRetrievalDisabled(true);
    if (c.before == Before::menu)
        rig.controller.show(AppOpenMode::menu());
    else if (c.before == Before::busy)
        rig.controller.show(AppOpenMode::accountInfo());
    rig.scheduler->runPending();
    rig.logs.clear();

    rig.delegate->openURLs(c.urls);
    rig.scheduler->runPending();

    const bool onScreen = rig.mainWindow() && rig.mainWindow()->isVisible();
    EXPECT_EQ(onScreen ? rig.controller.lastShownMode()->description() : "", c.shownMode);
    EXPECT_EQ(rig.workspace.openedURLs(), c.opened);
    Lines errors;
    for (const auto& line : rig.logs.lines()) {
        if (line.level == LogLevel::error)
            errors.push_back(line.message);
    }
    EXPECT_EQ(errors, c.errors);
    if (!c.urls.empty()) {
        EXPECT_THAT(rig.logs.messages(), ::testing::Contains("Received deeplink " + c.urls.front()));
    }
    EXPECT_EQ(watch.seen(), c.heard);
}

std::vector<DeepLinkCase> cases() {
    const std::string request = validRequest();
    const std::string notJSON = base64(R"({"version":"1"})");
    std::vector<DeepLinkCase> list{
        {"SignOpensTheSigningWindow", Before::noWindow, {"quorvane://sign"}, signXPC},
        {"SignReplacesTheMenu", Before::menu, {"quorvane://sign"}, signXPC},
        // The running flow is closed first, as a close by the user would: it answers its requester, and the
        // plug-in hears that retrieval is over.
        {"SignEndsABusyFlowFirst", Before::busy, {"quorvane://sign"}, signXPC, {}, {}, {retrieved}},
        {"BulkOpensTheSigningWindow", Before::noWindow, {bulkLink(request)}, signBulk},
        {"BulkReplacesTheMenu", Before::menu, {bulkLink(request)}, signBulk},
        {"BulkWhileBusyIsRefused", Before::busy, {bulkLink(request)}, "accountInfo", {busyReply}},
        // Refused without looking at the request at all.
        {"BulkWhileBusyIsRefusedUndecoded", Before::busy, {bulkLink(notJSON)}, "accountInfo", {busyReply}},
        // Base64 that is no request: the callback is a web address, so it hears why at once.
        {"BulkThatIsNotTheRequest",
         Before::noWindow,
         {bulkLink(notJSON)},
         "",
         {unreadableReply},
         {undecodableLog}},
        {"BulkThatIsNotJSON",
         Before::noWindow,
         {bulkLink(base64("hello"))},
         "",
         {unreadableReply},
         {undecodableLog}},
        {"BulkWithAWrongType",
         Before::menu,
         {bulkLink(base64(R"({"version":"1","tokenId":"t","signData":{}})"))},
         "menu",
         {unreadableReply},
         {undecodableLog}},
        {"BulkSchemeLettersAnyCase",
         Before::busy,
         {bulkLink(request, "HTTP://Example.org/cb")},
         "accountInfo",
         {"HTTP://Example.org/cb?error=Fordidden"}},
        {"FirstRequestItemCounts",
         Before::noWindow,
         {"quorvane://bulk?request=" + request + "&request=e30*&callback=" + encoded(callback)},
         signBulk},
        {"CertificateOpensRetrieval",
         Before::noWindow,
         {"quorvane://certificate"},
         "getCertificate(showResult: false)",
         {},
         {},
         {requested}},
        // The window left open closes without a word to the plug-in, which now waits for this request.
        {"CertificateClosesAnOpenWindowSilently",
         Before::menu,
         {"quorvane://certificate"},
         "getCertificate(showResult: false)",
         {},
         {},
         {requested}},
        {"CertificateWhileRetrievalIsDisabled",
         Before::noWindow,
         {"quorvane://certificate"},
         "",
         {},
         {},
         {requested, retrieved},
         true},
        {"CertificateWhileRetrievalIsDisabledOverAWindow",
         Before::menu,
         {"quorvane://certificate"},
         "",
         {},
         {},
         {requested, retrieved},
         true},
        {"OnlyTheFirstLinkCounts",
         Before::noWindow,
         {"quorvane://certificate", "quorvane://sign"},
         "",
         {},
         {},
         {requested, retrieved},
         true},
        {"NoLinks", Before::menu, {}, "menu"},
        {"OtherHost", Before::menu, {"quorvane://settings"}, "menu"},
        {"HostInOtherLetterCase", Before::noWindow, {"quorvane://SIGN"}, ""},
        {"PercentEncodedHost", Before::noWindow, {"quorvane://si%67n"}, ""},
        {"NoHost", Before::noWindow, {"quorvane://"}, ""},
        {"NoAuthority", Before::noWindow, {"quorvane:sign"}, ""},
    };
    // Bulk links that are not valid requests, and callbacks that are not web addresses: logged and dropped,
    // with no answer to any callback even while the window is busy.
    const std::vector<std::pair<std::string, std::string>> invalid{
        {"NoQuery", "quorvane://bulk"},
        {"NoRequest", "quorvane://bulk?callback=" + encoded(callback)},
        {"RequestWithoutValue", "quorvane://bulk?request&callback=" + encoded(callback)},
        {"EmptyRequest", "quorvane://bulk?request=&callback=" + encoded(callback)},
        {"RequestNotBase64", "quorvane://bulk?request=e30*&callback=" + encoded(callback)},
        {"RequestWithoutPadding", "quorvane://bulk?request=e30&callback=" + encoded(callback)},
        {"FirstRequestItemInvalid",
         "quorvane://bulk?request=e30*&request=" + request + "&callback=" + encoded(callback)},
        {"NoCallback", "quorvane://bulk?request=" + request},
        {"EmptyCallback", "quorvane://bulk?request=" + request + "&callback="},
        {"FileCallback", bulkLink(request, "file:///etc/passwd")},
        {"OwnSchemeCallback", bulkLink(request, "quorvane://sign")},
        {"ScriptCallback", bulkLink(request, "javascript:alert(1)")},
        {"CustomSchemeCallback", bulkLink(request, "someapp://signed")},
        {"FtpCallback", bulkLink(request, "ftp://example.org/x")},
        {"CallbackWithoutHost", bulkLink(request, "https:///done")},
        {"CallbackNotAURL", bulkLink(request, "https://exa mple.org/")},
    };
    for (const auto& [name, url] : invalid)
        list.push_back({"Invalid" + name, Before::busy, {url}, "accountInfo", {}, {invalidLog + url}});
    return list;
}

INSTANTIATE_TEST_SUITE_P(Links, DeepLinkTest, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return info.param.name; });

TEST(DeepLinkTest, BulkHandsTheDecodedRequestAndTheCallbackToTheSigningFlow) {
    DelegateRig rig;
    const std::string request = validRequest();
    rig.delegate->openURLs({bulkLink(request)});
    ASSERT_TRUE(rig.controller.lastShownMode());
    const auto& mode = std::get<AppOpenMode::Sign>(rig.controller.lastShownMode()->value);
    const auto& bulk = std::get<SigningRequestType::Bulk>(mode.request.value);
    EXPECT_EQ(bulk.callbackLink, callback);
    EXPECT_EQ(bulk.request.tokenId, "token-1");
    ASSERT_EQ(bulk.request.signData.size(), 1u);
    EXPECT_EQ(bulk.request.signData[0].hash, "n4bQgYhMfWWaL+qgxVrQFaO/TxsrC4Is0V1sFbDwCgg=");
}

TEST(DeepLinkTest, CertificateLinkClosesThenSignalsThenReopensInThatOrder) {
    NotificationWatch watch;
    DelegateRig rig;
    rig.controller.show(AppOpenMode::getCertificate(true));
    rig.scheduler->runPending();
    rig.events->list.clear();

    rig.delegate->openURLs({"quorvane://certificate"});
    // The close and the show are tasks: they run after the handler, the close first.
    EXPECT_EQ(rig.events->list, Lines{"requested"});
    EXPECT_TRUE(rig.delegate->appHasBeenOpenedFromStatusBarMenuOrDeeplink());
    rig.scheduler->runPending();
    EXPECT_THAT(rig.events->list,
                ::testing::ElementsAre("requested", "WillClose", "policy accessory",
                                       "closed getCertificate(showResult: true)",
                                       "content getCertificate(showResult: false)", "DidOpen",
                                       "policy regular", "activate ignoring others"));
    EXPECT_FALSE(rig.delegate->appHasBeenOpenedFromStatusBarMenuOrDeeplink());

    // Closing the retrieval by hand tells the plug-in that it is over.
    rig.closeByUser();
    EXPECT_EQ(watch.seen(), (Lines{requested, retrieved}));
}

}  // namespace
