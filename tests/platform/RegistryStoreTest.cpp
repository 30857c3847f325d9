// Durability of the registry store kept in files where the system has no
// registry: several processes, crashes mid-write, damaged files.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/AtomicFile.h"
#include "platform/DebugTrace.h"
#include "platform/Registry.h"
#include "support/RegistrySandbox.h"
#include "support/TextFiles.h"

using namespace platform;

namespace {

// Runs body in a forked child that ends with body's result.
template <typename Body>
pid_t Spawn(Body body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
}

int ExitCode(pid_t pid) {
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class RegistryStoreTest : public RegistrySandbox {
  protected:
    std::string StoreFile() const { return store_ / "HKEY_CURRENT_USER.reg"; }

    uint32_t SetDword(const std::string& name, uint32_t value) {
        return SetRegistryValue(key_, name.c_str(), kRegDword,
                                reinterpret_cast<const uint8_t*>(&value), 4);
    }
    uint32_t GetDword(const std::string& name, uint32_t& value) {
        uint32_t size = 4;
        return QueryRegistryValue(key_, name.c_str(), nullptr, reinterpret_cast<uint8_t*>(&value),
                                  &size);
    }
};

// The parent has read the value a child overwrites, so a stale copy of the
// store would show.
TEST_F(RegistryStoreTest, TwoProcessesWritingAtOnceLoseNothingAndTheirChangesAreSeen) {
    constexpr int kWrites = 200;
    const auto name = [](int child, int i) {
        return "p" + std::to_string(child) + "_" + std::to_string(i);
    };
    uint32_t value = 0;
    ASSERT_EQ(SetDword(name(0, 0), 99), 0u);
    ASSERT_EQ(GetDword(name(0, 0), value), 0u);
    pid_t children[2];
    for (int child = 0; child < 2; ++child)
        children[child] = Spawn([&, child] {
            for (int i = 0; i < kWrites; ++i)
                if (SetDword(name(child, i), i) != 0) return 1;
            return 0;
        });
    for (pid_t pid : children) EXPECT_EQ(ExitCode(pid), 0);
    for (int child = 0; child < 2; ++child)
        for (int i = 0; i < kWrites; ++i) {
            value = 0xFFFF;
            ASSERT_TRUE(GetDword(name(child, i), value) == 0 && value == uint32_t(i))
                << name(child, i) << " = " << value;
        }
}

int g_hookPipe = -1;
void StopBeforeRename(const std::string&) {
    char signal = 'x';
    if (write(g_hookPipe, &signal, 1) == 1) pause();
}

TEST_F(RegistryStoreTest, AWriterKilledBeforeItsRenameLeavesThePreviousContent) {
    ASSERT_EQ(SetDword("value", 1), 0u);
    std::string before = testsupport::ReadText(StoreFile());
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = Spawn([&] {
        g_hookPipe = fds[1];
        SetAtomicWriteHook(&StopBeforeRename);
        SetDword("value", 2);
        return 0;
    });
    ASSERT_GE(child, 0);
    char signal = 0;
    ASSERT_EQ(read(fds[0], &signal, 1), 1);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(fds[0]);
    close(fds[1]);

    EXPECT_EQ(testsupport::ReadText(StoreFile()), before);
    uint32_t value = 0;
    EXPECT_TRUE(GetDword("value", value) == 0 && value == 1u) << value;
    // The lock died with the writer, so the store goes on working.
    EXPECT_EQ(SetDword("value", 3), 0u);
    EXPECT_TRUE(GetDword("value", value) == 0 && value == 3u) << value;
}

TEST_F(RegistryStoreTest, ADamagedStoreIsReportedAndLeftAsItWas) {
    ASSERT_EQ(SetDword("value", 1), 0u);
    std::string whole = testsupport::ReadText(StoreFile());
    // Reported to the caller and the trace, never printed into the host's output.
    ScopedTraceCapture trace;
    ::testing::internal::CaptureStderr();
    for (const std::string& damaged :
         {whole.substr(0, whole.size() - 12), whole.substr(0, whole.size() / 2),
          std::string("garbage\n"), whole + "\"late\"=dword:00000001\n"}) {
        std::ofstream(StoreFile(), std::ios::binary | std::ios::trunc) << damaged;
        uint32_t value = 0;
        EXPECT_EQ(GetDword("value", value), kErrorBadDatabase);
        EXPECT_EQ(SetDword("other", 2), kErrorBadDatabase);
        RegKey sub = 0;
        EXPECT_EQ(CreateRegistryKey(key_, "new", "", 0, kKeyAllAccess, &sub, nullptr),
                  kErrorBadDatabase);
        EXPECT_EQ(testsupport::ReadText(StoreFile()), damaged);
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(trace.Contains("is corrupt"));
}

// The file stays readable text; names it could not hold are refused.
TEST_F(RegistryStoreTest, TheStoreFileIsReadableTextAndNamesItCannotHoldAreRefused) {
    const char text[] = "C:\\path \"quoted\"";
    ASSERT_EQ(
        SetRegistryValue(key_, "Text", kRegSz, reinterpret_cast<const uint8_t*>(text), sizeof text),
        0u);
    ASSERT_EQ(SetDword("Number", 5), 0u);
    std::string file = testsupport::ReadText(StoreFile());
    EXPECT_NE(file.find("[HKEY_CURRENT_USER\\" + base_ + "]"), std::string::npos) << file;
    EXPECT_NE(file.find("\"Text\"=\"C:\\\\path \\\"quoted\\\"\""), std::string::npos) << file;
    EXPECT_NE(file.find("\"Number\"=dword:00000005"), std::string::npos) << file;

    uint8_t byte = 1;
    EXPECT_EQ(SetRegistryValue(key_, "line\nbreak", kRegBinary, &byte, 1), 87u);
    RegKey sub = 0;
    EXPECT_EQ(CreateRegistryKey(key_, "tab\there", "", 0, kKeyAllAccess, &sub, nullptr), 87u);
    EXPECT_EQ(SetRegistryValue(key_, "tab\tand \"quote\" \\", kRegBinary, &byte, 1), 0u);
    uint32_t value = 0;
    EXPECT_TRUE(GetDword("Number", value) == 0 && value == 5u) << value;
}

}  // namespace
#endif
