#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "outside/Dependencies/Dependencies.h"

namespace {

using namespace std::chrono_literals;

struct Service {
    explicit Service(std::string name) : name(std::move(name)) {}
    std::string name;
};
using ServicePtr = std::shared_ptr<Service>;

// Counts its builds and takes its time, so racing first reads overlap the build.
struct SlowKey {
    using Value = ServicePtr;
    static inline std::atomic<int> builds{0};
    static Value liveValue() {
        ++builds;
        std::this_thread::sleep_for(50ms);
        return std::make_shared<Service>("slow");
    }
};

struct PlainKey {
    using Value = ServicePtr;
    static inline std::atomic<int> builds{0};
    static Value liveValue() {
        ++builds;
        return std::make_shared<Service>("live");
    }
};

struct PreviewedKey {
    using Value = ServicePtr;
    static Value liveValue() { return std::make_shared<Service>("live"); }
    static Value previewValue() { return std::make_shared<Service>("preview"); }
};

// A builder that reads another key, as the server clients read the logger.
struct OuterKey {
    using Value = ServicePtr;
    static Value liveValue() {
        auto inner = DependencyValues::shared().get<SlowKey>();
        return std::make_shared<Service>("outer of " + inner->name);
    }
};

struct CycleBKey;
struct CycleAKey {
    using Value = ServicePtr;
    static Value liveValue();
};
struct CycleBKey {
    using Value = ServicePtr;
    static Value liveValue() { return DependencyValues::shared().get<CycleAKey>(); }
};
CycleAKey::Value CycleAKey::liveValue() {
    return DependencyValues::shared().get<CycleBKey>();
}

struct FlakyKey {
    using Value = ServicePtr;
    static inline std::atomic<int> builds{0};
    static Value liveValue() {
        if (++builds == 1)
            throw std::runtime_error("first build fails");
        return std::make_shared<Service>("second");
    }
};

// A value whose destructor reads another key.
struct Reader {
    ~Reader() { seen = DependencyValues::shared().get<PlainKey>()->name; }
    static inline std::string seen;
};
struct ReaderKey {
    using Value = std::shared_ptr<Reader>;
    static Value liveValue() { return std::make_shared<Reader>(); }
};

// Lets a test hold a builder in the middle of its run.
struct GatedKey {
    using Value = ServicePtr;
    static inline std::promise<void> started;
    static inline std::shared_future<void> proceed;
    static inline std::weak_ptr<Service> built;
    static Value liveValue() {
        started.set_value();
        proceed.wait();
        auto value = std::make_shared<Service>("built");
        built = value;
        return value;
    }
};

class DependenciesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        DependencyValues::shared().reset();
        SlowKey::builds = 0;
        PlainKey::builds = 0;
        FlakyKey::builds = 0;
    }
    void TearDown() override { DependencyValues::shared().reset(); }

    DependencyValues& values = DependencyValues::shared();
};

TEST_F(DependenciesTest, RacingFirstReadsBuildOnceAndShareTheValue) {
    constexpr int threadCount = 16;
    std::latch go(threadCount);
    std::vector<ServicePtr> seen(threadCount);
    std::vector<std::thread> threads;
    for (int i = 0; i < threadCount; ++i) {
        threads.emplace_back([&, i] {
            go.arrive_and_wait();
            seen[i] = Dependency<SlowKey>().get();
        });
    }
    for (auto& thread : threads)
        thread.join();

    EXPECT_EQ(SlowKey::builds, 1);
    for (const auto& value : seen)
        EXPECT_EQ(value, seen.front());
    EXPECT_EQ(values.get<SlowKey>(), seen.front());
    EXPECT_EQ(SlowKey::builds, 1);
}

TEST_F(DependenciesTest, AssignmentReplacesTheValueForLaterReadersAndReleasesTheOld) {
    Dependency<PlainKey> dependency;
    std::weak_ptr<Service> first = dependency.get();
    ASSERT_FALSE(first.expired());
    EXPECT_EQ(dependency->name, "live");

    auto replacement = std::make_shared<Service>("replacement");
    dependency.set(replacement);

    EXPECT_TRUE(first.expired());
    EXPECT_EQ(values.get<PlainKey>(), replacement);
    EXPECT_EQ((*Dependency<PlainKey>())->name, "replacement");
    EXPECT_EQ(PlainKey::builds, 1);
}

TEST_F(DependenciesTest, AssignmentBeforeTheFirstReadMeansTheBuilderNeverRuns) {
    auto assigned = std::make_shared<Service>("assigned");
    values.set<PlainKey>(assigned);
    EXPECT_EQ(values.get<PlainKey>(), assigned);
    EXPECT_EQ(PlainKey::builds, 0);
}

