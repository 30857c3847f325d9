// The registry seam as the key classes use it. Runs against our own store
// natively and against the system's registry under Wine, so both must agree.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/Registry.h"
#include "platform/SystemError.h"
#include "support/RegistrySandbox.h"

using namespace platform;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> bytes) { return bytes; }

class RegistryTest : public RegistrySandbox {
  protected:
    void SetUp() override {
        RegistrySandbox::SetUp();
        EXPECT_EQ(disposition_, kRegCreatedNewKey);
    }

    void Set(const char* name, uint32_t type, const std::vector<uint8_t>& data) {
        ASSERT_EQ(SetRegistryValue(key_, name, type, data.data(), uint32_t(data.size())), 0u);
    }
    std::vector<uint8_t> Query(const char* name) {
        uint32_t size = 0;
        EXPECT_EQ(QueryRegistryValue(key_, name, nullptr, nullptr, &size), 0u);
        std::vector<uint8_t> data(size);
        EXPECT_EQ(QueryRegistryValue(key_, name, nullptr, data.data(), &size), 0u);
        data.resize(size);
        return data;
    }
    uint32_t CreateSub(const char* path, uint32_t* disposition = nullptr) {
        RegKey sub = 0;
        uint32_t result = CreateRegistryKey(key_, path, "", 0, kKeyAllAccess, &sub, disposition);
        if (result == 0) CloseRegistryKey(sub);
        return result;
    }
};

TEST_F(RegistryTest, NamesIgnoreCaseKeepTheirFirstSpellingAndTheDefaultIsEmpty) {
    Set("MixedCase", kRegBinary, Bytes({1}));
    Set("MIXEDCASE", kRegBinary, Bytes({2}));
    EXPECT_EQ(Query("mixedcase"), Bytes({2}));
    char name[32];
    uint32_t length = sizeof name;
    ASSERT_EQ(EnumRegistryValue(key_, 0, name, &length, nullptr, nullptr, nullptr), 0u);
    EXPECT_STREQ(name, "MixedCase");
    EXPECT_EQ(length, 9u);

    ASSERT_EQ(CreateSub("SubKey"), 0u);
    uint32_t disposition = 0;
    ASSERT_EQ(CreateSub("SUBKEY", &disposition), 0u);
    EXPECT_EQ(disposition, kRegOpenedExistingKey);
    length = sizeof name;
    ASSERT_EQ(EnumRegistryKey(key_, 0, name, &length, nullptr, nullptr), 0u);
    EXPECT_STREQ(name, "SubKey");

    Set(nullptr, kRegSz, Bytes({'d', 0}));
    EXPECT_EQ(Query(""), Bytes({'d', 0}));
}

TEST_F(RegistryTest, MissingEntriesGiveFileNotFoundAndSmallBuffersMoreData) {
    RegKey sub = 0;
    EXPECT_EQ(OpenRegistryKey(key_, "absent", kKeyAllAccess, &sub), kErrorFileNotFound);
    uint32_t size = 0;
    EXPECT_EQ(QueryRegistryValue(key_, "absent", nullptr, nullptr, &size), kErrorFileNotFound);
    EXPECT_EQ(DeleteRegistryValue(key_, "absent"), kErrorFileNotFound);

    Set("value", kRegBinary, Bytes({1, 2, 3, 4}));
    uint8_t data[2];
    size = sizeof data;
    EXPECT_EQ(QueryRegistryValue(key_, "value", nullptr, data, &size), kErrorMoreData);
    EXPECT_EQ(size, 4u);

    char name[3];
    uint32_t length = sizeof name;
    size = 8;
    uint8_t big[8];
    EXPECT_EQ(EnumRegistryValue(key_, 0, name, &length, nullptr, big, &size), kErrorMoreData);

    ASSERT_EQ(CreateSub("longer name"), 0u);
    length = sizeof name;
    EXPECT_EQ(EnumRegistryKey(key_, 0, name, &length, nullptr, nullptr), kErrorMoreData);
    char enough[12];
    length = sizeof enough;
    EXPECT_EQ(EnumRegistryKey(key_, 0, enough, &length, nullptr, nullptr), 0u);
    length = sizeof enough;
    EXPECT_EQ(EnumRegistryKey(key_, 1, enough, &length, nullptr, nullptr), kErrorNoMoreItems);
}

// A nested key counts neither as a subkey nor with its whole path.
TEST_F(RegistryTest, SubkeysEnumerateInNameOrderAndKeyInfoCountsOnlyDirectOnes) {
    for (const char* name : {"charlie", "Alpha", "bravo", "Alpha\\deeper"})
        ASSERT_EQ(CreateSub(name), 0u);
    std::vector<std::string> names;
    for (uint32_t i = 0;; ++i) {
        char name[32];
        uint32_t length = sizeof name;
        uint32_t result = EnumRegistryKey(key_, i, name, &length, nullptr, nullptr);
        if (result == kErrorNoMoreItems) break;
        ASSERT_EQ(result, 0u);
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "bravo", "charlie"}));

    Set("ab", kRegBinary, Bytes({1, 2, 3}));
    Set("abcde", kRegBinary, Bytes({1}));
    RegKeyInfo info;
    ASSERT_EQ(QueryRegistryKeyInfo(key_, &info), 0u);
    EXPECT_EQ(info.subkeys, 3u);
    EXPECT_EQ(info.maxSubkeyLength, 7u);
    EXPECT_EQ(info.values, 2u);
    EXPECT_EQ(info.maxValueNameLength, 5u);
    EXPECT_EQ(info.maxValueDataSize, 3u);
}

TEST_F(RegistryTest, CreateMakesEveryLevelDeleteTreeRemovesThemAndConnectGivesARoot) {
    uint32_t disposition = 0;
    ASSERT_EQ(CreateSub("one\\two\\three", &disposition), 0u);
    EXPECT_EQ(disposition, kRegCreatedNewKey);
    RegKey sub = 0, root = 0;
    ASSERT_EQ(OpenRegistryKey(key_, "one\\two", kKeyRead, &sub), 0u);
    CloseRegistryKey(sub);
    EXPECT_EQ(DeleteRegistryTree(key_, "one"), 0u);
    EXPECT_EQ(OpenRegistryKey(key_, "one", kKeyRead, &sub), kErrorFileNotFound);

    ASSERT_EQ(ConnectRegistry(nullptr, kHkeyCurrentUser, &root), 0u);
    EXPECT_EQ(OpenRegistryKey(root, base_.c_str(), kKeyRead, &sub), 0u);
    CloseRegistryKey(sub);
    CloseRegistryKey(root);
}

TEST_F(RegistryTest, ThreadsWritingOneKeyAtOnceLoseNothing) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([this, t] {
            for (uint8_t i = 0; i < 25; ++i) {
                std::string name = std::to_string(t) + "_" + std::to_string(i);
                EXPECT_EQ(SetRegistryValue(key_, name.c_str(), kRegBinary, &i, 1), 0u);
            }
        });
    for (std::thread& thread : threads) thread.join();
    RegKeyInfo info;
    ASSERT_EQ(QueryRegistryKeyInfo(key_, &info), 0u);
    EXPECT_EQ(info.values, 100u);
}

}  // namespace
