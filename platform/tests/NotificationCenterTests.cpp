#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/NotificationCenter.h"

namespace {

using platform::NotificationCenter;
using Lines = std::vector<std::string>;

TEST(NotificationCenterTest, DeliversSynchronouslyByNameInRegistrationOrder) {
    NotificationCenter center;
    Lines seen;
    auto first = center.addObserver("A", [&] { seen.push_back("first A"); });
    auto other = center.addObserver("B", [&] { seen.push_back("B"); });
    auto second = center.addObserver("A", [&] { seen.push_back("second A"); });

    center.post("A");
    EXPECT_EQ(seen, (Lines{"first A", "second A"}));
    center.post("C");
    center.post("B");
    EXPECT_EQ(seen, (Lines{"first A", "second A", "B"}));

    first.cancel();
    {
        auto moved = std::move(second);  // the observation moves with its handle
        center.post("A");
    }
    center.post("A");  // the moved handle is gone, and with it the observation
    EXPECT_EQ(seen, (Lines{"first A", "second A", "B", "second A"}));
}

TEST(NotificationCenterTest, ObserversMayChangeTheObservationsDuringADelivery) {
    NotificationCenter center;
    Lines seen;
    NotificationCenter::Observation self, later, added;
    self = center.addObserver("A", [&] {
        seen.push_back("self");
        self.cancel();   // ends itself while it runs
        later.cancel();  // and an observer after it, which is then not called
        added = center.addObserver("A", [&] { seen.push_back("added"); });
    });
    later = center.addObserver("A", [&] { seen.push_back("later"); });

    center.post("A");
    EXPECT_EQ(seen, Lines{"self"});
    center.post("A");
    EXPECT_EQ(seen, (Lines{"self", "added"}));
}

TEST(NotificationCenterTest, AnObserverMayPostFromItsDelivery) {
    NotificationCenter center;
    Lines seen;
    auto opened = center.addObserver("Open", [&] {
        seen.push_back("open");
        center.post("Close");
    });
    auto closed = center.addObserver("Close", [&] { seen.push_back("close"); });
    center.post("Open");
    EXPECT_EQ(seen, (Lines{"open", "close"}));
}

TEST(NotificationCenterTest, AnObservationMayOutliveItsCenter) {
    NotificationCenter::Observation observation;
    {
        NotificationCenter center;
        observation = center.addObserver("A", [] {});
    }
    observation.cancel();  // nothing to remove any more, and no crash
}

}  // namespace
