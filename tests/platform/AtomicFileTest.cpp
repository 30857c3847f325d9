// Files written whole or not at all: readers racing writers, writers racing
// each other for a name. A writer dying before its file takes the name:
// RegistryStoreTest, where the store's lock must die with it too.
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "platform/AtomicFile.h"
#include "support/TempFolder.h"
#include "support/TextFiles.h"

using namespace platform;

namespace {

// Temporaries left behind show among the folder's entries.
class AtomicFileTest : public ::testing::Test {
  protected:
    testsupport::TempFolder folder_{"vela2-atomic-"};
};

TEST_F(AtomicFileTest, WritesReadsAndMakesDirectories) {
    const std::string nested = folder_ / "a/b/c";
    ASSERT_EQ(MakeDirectories(nested + "/"), 0);
    const std::string path = nested + "/blocks.bin";
    std::string bytes(300, '\0'), back;
    std::iota(bytes.begin(), bytes.end(), '\0');
    ASSERT_EQ(WriteFileAtomically(path, bytes), 0);
    EXPECT_TRUE(ReadWholeFile(path, back) == 0 && back == bytes);
    EXPECT_EQ(folder_.Entries("a/b/c").size(), 1u);
    // A file where a folder is wanted is an error, not a silent success.
    EXPECT_EQ(MakeDirectories(path), ENOTDIR);
    EXPECT_EQ(ReadWholeFile(nested + "/none", back), ENOENT);
#ifndef _WIN32
    // A user's settings stay private; output is for everyone the umask allows.
    struct stat info {};
    ASSERT_EQ(stat(nested.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0077, 0u);
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    const mode_t mask = umask(0);
    umask(mask);
    ASSERT_EQ(WriteFileAtomically(path, bytes, Existing::Replace, Access::Everyone), 0);
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u & ~mask);
#endif
}

// Every read sees one writer's content whole, and no temporary file stays.
TEST_F(AtomicFileTest, ConcurrentWritersLeaveOneWholeVersionAtEveryMoment) {
    constexpr int kWriters = 3, kWrites = 30;
    constexpr size_t kSize = 16384;
    const std::string path = folder_ / "shared";
    ASSERT_EQ(WriteFileAtomically(path, std::string(kSize, 'a')), 0);
    std::atomic<int> running{kWriters};
    std::atomic<int> failures{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&, w] {
            for (int i = 0; i < kWrites; ++i)
                if (WriteFileAtomically(path, std::string(kSize, static_cast<char>('b' + w))) != 0)
                    ++failures;
            --running;
        });
    int reads = 0;
    while (running > 0 || reads == 0) {
        std::string content;
        // Windows may refuse to open a file while another moves onto its name.
        if (ReadWholeFile(path, content) != 0) continue;
        ++reads;
        ASSERT_EQ(content.size(), kSize);
        ASSERT_EQ(content, std::string(kSize, content[0]));
    }
    for (std::thread& writer : writers) writer.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(folder_.Entries().size(), 1u);
}

// The check and the new name are one step: of two writers racing for a name
// that nobody has, exactly one gets it and the other's content never shows.
TEST_F(AtomicFileTest, WithoutReplacingExactlyOneOfTwoRacingWritersWins) {
    constexpr int kRounds = 50;
    for (int round = 0; round < kRounds; ++round) {
        const std::string path = folder_ / ("frame" + std::to_string(round));
        std::atomic<int> ready{0};
        int results[2] = {-1, -1};
        std::vector<std::thread> writers;
        for (int w = 0; w < 2; ++w)
            writers.emplace_back([&, w] {
                AtomicFile file(path);
                int written =
                    file.Write(std::string(1000, static_cast<char>('A' + w)), Access::Everyone);
                for (++ready; ready < 2;) std::this_thread::yield();
                results[w] = written ? written : file.Commit(Existing::Keep);
            });
        for (std::thread& writer : writers) writer.join();
        ASSERT_TRUE((results[0] == 0 && results[1] == EEXIST) ||
                    (results[0] == EEXIST && results[1] == 0))
            << "round " << round << ": " << results[0] << ", " << results[1];
        EXPECT_EQ(testsupport::ReadText(path), std::string(1000, results[0] == 0 ? 'A' : 'B'));
    }
    EXPECT_EQ(folder_.Entries().size(), static_cast<size_t>(kRounds));
}

}  // namespace