TEST_F(DependenciesTest, AssignmentDuringTheBuildWinsOverTheBuiltValue) {
    GatedKey::started = {};
    std::promise<void> proceed;
    GatedKey::proceed = proceed.get_future().share();
    auto started = GatedKey::started.get_future();

    auto reader = std::async(std::launch::async, [] { return DependencyValues::shared().get<GatedKey>(); });
    started.wait();
    auto assigned = std::make_shared<Service>("assigned");
    values.set<GatedKey>(assigned);
    proceed.set_value();

    EXPECT_EQ(reader.get(), assigned);
    EXPECT_EQ(values.get<GatedKey>(), assigned);
    EXPECT_TRUE(GatedKey::built.expired());
}

TEST_F(DependenciesTest, PreviewValueDefaultsToALiveBuildOfItsOwn) {
    auto live = values.get<PlainKey>();
    values.setPreviewMode(true);
    auto preview = values.get<PlainKey>();

    EXPECT_EQ(preview->name, "live");
    EXPECT_NE(preview, live);
    EXPECT_EQ(values.get<PlainKey>(), preview);
    EXPECT_EQ(PlainKey::builds, 2);
}

TEST_F(DependenciesTest, PreviewModeSwitchesBetweenCurrentAndPreviewValues) {
    EXPECT_EQ(values.get<PreviewedKey>()->name, "live");

    values.setPreviewMode(true);
    EXPECT_TRUE(values.previewMode());
    EXPECT_EQ(values.get<PreviewedKey>()->name, "preview");
    // An assignment in preview mode replaces only the preview value.
    values.set<PreviewedKey>(std::make_shared<Service>("preview replacement"));
    EXPECT_EQ(values.get<PreviewedKey>()->name, "preview replacement");

    values.setPreviewMode(false);
    EXPECT_EQ(values.get<PreviewedKey>()->name, "live");
    EXPECT_EQ(values.previewValue<PreviewedKey>()->name, "preview replacement");
}

TEST_F(DependenciesTest, ResetForgetsEveryValueAndLeavesPreviewMode) {
    auto before = values.get<PlainKey>();
    values.setPreviewMode(true);
    values.set<PreviewedKey>(std::make_shared<Service>("assigned preview"));

    values.reset();

    EXPECT_FALSE(values.previewMode());
    auto after = values.get<PlainKey>();
    EXPECT_NE(after, before);
    EXPECT_EQ(PlainKey::builds, 2);
    values.setPreviewMode(true);
    EXPECT_EQ(values.get<PreviewedKey>()->name, "preview");
}

TEST_F(DependenciesTest, BuilderMayReadAnotherKeyWhileOtherThreadsReadBoth) {
    constexpr int threadCount = 8;
    std::latch go(threadCount);
    std::vector<std::string> names(threadCount);
    std::vector<std::thread> threads;
    for (int i = 0; i < threadCount; ++i) {
        threads.emplace_back([&, i] {
            go.arrive_and_wait();
            names[i] = i % 2 ? DependencyValues::shared().get<OuterKey>()->name
                             : DependencyValues::shared().get<SlowKey>()->name;
        });
    }
    for (auto& thread : threads)
        thread.join();

    for (int i = 0; i < threadCount; ++i)
        EXPECT_EQ(names[i], i % 2 ? "outer of slow" : "slow");
    EXPECT_EQ(SlowKey::builds, 1);
}

TEST_F(DependenciesTest, BuilderCycleIsAnErrorNotAHang) {
    EXPECT_THROW(values.get<CycleAKey>(), std::logic_error);
    // Nothing was stored: a later assignment breaks the cycle.
    values.set<CycleBKey>(std::make_shared<Service>("b"));
    EXPECT_EQ(values.get<CycleAKey>()->name, "b");
}

TEST_F(DependenciesTest, FailedBuildStoresNothingAndTheNextReadBuildsAgain) {
    EXPECT_THROW(values.get<FlakyKey>(), std::runtime_error);
    EXPECT_EQ(values.get<FlakyKey>()->name, "second");
    EXPECT_EQ(values.get<FlakyKey>()->name, "second");
    EXPECT_EQ(FlakyKey::builds, 2);
}

TEST_F(DependenciesTest, ReleasingAValueMayReadOtherKeys) {
    Reader::seen.clear();
    values.get<ReaderKey>();
    values.set<ReaderKey>(std::make_shared<Reader>());
    EXPECT_EQ(Reader::seen, "live");

    Reader::seen.clear();
    values.reset();
    EXPECT_EQ(Reader::seen, "live");
}

}  // namespace
