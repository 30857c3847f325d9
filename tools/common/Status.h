#pragma once
// How a failure reaches the user: the library's status name, a sentence on
// what to check, and an exit code that tells scripts which step failed.

#include <cstdint>
#include <string>

namespace vela2cam {

// Distinct exit codes, one per kind of failure.
enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 2,
    kExitInitialization = 3,
    kExitCapture = 4,
    kExitCameraCommand = 5,
    kExitFile = 6,
    kExitInterrupted = 130,
};

// The library's name for a status code, or "status <n>" for a code it does
// not name.
std::string StatusName(int32_t code);

// Why LD_Initialize failed: it says only "not initialized" where the last
// status says why.
int32_t InitializationFailure(int32_t result);

// One sentence on what to check after the given status.
std::string StatusAdvice(int32_t code);

// A failure of one command: what failed, the status behind it (if any) and
// the exit code to end with.
struct Failure {
    ExitCode exitCode = kExitOk;
    std::string what;
    bool hasStatus = false;
    int32_t status = 0;

    static Failure WithStatus(ExitCode exitCode, std::string what, int32_t status);
    static Failure Plain(ExitCode exitCode, std::string what);
    bool failed() const { return exitCode != kExitOk; }
};

}  // namespace vela2cam
