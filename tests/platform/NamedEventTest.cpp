#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "platform/Event.h"

using namespace platform;

namespace {

// Named events are seen by every process: a name no other run picks.
std::string UniqueName(const char* stem) {
    return std::string("VELA2_TEST_") + stem + "_" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

}  // namespace

// Named events are a separate implementation natively; WaitForAny must keep
// list order across them as across unnamed ones. Another process sees them
// through the library's exports (LibraryLoadTest).
TEST(NamedEventTest, OpeningOrCreatingAnExistingNameSharesItsState) {
    const std::string name = UniqueName("shared");
    EXPECT_EQ(Event::OpenNamed(name), nullptr);
    Event created(EventReset::Manual, false, name);
    ASSERT_TRUE(created.IsValid());
    std::unique_ptr<Event> opened = Event::OpenNamed(name);
    ASSERT_NE(opened, nullptr);
    Event trigger(EventReset::Manual, false, UniqueName("trigger"));
    Event* list[] = {&trigger, opened.get()};
    EXPECT_EQ(WaitForAny(list, 2, 20).status, WaitStatus::Timeout);
    created.Set();
    EXPECT_EQ(WaitForAny(list, 2, 0).index, 1u);
    EXPECT_EQ(opened->Wait(0), WaitStatus::Signaled) << "manual-reset stays set";
    trigger.Set();
    const WaitAnyResult first = WaitForAny(list, 2, 0);
    EXPECT_TRUE(first.status == WaitStatus::Signaled && first.index == 0u);
    Event again(EventReset::Manual, false, name);
    EXPECT_EQ(again.Wait(0), WaitStatus::Signaled) << "the existing state is kept";
    opened->Reset();
    EXPECT_EQ(created.Wait(0), WaitStatus::Timeout);
}
