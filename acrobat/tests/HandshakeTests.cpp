// The plug-in's entry, setup and handshake, loaded by the test host as the reader loads it: which hosts it
// accepts, the tables it asks for and in what order, and what a host without one of them gets.
#include <gtest/gtest.h>

#include <algorithm>

#include "acrobat/harness/AcrobatHost.h"
#include "acrobat/tests/AcrobatTestSupport.h"

namespace {

using namespace acrobathost;
using acrobattest::pluginPath;

// The tables the setup asks for, in order, at the versions it asks.
const std::vector<std::pair<std::string, HostVersion>> requiredTables = {
    {"AcroSupport", 0x80000}, {"Core", 0x50000},           {"Cos", 0x60000},
    {"PDModel", 0x60000},     {"PDFEditWrite", 0x60000},   {"PDFEditRead", 0x60000},
    {"PDSysFont", 0x40000},   {"PagePDEContent", 0x60000}, {"AcroView", 0x60000},
    {"PDSWrite", 0x60000},    {"PDSRead", 0x60000},        {"Macintosh", 0x20002},
    {"ASExtra", 0x60000},     {"PDMetadata", 0x60000},     {"AcroColorHFT", 0x60000},
};

std::vector<HostVersion> versionsAskedFor(const AcrobatHost& host, const std::string& name) {
    std::vector<HostVersion> versions;
    for (const auto& request : host.tableRequests())
        if (request.name == name)
            versions.push_back(request.version);
    return versions;
}

TEST(HandshakeTest, TheHandshakeVersionsDecideWhetherThePluginLoads) {
    struct Case {
        HostVersion offered;
        HostVersion setupRecord;
        HostVersion answered;
        Stage stage;
    };
    const std::vector<Case> cases = {
        {0x30000, 0x20000, 0x20000, Stage::loaded},
        {0x20000, 0x20000, 0x20000, Stage::loaded},
        // The plug-in answers an older host with the host's version, then its setup accepts only 2.0.
        {0x10000, 0x20000, 0x10000, Stage::setupRefused},
        {0x20000, 0x10000, 0x20000, Stage::setupRefused},
        {0x20000, 0x30000, 0x20000, Stage::setupRefused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(hexVersion(c.offered) + " with a setup record of " + hexVersion(c.setupRecord));
        HostOptions options;
        options.handshakeVersion = c.offered;
        options.setupRecordVersion = c.setupRecord;
        AcrobatHost host(options);
        EXPECT_EQ(host.load(pluginPath()), c.stage);
        EXPECT_EQ(host.pluginHandshakeVersion(), c.answered);
        EXPECT_EQ(host.retainedHandles(), 2);
        EXPECT_TRUE(host.alerts().empty());
    }
}

TEST(HandshakeTest, ThePluginAsksForItsTablesInOrderNamesItselfAndObservesTheEventBeforeSigning) {
    AcrobatHost host;
    ASSERT_EQ(host.load(pluginPath()), Stage::loaded);

    std::vector<TableRequest> expected = {{"AcroSupport", 0x60000, true}};
    for (const auto& [name, version] : requiredTables)
        expected.push_back({name, version, true});
    expected.push_back({"DigSigHFT", 1, true});
    EXPECT_EQ(host.tableRequests(), expected);

    EXPECT_EQ(host.extensionName(), "ADBE:QuorvanePlugin");
    EXPECT_EQ(host.handshakeCallbacks(), 4);
    ASSERT_EQ(host.registrations().size(), 1u);
    const auto registration = host.registrations()[0];
    EXPECT_EQ(registration.event, 2);
    EXPECT_NE(registration.observer, nullptr);
    EXPECT_EQ(registration.reserved1, nullptr);
    EXPECT_EQ(registration.reserved2, nullptr);
    EXPECT_TRUE(host.alerts().empty());
}

TEST(HandshakeTest, AHostWithoutARequiredTableCannotLoadThePluginAndTheSetupStopsThere) {
    for (std::size_t missing = 0; missing < requiredTables.size(); ++missing) {
        const std::string name = requiredTables[missing].first;
        SCOPED_TRACE(name);
        HostOptions options;
        options.tables.erase(name);
        AcrobatHost host(options);
        EXPECT_EQ(host.load(pluginPath()), Stage::setupRefused);
        const auto requests = host.tableRequests();
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(requests.back().name, name);
        // Nothing after the missing one was asked for.
        for (const auto& request : requests) {
            auto position = std::find_if(requiredTables.begin(), requiredTables.end(),
                                         [&](const auto& table) { return table.first == request.name; });
            EXPECT_LE(position - requiredTables.begin(), static_cast<std::ptrdiff_t>(missing))
                << request.name;
        }
        EXPECT_TRUE(host.registrations().empty());
        EXPECT_TRUE(host.alerts().empty());
    }
}

TEST(HandshakeTest, AHostWithoutTheDigitalSignatureTableIsToldSoAndDropsThePlugin) {
    HostOptions options;
    options.tables.erase("DigSigHFT");
    AcrobatHost host(options);
    EXPECT_EQ(host.load(pluginPath()), Stage::importRefused);
    EXPECT_EQ(host.alerts(), std::vector<std::string>{"Could not load DigSigHFT"});
    EXPECT_TRUE(host.registrations().empty());
}

TEST(HandshakeTest, ATableNotOfferedAtTheVersionAskedIsTriedAtTheFallbackVersionsDownToThatVersion) {
    HostOptions options;
    options.tables["Macintosh"] = 0x20001;  // older than the 0x20002 asked for
    AcrobatHost host(options);
    EXPECT_EQ(host.load(pluginPath()), Stage::setupRefused);
    EXPECT_EQ(versionsAskedFor(host, "Macintosh"),
              (std::vector<HostVersion>{0x20002, 0x50001, 0x50000, 0x40005, 0x40000, 0x20003, 0x20002}));
    EXPECT_TRUE(host.tableRequests().back() == (TableRequest{"Macintosh", 0x20002, false}));
}

TEST(HandshakeTest, AHostWhoseAcroSupportCannotTellVersionsCannotLoadThePlugin) {
    // Without the versions, only the fallback list is left, and none of its versions reaches 0x80000.
    HostOptions options;
    options.reportsVersions = false;
    AcrobatHost host(options);
    EXPECT_EQ(host.load(pluginPath()), Stage::setupRefused);
    EXPECT_EQ(host.tableRequests(), (std::vector<TableRequest>{{"AcroSupport", 0x60000, true}}));
}

}  // namespace
