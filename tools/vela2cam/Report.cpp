#include "Report.h"

namespace vela2cam {

void Report::Field(const std::string& key, const std::string& label, JsonValue value,
                   const std::string& text) {
    if (json_) {
        root_.Set(key, std::move(value));
    } else {
        std::printf("%-20s %s\n", (label + ":").c_str(), text.c_str());
    }
}

void Report::Note(const std::string& text) {
    if (!json_) std::printf("%s\n", text.c_str());
}

int Report::Fail(const Failure& failure) {
    std::string advice;
    std::string line = "vela2cam: " + failure.what;
    if (failure.hasStatus) {
        line += ": " + StatusName(failure.status) + " (" + std::to_string(failure.status) + ")";
        advice = StatusAdvice(failure.status);
    }
    std::fprintf(stderr, "%s\n", line.c_str());
    if (!advice.empty()) std::fprintf(stderr, "  %s\n", advice.c_str());
    if (json_) {
        JsonValue error = JsonValue::Object();
        error.Set("message", failure.what);
        if (failure.hasStatus) {
            error.Set("status", failure.status);
            error.Set("name", StatusName(failure.status));
            error.Set("advice", advice);
        }
        root_.Set("ok", false);
        root_.Set("exit_code", static_cast<int>(failure.exitCode));
        root_.Set("error", std::move(error));
        std::printf("%s\n", root_.Serialize().c_str());
    }
    std::fflush(stdout);
    return failure.exitCode;
}

int Report::Succeed() {
    if (json_) {
        root_.Set("ok", true);
        std::printf("%s\n", root_.Serialize().c_str());
    }
    std::fflush(stdout);
    return kExitOk;
}

}  // namespace vela2cam
