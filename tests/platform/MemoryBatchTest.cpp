#include <gtest/gtest.h>

#include <vector>

#include "platform/Memory.h"

namespace {

TEST(AllAccessible, DecidesEveryRangeAsTheSingleChecksDo) {
    const size_t bytes = 3 * 4096;
    void* pages = platform::PageAllocate(bytes);
    ASSERT_NE(pages, nullptr);
    static const char kConstant[] = "read-only data";
    const platform::AccessRange good[] = {
        {pages, bytes, true}, {kConstant, sizeof kConstant, false}, {nullptr, 0, true}};
    EXPECT_TRUE(platform::AllAccessible(good, 3));
    EXPECT_TRUE(platform::AllAccessible(nullptr, 0));

    const platform::AccessRange readOnlyWrite[] = {{pages, bytes, true},
                                                   {kConstant, sizeof kConstant, true}};
    EXPECT_FALSE(platform::AllAccessible(readOnlyWrite, 2));
    const platform::AccessRange null[] = {{pages, 16, false}, {nullptr, 1, false}};
    EXPECT_FALSE(platform::AllAccessible(null, 2));

    // More ranges than one pass takes, the failing one last.
    std::vector<platform::AccessRange> many(40, platform::AccessRange{pages, bytes, true});
    EXPECT_TRUE(platform::AllAccessible(many.data(), many.size()));
    many.back() = {kConstant, sizeof kConstant, true};
    EXPECT_FALSE(platform::AllAccessible(many.data(), many.size()));
    platform::PageFree(pages, bytes);
}

}  // namespace
