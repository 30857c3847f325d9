#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/Event.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

using namespace platform;

namespace {

std::string UniqueName(const char* stem) {
#ifdef _WIN32
    unsigned long pid = GetCurrentProcessId();
#else
    unsigned long pid = static_cast<unsigned long>(getpid());
#endif
    return std::string("VELA2_TEST_") + stem + "_" + std::to_string(pid);
}

// A second process of this program: opens the event named in the environment,
// waits for it and reports through its exit code (0 seen, 2 not seen, 3 no
// such event). It runs before the tests would, and never returns into them.
struct ChildMode {
    ChildMode() {
        const char* name = std::getenv("VELA2_NAMED_EVENT_CHILD");
        if (name == nullptr) return;
        std::unique_ptr<Event> event = Event::OpenNamed(name);
        int code = !event ? 3 : event->Wait(10000) == WaitStatus::Signaled ? 0 : 2;
        std::_Exit(code);
    }
} g_childMode;

#ifdef _WIN32
int RunChildWaitingFor(const std::string& name, Event& release) {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    SetEnvironmentVariableA("VELA2_NAMED_EVENT_CHILD", name.c_str());
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string command = std::string("\"") + path + "\"";
    BOOL started = CreateProcessA(path, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                  &startup, &process);
    SetEnvironmentVariableA("VELA2_NAMED_EVENT_CHILD", nullptr);
    if (!started) return -1;
    Sleep(200);
    release.Set();
    WaitForSingleObject(process.hProcess, 20000);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}
#else
int RunChildWaitingFor(const std::string& name, Event& release) {
    std::string variable = "VELA2_NAMED_EVENT_CHILD=" + name;
    std::vector<char*> environment;
    for (char** entry = environ; *entry; ++entry) environment.push_back(*entry);
    environment.push_back(&variable[0]);
    environment.push_back(nullptr);
    char self[] = "/proc/self/exe";
    char* arguments[] = {self, nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, self, nullptr, nullptr, arguments, environment.data()) != 0) return -1;
    usleep(200000);
    release.Set();
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

}  // namespace

TEST(NamedEventTest, OpeningByNameSharesTheState) {
    const std::string name = UniqueName("shared");
    Event created(EventReset::Manual, false, name);
    ASSERT_TRUE(created.IsValid());
    std::unique_ptr<Event> opened = Event::OpenNamed(name);
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->Wait(0), WaitStatus::Timeout);
    created.Set();
    EXPECT_EQ(opened->Wait(0), WaitStatus::Signaled);
    EXPECT_EQ(opened->Wait(0), WaitStatus::Signaled) << "manual-reset stays set";
    opened->Reset();
    EXPECT_EQ(created.Wait(0), WaitStatus::Timeout);
}

TEST(NamedEventTest, CreatingAnExistingNameOpensIt) {
    const std::string name = UniqueName("again");
    Event first(EventReset::Manual, true, name);
    Event second(EventReset::Manual, false, name);
    EXPECT_EQ(second.Wait(0), WaitStatus::Signaled) << "the existing state is kept";
}

TEST(NamedEventTest, OpeningAMissingNameFails) {
    EXPECT_EQ(Event::OpenNamed(UniqueName("missing")), nullptr);
}

TEST(NamedEventTest, WaitForAnyKeepsListOrderAcrossNamedEvents) {
    Event trigger(EventReset::Manual, false, UniqueName("trigger"));
    Event complete(EventReset::Manual, false, UniqueName("complete"));
    Event* list[] = {&trigger, &complete};
    EXPECT_EQ(WaitForAny(list, 2, 20).status, WaitStatus::Timeout);
    complete.Set();
    trigger.Set();
    WaitAnyResult result = WaitForAny(list, 2, 0);
    EXPECT_EQ(result.status, WaitStatus::Signaled);
    EXPECT_EQ(result.index, 0u);
}

TEST(NamedEventTest, AnotherProcessSeesTheEventSet) {
    const std::string name = UniqueName("cross");
    Event event(EventReset::Manual, false, name);
    ASSERT_TRUE(event.IsValid());
    EXPECT_EQ(RunChildWaitingFor(name, event), 0);
}
