// The certificate request hook in the test build of the plug-in, whose waits are a twentieth of the real ones
// (10 s is 0.5 s, 300 s is 15 s), against a stand-in app that the plug-in's link starts and that posts the
// two notifications at given times. Times below are in the plug-in's seconds.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "acrobat/harness/AcrobatHost.h"
#include "acrobat/tests/AcrobatTestSupport.h"
#include "platform/testing/Eventually.h"

namespace {

using namespace acrobathost;
using namespace acrobattest;
using namespace std::chrono_literals;

[[maybe_unused]] auto* const bus = ::testing::AddGlobalTestEnvironment(new TestBus);

constexpr double timeScale = 0.05;

int realMilliseconds(double pluginSeconds) {
    return static_cast<int>(pluginSeconds * timeScale * 1000);
}
double pluginSeconds(std::chrono::steady_clock::duration elapsed) {
    return std::chrono::duration<double>(elapsed).count() / timeScale;
}

std::vector<std::string> lines(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// The scaled plug-in loaded into the test host, its link opened by the stand-in app.
struct HookRig {
    HookRig() { EXPECT_EQ(host.load(scaledPluginPath()), Stage::loaded); }
    // Every stand-in app has posted all it was to post: nothing reaches the next test late.
    ~HookRig() {
        auto finished = record;
        finished += ".finished";
        EXPECT_TRUE(
            testsupport::eventually([&] { return lines(finished).size() == lines(record).size(); }, 30s));
    }
    // The app answers each link with the notifications at their times (plug-in seconds).
    void appAnswers(const std::vector<std::pair<std::string, double>>& posts) {
        std::vector<std::pair<std::string, int>> at;
        for (const auto& [name, seconds] : posts)
            at.emplace_back(name, realMilliseconds(seconds));
        opener.set(fakeApp(record, at));
    }

    std::filesystem::path record = testsupport::makeTempDir("app") / "links";
    Opener opener{fakeApp(record, {})};
    AcrobatHost host;
};

TEST(CertificateHookTest, ThePluginWaitsForTheAppsTwoAnswersWithinTheirWindowsOrAlerts) {
    struct Case {
        std::string name;
        std::vector<std::pair<std::string, double>> posts;  // at plug-in seconds after the link
        bool alert;
        double atLeast;  // plug-in seconds the reader was held
        double below;
    };
    const std::vector<Case> cases = {
        {"requested, then retrieved in time", {{requested, 1}, {retrieved, 60}}, false, 60, 300},
        {"retrieved before requested, both within 10 s", {{retrieved, 1}, {requested, 3}}, false, 3, 300},
        {"only requested: the 300 s window", {{requested, 1}}, true, 301, 1000},
        {"nothing: the 10 s window, and no second wait", {}, true, 10, 100},
        {"requested after the 10 s window", {{requested, 30}, {retrieved, 40}}, true, 10, 100},
        {"retrieved after the 300 s window", {{requested, 1}, {retrieved, 320}}, true, 301, 1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HookRig rig;
        rig.appAnswers(c.posts);
        const Firing firing = rig.host.fire();
        EXPECT_EQ(firing.observersCalled, 1);
        EXPECT_EQ(firing.alerts,
                  c.alert ? std::vector<std::string>{noReplyAlert} : std::vector<std::string>{});
        EXPECT_GE(pluginSeconds(firing.elapsed), c.atLeast);
        EXPECT_LT(pluginSeconds(firing.elapsed), c.below);
        EXPECT_EQ(lines(rig.record), std::vector<std::string>{"quorvane://certificate"});
        // The observers are gone once the reader has its thread back.
        EXPECT_FALSE(observing());
    }
}

TEST(CertificateHookTest, EachCallStartsWithNeitherAnswer) {
    HookRig rig;
    rig.appAnswers({{requested, 1}, {retrieved, 2}});
    EXPECT_TRUE(rig.host.fire().alerts.empty());
    // The app answers nothing more: what it answered to the first call does not count for the second.
    rig.opener.set(fakeApp(rig.record, {}));
    EXPECT_EQ(rig.host.fire().alerts, std::vector<std::string>{noReplyAlert});
    EXPECT_EQ(lines(rig.record),
              (std::vector<std::string>{"quorvane://certificate", "quorvane://certificate"}));
}

}  // namespace
