#pragma once
// Runs this test program again as a second process, in a mode chosen by an
// environment variable, and returns its exit code (-1 when it could not run).
// A program that uses it declares a ChildMode, which takes over before main
// when the variable is set.

#include <cstdlib>
#include <functional>
#include <string>

#include "support/Eventually.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace testsupport {

// Declared at namespace scope: when `variable` is set, runs body with its
// value and ends the process with body's result.
struct ChildMode {
    ChildMode(const char* variable, std::function<int(const std::string&)> body) {
        const char* value = std::getenv(variable);
        if (value != nullptr) std::_Exit(body(value));
    }
};

// Starts the child, calls whileRunning, then waits up to a minute for the
// child's end (-1 when it had to be killed).
inline int RunChild(const char* variable, const std::string& value,
                    const std::function<void()>& whileRunning) {
#ifdef _WIN32
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    SetEnvironmentVariableA(variable, value.c_str());
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string command = std::string("\"") + path + "\"";
    BOOL started = CreateProcessA(path, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                  &startup, &process);
    SetEnvironmentVariableA(variable, nullptr);
    if (!started) return -1;
    whileRunning();
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
#else
    setenv(variable, value.c_str(), 1);
    char self[] = "/proc/self/exe";
    char* arguments[] = {self, nullptr};
    pid_t child = 0;
    const int spawned = posix_spawn(&child, self, nullptr, nullptr, arguments, environ);
    unsetenv(variable);
    if (spawned != 0) return -1;
    whileRunning();
    int status = 0;
    if (!Eventually([&] { return waitpid(child, &status, WNOHANG) != 0; },
                    std::chrono::minutes(1))) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

}  // namespace testsupport
