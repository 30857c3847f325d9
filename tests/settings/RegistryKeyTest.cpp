#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/MessageSink.h"
#include "platform/SystemError.h"
#include "settings/CCountedRegKey.h"
#include "settings/CRegistryKey.h"
#include "support/RegistrySandbox.h"

#ifndef _WIN32
#include "platform/posix/RegistryStore.h"
#endif

using namespace platform;

namespace {

class RegistryKeyTest : public RegistrySandbox {
  protected:
    CRegistryKey Base() const {
        return CRegistryKey(kHkeyCurrentUser, base_.c_str(), kKeyAllAccess);
    }
    CRegistryKey NewKey(const CRegistryKey& parent, const char* name) const {
        return parent.CreateKey(name, "", 0, kKeyAllAccess, nullptr);
    }
    template <typename Body>
    void ExpectThrow(Body body, const char* where, uint32_t error) {
        try {
            body();
            ADD_FAILURE() << "no exception; expected " << where;
        } catch (const CRegistryKey::Exception& failure) {
            EXPECT_STREQ(failure.Where(), where);
            EXPECT_EQ(failure.Error(), error);
        }
    }
};

// A refused create closes the handle it opened.
TEST_F(RegistryKeyTest, FailuresCarryTheOperationAndTheSystemCode) {
    CRegistryKey base = Base();
    NewKey(base, "existing");
#ifndef _WIN32
    size_t handlesBefore = OpenRegistryHandleCount();
#endif
    ExpectThrow([&] { NewKey(base, "existing"); }, "CRegistryKey::CreateKey()", 183);
#ifndef _WIN32
    EXPECT_EQ(OpenRegistryHandleCount(), handlesBefore);
#endif
    ExpectThrow([&] { base.QueryValue("missing"); }, "CRegistryKey::QueryValue()", 2);
    ExpectThrow([&] { base.OpenKey("missing", kKeyAllAccess); },
                "CRegistryKey::CRegistryKey(HKEY hKey ...)", 2);
    ExpectThrow([&] { base.SetValue("v", "text", kRegBinary); }, "CRegistryKey::SetValue()", 1004);
    ExpectThrow([&] { CRegistryKey::Value("v", "text", kRegDword); },
                "CRegistryKey::Value::Exception", 87);
    ExpectThrow(
        [&] {
            CRegistryKey(kHkeyCurrentUser, "Software", kKeyAllAccess, "\\\\no-such-vela2-host");
        },
        "CRegistryKey::CRegistryKey() - RegConnectRegistry", 53);
    EXPECT_FALSE(base.HasSubkey("missing", kKeyAllAccess) ||
                 CRegistryKey(0x12345678).HasSubkey("x", kKeyAllAccess));
}

// Each type keeps its bytes exactly through the registry and has a text form.
// Natively the store's file holds them, so this is also a round trip through
// the registry file's writer and parser (line breaks in long values, control
// characters, short numbers).
TEST_F(RegistryKeyTest, ValuesKeepTheirBytesAndHaveTheTextFormOfTheirType) {
    CRegistryKey base = Base();
    struct Case {
        uint32_t type;
        std::vector<uint8_t> data;
        std::string text;
    };
    const Case cases[] = {
        {kRegDword, {0xff, 0xff, 0xff, 0xff}, "4294967295"},
        {kRegDword, {1, 2}, "513"},
        {kRegBinary, std::vector<uint8_t>(100, 0x55), std::string(200, '5')},
        {kRegSz, {'t', 'a', 'b', '\t', 'x', 0}, "tab\tx"},
        {kRegDwordBigEndian, {0, 0, 0, 5}, "83886080"},
        {kRegBinary, {0x0a, 0xff, 0x00}, "0aff00"},
        {kRegBinary, {}, ""},
        {kRegNone, {0x00, 0x10}, "0010"},
        {kRegMultiSz, {'a', 0, 'b', 0, 0}, "a"},
        {kRegExpandSz, {'%', 'X', '%', 0}, "%X%"},
        {kRegSz, {'a', 'b'}, "ab"},
    };
    int index = 0;
    for (const Case& c : cases) {
        std::string name = "value" + std::to_string(index++);
        base.SetValue(
            CRegistryKey::Value(name.c_str(), c.data.data(), uint32_t(c.data.size()), c.type));
        CRegistryKey::Value read = base.QueryValue(name.c_str());
        EXPECT_EQ(read.Type(), c.type);
        EXPECT_EQ(read.AsString(), c.text) << name;
        EXPECT_EQ(std::vector<uint8_t>(read.Data(), read.Data() + read.Size()), c.data) << name;
    }
    base.SetValue("string", "text", kRegSz);
    EXPECT_EQ(base.QueryValue("string").Size(), 5u) << "text keeps its terminator";
}

// Iterators walk in registry order, hold their key open, and fetch whole the
// items that grew past the buffers they sized at the start; copies hold it
// open too.
TEST_F(RegistryKeyTest,
       IteratorsAndCopiesKeepTheirKeyAliveAndIteratorsWalkInOrderFetchingWhatGrew) {
    CRegistryKey::SubkeyIterator subkey;
    CRegistryKey::ValueIterator value;
    {
        CRegistryKey base = Base();
        EXPECT_TRUE(base.BeginSubkeys() == base.EndSubkeys());
        EXPECT_TRUE(base.BeginValues() == base.EndValues());
        for (const char* name : {"b", "A"}) NewKey(base, name);
        base.SetValue(CRegistryKey::Value("v", "\x07\0\0\0", 4, kRegDword));
        subkey = base.BeginSubkeys();
        value = base.BeginValues();
    }
    ASSERT_EQ(std::string(*subkey) + *value + value.AsString(), "Av7");
    const std::string longName(60, 'z'), longText(300, 't');
    CRegistryKey base = Base();
    NewKey(base, longName.c_str());
    base.SetValue(longName.c_str(), longText.c_str(), kRegSz);
    EXPECT_STREQ(*++subkey, "b");
    EXPECT_EQ(std::string(*++subkey), longName);
    ++value;
    EXPECT_EQ(std::string(*value) + "=" + value.AsString(), longName + "=" + longText);
    EXPECT_TRUE(++subkey == CRegistryKey::SubkeyIterator());
    EXPECT_TRUE(++value == base.EndValues());

    // A copy outlives its source too; dropping the last share closes the handle.
    auto source = std::make_unique<CRegistryKey>(Base());
    CRegistryKey copy = *source;
    const RegKey handle = copy.Handle();
    source.reset();
    EXPECT_STREQ(copy.QueryValue("v").AsString(), "7");
    copy.Release();
    EXPECT_TRUE(copy.IsNull());
    uint32_t size = 0;
    EXPECT_NE(QueryRegistryValue(handle, "v", nullptr, nullptr, &size), 0u);
}

// The seam below the key classes: our own store natively, the system's
// registry under Wine; both must answer alike.
TEST_F(RegistryKeyTest, TheSeamMatchesNamesWithoutCaseAndReportsMissingAndShortAsTheSystemDoes) {
    EXPECT_EQ(disposition_, kRegCreatedNewKey);
    const uint8_t one = 1, two = 2, four[] = {1, 2, 3, 4};
    uint8_t data[8] = {};
    uint32_t size = sizeof data, length = 0;
    char name[32];
    // Value or subkey `index` with room for `room` characters of its name.
    const auto enumerate = [&](bool value, uint32_t index, uint32_t room) {
        length = room;
        size = sizeof data;
        return value ? EnumRegistryValue(key_, index, name, &length, nullptr, data, &size)
                     : EnumRegistryKey(key_, index, name, &length, nullptr, nullptr);
    };
    ASSERT_EQ(SetRegistryValue(key_, "MixedCase", kRegBinary, &one, 1), 0u);
    ASSERT_EQ(SetRegistryValue(key_, "MIXEDCASE", kRegBinary, &two, 1), 0u);
    ASSERT_EQ(QueryRegistryValue(key_, "mixedcase", nullptr, data, &size), 0u);
    EXPECT_EQ(data[0], 2);
    ASSERT_EQ(enumerate(true, 0, sizeof name), 0u);
    EXPECT_EQ(std::string(name) + " " + std::to_string(length), "MixedCase 9");
    CRegistryKey base = Base();
    NewKey(base, "longer name");
    uint32_t disposition = 0;
    base.CreateOrOpenKey("LONGER NAME", "", 0, kKeyAllAccess, nullptr, &disposition);
    EXPECT_EQ(disposition, kRegOpenedExistingKey);
    ASSERT_EQ(enumerate(false, 0, sizeof name), 0u);
    EXPECT_STREQ(name, "longer name");
    RegKey sub = 0;
    EXPECT_EQ(OpenRegistryKey(key_, "absent", kKeyAllAccess, &sub), kErrorFileNotFound);
    EXPECT_EQ(QueryRegistryValue(key_, "absent", nullptr, nullptr, &size), kErrorFileNotFound);
    EXPECT_EQ(DeleteRegistryValue(key_, "absent"), kErrorFileNotFound);
    ASSERT_EQ(SetRegistryValue(key_, "MixedCase", kRegBinary, four, 4), 0u);
    size = 2;
    EXPECT_EQ(QueryRegistryValue(key_, "MixedCase", nullptr, data, &size), kErrorMoreData);
    EXPECT_EQ(size, 4u) << "the size it would need";
    EXPECT_EQ(enumerate(true, 0, 3), kErrorMoreData);
    EXPECT_EQ(enumerate(false, 0, 3), kErrorMoreData);
    EXPECT_EQ(enumerate(false, 1, sizeof name), kErrorNoMoreItems);
    ASSERT_EQ(SetRegistryValue(key_, nullptr, kRegBinary, &one, 1), 0u);
    data[0] = 0;
    EXPECT_EQ(QueryRegistryValue(key_, "", nullptr, data, &size), 0u) << "the default value";
    EXPECT_EQ(data[0], 1);
}

// A nested key counts neither as a subkey nor with its whole path.
TEST_F(RegistryKeyTest, TheSeamCountsOnlyDirectSubkeysAndCreatesAndDeletesWholePaths) {
    CRegistryKey base = Base();
    for (const char* name : {"charlie", "Alpha", "bravo", "Alpha\\deeper"}) NewKey(base, name);
    const uint8_t bytes[] = {1, 2, 3};
    ASSERT_EQ(SetRegistryValue(key_, "ab", kRegBinary, bytes, 3), 0u);
    ASSERT_EQ(SetRegistryValue(key_, "abcde", kRegBinary, bytes, 1), 0u);
    RegKeyInfo info;
    ASSERT_EQ(QueryRegistryKeyInfo(key_, &info), 0u);
    EXPECT_EQ((std::vector<uint32_t>{info.subkeys, info.maxSubkeyLength, info.values,
                                     info.maxValueNameLength, info.maxValueDataSize}),
              (std::vector<uint32_t>{3, 7, 2, 5, 3}));

    base.CreateOrOpenKey("one\\two\\three", "", 0, kKeyAllAccess, nullptr, nullptr);
    EXPECT_TRUE(Exists("one\\two"));
    EXPECT_EQ(DeleteRegistryTree(key_, "one"), 0u);
    EXPECT_FALSE(Exists("one"));
    RegKey root = 0;
    ASSERT_EQ(ConnectRegistry(nullptr, kHkeyCurrentUser, &root), 0u);
    EXPECT_TRUE(CRegistryKey(root).HasSubkey(base_.c_str(), kKeyRead));
}

TEST_F(RegistryKeyTest, ThreadsWritingOneKeyAtOnceLoseNothing) {
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

// The system text captioned with the operation, as an error:
// RegistryPropertyReaderTest.RefusedOpensSayWhyAndEveryOperationThenWantsAnOpenReader.
TEST(Win32ExceptionTest, TheMessageIsOwnedByTheWindowAndEveryCodeHasAText) {
    ScopedMessageCapture capture;
    int ownerWindow = 0;  // stands for a window handle; only the sink sees it
    CRegistryKey::Exception("CRegistryKey::QueryValue()", 2).ShowMessage(&ownerWindow);
    ASSERT_EQ(capture.Messages().size(), 1u);
    EXPECT_EQ(capture.Messages()[0].owner, &ownerWindow);
    // A code without a text of its own gets the text of the failed lookup.
    std::string notFound;
    ASSERT_TRUE(LookUpSystemErrorText(kErrorMessageNotFound, notFound));
    EXPECT_EQ(CWin32Exception("x", 0xDEAD).GetMessage(), notFound);
    EXPECT_LT(notFound.size(), 512u);

    // Every code the registry gives has a text of its own.
    for (uint32_t code : {2u, 5u, 6u, 8u, 53u, 87u, 183u, 234u, 259u, 1004u, 1009u, 1016u, 1018u}) {
        const std::string text = CWin32Exception("x", code).GetMessage();
        EXPECT_TRUE(!text.empty() && text.find("Unknown error") == std::string::npos) << code;
    }
}

}  // namespace
