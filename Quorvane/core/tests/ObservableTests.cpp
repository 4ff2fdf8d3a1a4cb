// The view models' change notifications.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "Quorvane/core/Observable.h"

namespace {

struct Model : Observable {
    int count = 0;
    std::optional<std::string> name;
    void setCount(int value) { setObserved(count, value); }
    void setName(std::optional<std::string> value) { setObserved(name, std::move(value)); }
};

}  // namespace

TEST(ObservableTest, NotifiesOncePerChangedValue) {
    Model model;
    int first = 0, second = 0;
    auto a = model.subscribe([&] { ++first; });
    auto b = model.subscribe([&] { ++second; });
    model.setCount(0);  // unchanged
    model.setName(std::nullopt);
    EXPECT_EQ(first, 0);
    model.setCount(1);
    model.setName("x");
    model.setName("x");
    EXPECT_EQ(first, 2);
    EXPECT_EQ(second, 2);
    EXPECT_EQ(model.count, 1);
    EXPECT_EQ(model.name, "x");
}

TEST(ObservableTest, EndedSubscriptionsAreNotCalled) {
    auto model = std::make_unique<Model>();
    int calls = 0;
    Observable::Subscription later;
    // The first subscriber ends the second one while a notification is under way.
    auto first = model->subscribe([&] {
        ++calls;
        later.cancel();
    });
    later = model->subscribe([&] { calls += 100; });
    model->setCount(1);
    EXPECT_EQ(calls, 1);

    first = Observable::Subscription();
    model->setCount(2);
    EXPECT_EQ(calls, 1);

    // A subscription may outlive its model.
    auto outliving = model->subscribe([] {});
    model.reset();
    outliving.cancel();
}
