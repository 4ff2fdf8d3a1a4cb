// The connection rules as plain functions: host checks, redirects, pins over a verified chain, client
// identity.
#include <gtest/gtest.h>

#include "http/SessionDelegate.h"
#include "platform/testing/TestPKI.h"

namespace {

using testsupport::ServerPKI;
using vastel::APIEnvironment;
using vastel::SessionDelegate;
using Chain = std::vector<platform::Bytes>;

const ServerPKI& pki() {
    return ServerPKI::shared();
}

QSslCertificate qt(const testsupport::Issued& issued) {
    auto der = issued.der();
    return QSslCertificate(QByteArray(reinterpret_cast<const char*>(der.data()), qsizetype(der.size())),
                           QSsl::Der);
}

TEST(SessionDelegate, TrustedHostIsTheBasePathsHostInLowerCase) {
    EXPECT_EQ(SessionDelegate(APIEnvironment("https://Server.Example:8443/srv")).trustedHost(),
              "server.example");
    EXPECT_EQ(SessionDelegate(APIEnvironment("not a url")).trustedHost(), "");
    EXPECT_EQ(SessionDelegate(APIEnvironment("")).trustedHost(), "");

    SessionDelegate delegate(APIEnvironment("https://server.example/srv"));
    EXPECT_TRUE(delegate.challengeHostMatches("server.example"));
    EXPECT_TRUE(delegate.challengeHostMatches("SERVER.example"));
    EXPECT_FALSE(delegate.challengeHostMatches("other.example"));
    EXPECT_FALSE(delegate.challengeHostMatches("server.example.evil"));
    EXPECT_FALSE(SessionDelegate(APIEnvironment("bad url")).challengeHostMatches(""));
}

TEST(SessionDelegate, FollowsRedirectsOnlyToHTTPSOnTheSameHost) {
    SessionDelegate delegate(APIEnvironment("https://localhost:4443/srv"));
    const std::pair<QUrl, bool> cases[] = {
        {QUrl("https://localhost:4443/next"), true},
        {QUrl("HTTPS://localhost:4443/next"), true},
        {QUrl("https://LocalHost/next"), true},
        {QUrl("http://localhost:4443/next"), false},
        {QUrl("https://127.0.0.1:4443/next"), false},
        {QUrl("https://localhost.evil:4443/next"), false},
        {QUrl("ftp://localhost/next"), false},
        {QUrl("https:///next"), false},
        {QUrl("/next"), false},
        {QUrl(), false},
    };
    for (const auto& [url, allowed] : cases)
        EXPECT_EQ(delegate.redirectAllowed(url), allowed) << url.toString().toStdString();
}

TEST(SessionDelegate, PinCheckNeedsAPinnedCertificateInTheChain) {
    const Chain chain{pki().leaf.der(), pki().intermediate.der(), pki().root.der()};
    auto pinned = [](Chain pins) {
        return SessionDelegate(APIEnvironment("https://localhost", std::move(pins)));
    };
    EXPECT_TRUE(pinned({}).pinCheckPasses(chain));
    EXPECT_TRUE(pinned({}).pinCheckPasses({}));
    EXPECT_TRUE(pinned({pki().leaf.der()}).pinCheckPasses(chain));
    EXPECT_TRUE(pinned({pki().intermediate.der()}).pinCheckPasses(chain));
    EXPECT_TRUE(pinned({pki().unrelatedRoot.der(), pki().root.der()}).pinCheckPasses(chain));
    EXPECT_FALSE(pinned({pki().unrelatedRoot.der()}).pinCheckPasses(chain));
    EXPECT_FALSE(pinned({pki().root.der()}).pinCheckPasses({}));
    // Same bytes, not a prefix.
    auto truncated = pki().leaf.der();
    truncated.pop_back();
    EXPECT_FALSE(pinned({truncated}).pinCheckPasses(chain));
}

TEST(SessionDelegate, VerifiesChainHostAndValidityBeforeAnyPinCounts) {
    const auto& p = pki();
    testsupport::CertificateRequest wrongHost;
    wrongHost.commonName = "wrong.example";
    wrongHost.dnsNames = {"wrong.example"};
    const auto wrongHostLeaf = testsupport::issue(wrongHost, p.intermediate);
    struct Case {
        const char* name;
        Chain presented;
        Chain anchors;
        std::string host;
        bool verifies;
    };
    const Case cases[] = {
        {"trusted chain", {p.leaf.der(), p.intermediate.der()}, {p.root.der()}, "localhost", true},
        {"trusted chain by IP address",
         {p.leaf.der(), p.intermediate.der()},
         {p.root.der()},
         "127.0.0.1",
         true},
        {"intermediate missing", {p.leaf.der()}, {p.root.der()}, "localhost", false},
        {"unknown CA", {p.unrelatedLeaf.der(), p.unrelatedRoot.der()}, {p.root.der()}, "localhost", false},
        {"wrong host name", {p.leaf.der(), p.intermediate.der()}, {p.root.der()}, "other.example", false},
        {"leaf for another host",
         {wrongHostLeaf.der(), p.intermediate.der()},
         {p.root.der()},
         "localhost",
         false},
        {"expired leaf", {p.expiredLeaf.der(), p.intermediate.der()}, {p.root.der()}, "localhost", false},
        {"foreign leaf beside the root",
         {p.unrelatedLeaf.der(), p.root.der()},
         {p.root.der()},
         "localhost",
         false},
        {"nothing presented", {}, {p.root.der()}, "localhost", false},
        {"not DER", {platform::toBytes("junk")}, {p.root.der()}, "localhost", false},
    };
    for (const auto& c : cases) {
        auto chain = vastel::verifiedChain(c.presented, c.anchors, c.host, /*useSystemStore=*/false);
        EXPECT_EQ(chain.has_value(), c.verifies) << c.name;
        if (chain) {
            EXPECT_EQ(*chain, (Chain{p.leaf.der(), p.intermediate.der(), p.root.der()})) << c.name;
        }
    }
}

TEST(SessionDelegate, AcceptsServerTrustForTheHostWithAPinnedCertificateOfTheVerifiedChain) {
    const auto& p = pki();
    const QList<QSslCertificate> trustedChain{qt(p.leaf), qt(p.intermediate)};
    const QList<QSslCertificate> anchors{qt(p.root)};
    struct Case {
        const char* name;
        Chain pins;
        QList<QSslCertificate> presented;
        std::string host;
        bool accepted;
    };
    const Case cases[] = {
        {"no pins", {}, trustedChain, "localhost", true},
        {"no pins, other host", {}, trustedChain, "127.0.0.1", false},
        {"pinned leaf", {p.leaf.der()}, trustedChain, "localhost", true},
        {"pinned intermediate", {p.intermediate.der()}, trustedChain, "localhost", true},
        {"pinned root, not presented", {p.root.der()}, trustedChain, "localhost", true},
        {"pin mismatch", {p.unrelatedRoot.der()}, trustedChain, "localhost", false},
        {"pinned root beside a foreign leaf",
         {p.root.der()},
         {qt(p.unrelatedLeaf), qt(p.root)},
         "localhost",
         false},
        {"pinned expired leaf",
         {p.expiredLeaf.der()},
         {qt(p.expiredLeaf), qt(p.intermediate)},
         "localhost",
         false},
        {"pinned anchor outside the store",
         {p.unrelatedRoot.der()},
         {qt(p.unrelatedLeaf)},
         "localhost",
         true},
    };
    for (const auto& c : cases) {
        SessionDelegate delegate(APIEnvironment("https://localhost:1/srv", c.pins));
        EXPECT_EQ(delegate.serverTrustAccepted(c.host, c.presented, anchors), c.accepted) << c.name;
    }
}

TEST(SessionDelegate, PresentsTheIdentityOfTheContainerOnly) {
    const auto& p = pki();
    auto withKey = vastel::PKCS12::make(testsupport::makePKCS12(p.client, {p.root}, "secret"), "secret");
    ASSERT_TRUE(withKey);
    ASSERT_TRUE(withKey->identity());
    SessionDelegate delegate(APIEnvironment("https://localhost", {}, withKey));
    EXPECT_TRUE(delegate.hasClientIdentity());
    auto configuration = delegate.sslConfiguration();
    EXPECT_EQ(configuration.localCertificate(), qt(p.client));
    EXPECT_FALSE(configuration.privateKey().isNull());
    EXPECT_EQ(configuration.peerVerifyMode(), QSslSocket::VerifyPeer);

    auto certificateOnly = vastel::PKCS12::make(
        testsupport::makePKCS12(p.client, {p.root}, "secret", /*withKey=*/false), "secret");
    ASSERT_TRUE(certificateOnly);
    EXPECT_FALSE(certificateOnly->identity());
    SessionDelegate withoutIdentity(APIEnvironment("https://localhost", {}, certificateOnly));
    EXPECT_FALSE(withoutIdentity.hasClientIdentity());
    EXPECT_TRUE(withoutIdentity.sslConfiguration().localCertificate().isNull());

    EXPECT_FALSE(vastel::PKCS12::make(testsupport::makePKCS12(p.client, {p.root}, "secret"), "wrong"));
}

TEST(SessionDelegate, PinsAreExtraAnchorsOnTopOfTheDefaultTrust) {
    const auto& p = pki();
    SessionDelegate unpinned(APIEnvironment("https://localhost"));
    EXPECT_EQ(unpinned.sslConfiguration().caCertificates(),
              QSslConfiguration::defaultConfiguration().caCertificates());

    SessionDelegate pinned(APIEnvironment("https://localhost", {p.unrelatedRoot.der()}));
    const auto anchors = pinned.sslConfiguration().caCertificates();
    EXPECT_TRUE(anchors.contains(qt(p.unrelatedRoot)));
    for (const auto& system : QSslConfiguration::systemCaCertificates())
        ASSERT_TRUE(anchors.contains(system));
    // Nothing leaks into the process's default.
    EXPECT_FALSE(QSslConfiguration::defaultConfiguration().caCertificates().contains(qt(p.unrelatedRoot)));
}

}  // namespace
