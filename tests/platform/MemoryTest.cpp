#include <gtest/gtest.h>

#include <vector>

#include "platform/Memory.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "posix/MemoryMaps.h"
#endif

using namespace platform;

namespace {
size_t PageSize() {
#ifdef _WIN32
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
#else
    return static_cast<size_t>(sysconf(_SC_PAGESIZE));
#endif
}

enum class Protection { None, ReadOnly, ReadWrite };

void Protect(void* page, size_t size, Protection protection) {
#ifdef _WIN32
    const DWORD flags[] = {PAGE_NOACCESS, PAGE_READONLY, PAGE_READWRITE};
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(page, size, flags[int(protection)], &old));
#else
    const int flags[] = {PROT_NONE, PROT_READ, PROT_READ | PROT_WRITE};
    ASSERT_EQ(mprotect(page, size, flags[int(protection)]), 0);
#endif
}

// Three pages: read-write, then the page under test, then read-write again.
struct ThreePages {
    size_t page = PageSize();
    char* base = static_cast<char*>(PageAllocate(3 * PageSize()));
    char* middle() { return base + page; }
    ~ThreePages() {
        Protect(middle(), page, Protection::ReadWrite);
        PageFree(base, 3 * page);
    }
};
}  // namespace

// Ranges that only cross into the page under test are decided by it too;
// freed, null and wrapping ranges are refused.
TEST(MemoryTest, AccessFollowsTheProtectionOfEveryPageARangeTouches) {
    struct Case {
        Protection protection;
        bool readable, writable;
    };
    for (const Case& c :
         {Case{Protection::ReadWrite, true, true}, Case{Protection::ReadOnly, true, false},
          Case{Protection::None, false, false}}) {
        SCOPED_TRACE(int(c.protection));
        ThreePages pages;
        ASSERT_NE(pages.base, nullptr);
        for (size_t i = 0; i < 3 * pages.page; ++i) ASSERT_EQ(pages.base[i], 0);
        Protect(pages.middle(), pages.page, c.protection);
        EXPECT_EQ(IsReadable(pages.middle(), 1), c.readable);
        EXPECT_EQ(IsWritable(pages.middle(), pages.page), c.writable);
        EXPECT_EQ(IsReadable(pages.base + pages.page - 8, 16), c.readable);
        EXPECT_EQ(IsWritable(pages.base, 2 * pages.page), c.writable);
        EXPECT_EQ(IsReadable(pages.base, 3 * pages.page), c.readable);
        EXPECT_TRUE(IsReadable(pages.base, pages.page));
        EXPECT_TRUE(IsWritable(pages.middle() + pages.page, pages.page));
    }
    char* freed = static_cast<char*>(PageAllocate(PageSize()));
    ASSERT_NE(freed, nullptr);
    PageFree(freed, PageSize());
    EXPECT_FALSE(IsReadable(freed, 1) || IsWritable(freed, 1) || IsReadable(nullptr, 1));
    EXPECT_TRUE(IsReadable(nullptr, 0));
    int local = 0;
    EXPECT_TRUE(IsWritable(&local, sizeof local));
    EXPECT_FALSE(IsReadable(reinterpret_cast<void*>(~uintptr_t(0) - 2), 16));

    // A list decides as the single checks do, past the length of one pass.
    static const char kConstant[] = "read-only data";
    ThreePages pages;
    EXPECT_TRUE(AllAccessible(nullptr, 0));
    const AccessRange null[] = {{pages.base, 16, false}, {nullptr, 1, false}};
    EXPECT_FALSE(AllAccessible(null, 2));
    std::vector<AccessRange> many(40, AccessRange{pages.base, 3 * pages.page, true});
    many[0] = {kConstant, sizeof kConstant, false};
    many[1] = {nullptr, 0, true};
    EXPECT_TRUE(AllAccessible(many.data(), many.size()));
    many.back() = {kConstant, sizeof kConstant, true};
    EXPECT_FALSE(AllAccessible(many.data(), many.size())) << "read-only data to write";
}

#ifndef _WIN32
// Kernels without the binary mapping query leave the text of the mapping
// list; both readings must agree on every kind of page. Programs that close
// every descriptor they did not open themselves close the one on the list
// too; the checks must go on answering rightly.
TEST(MemoryTest, TextMappingListAndAReplacedDescriptorDecideAsTheQueryDoes) {
    ThreePages pages;
    Protect(pages.middle(), pages.page, Protection::ReadOnly);
    char* freed = static_cast<char*>(PageAllocate(pages.page));
    PageFree(freed, pages.page);
    const auto answers = [&] {
        return std::vector<bool>{IsReadable(pages.base, 3 * pages.page),
                                 IsWritable(pages.base, 3 * pages.page),
                                 IsWritable(pages.middle() + pages.page, pages.page),
                                 IsReadable(pages.base + pages.page - 8, 16),
                                 IsWritable(pages.base + pages.page - 8, 16),
                                 IsReadable(freed, 1)};
    };
    const std::vector<bool> queried = answers();
    EXPECT_EQ(queried, (std::vector<bool>{true, false, true, true, false, false}));
    platform::posix::SetMappingQueryAllowed(false);
    const std::vector<bool> text = answers();
    platform::posix::SetMappingQueryAllowed(true);
    EXPECT_EQ(text, queried);

    const std::filesystem::path maps = "/proc/" + std::to_string(getpid()) + "/maps";
    int closed = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        if (std::filesystem::read_symlink(entry.path(), error) == maps)
            closed += close(std::stoi(entry.path().filename().string())) == 0;
    EXPECT_GE(closed, 1);
    EXPECT_EQ(answers(), queried) << "with the descriptor closed behind our back";
}

// The answers come from a descriptor on the mapping list that stays open
// between checks; it must describe the process that asks.
TEST(MemoryTest, ForkedChildIsAnsweredForItsOwnAddressSpace) {
    const size_t page = PageSize();
    char* shared = static_cast<char*>(PageAllocate(page));
    ASSERT_TRUE(IsWritable(shared, page));
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        char* own = static_cast<char*>(PageAllocate(page));
        PageFree(shared, page);
        const bool right = !IsReadable(shared, 1) && IsWritable(own, page);
        _exit(right ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(IsWritable(shared, page));
    PageFree(shared, page);
}

#endif
