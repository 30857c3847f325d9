#pragma once
// The command line of vela2cam: one command word, its operands and options.
// Parsing is strict: an unknown option, a missing value or a number that is
// not wholly a number is a usage error, never a guess.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vela2cam {

enum class Command {
    Help,
    Version,
    Info,
    Capture,
    Temp,
    BlocksDownload,
    BlocksUpload,
    VendorRead,
    VendorWrite
};
enum class Trigger { Software, Hardware };

struct Options {
    Command command = Command::Help;
    bool simulated = false;
    bool json = false;

    // Initialization: mode number, mode file ("" lets the library derive it),
    // and where the settings come from.
    int32_t mode = 0;
    std::string modeFile;
    std::string configDir;  // empty: searched for (ConfigLookup)
    bool registry = false;

    // capture
    std::optional<uint32_t> exposureMs;
    Trigger trigger = Trigger::Software;
    std::optional<uint32_t> testPattern;
    uint32_t frames = 1;
    std::string outputDir = ".";
    bool mosaic = false;
    bool overscan = false;
    bool raw = false;
    bool png = false;

    // temp
    bool watch = false;
    uint32_t intervalMs = 1000;
    uint32_t count = 0;  // readings while watching; 0 until interrupted
    std::optional<double> setpointCelsius;

    // blocks and vendor
    std::string file;
    std::string request, value, index;
    std::vector<uint8_t> data;
    uint32_t length = 64;
};

struct ParseResult {
    Options options;
    std::string error;  // empty when the command line was understood
    bool ok() const { return error.empty(); }
};

ParseResult ParseCommandLine(const std::vector<std::string>& arguments);

// The usage text printed by "vela2cam help" and after a usage error.
const char* UsageText();

// Strict number parsing shared by the options and the data operand.
bool ParseUnsigned(const std::string& text, uint64_t maximum, uint64_t& value);
bool ParseReal(const std::string& text, double& value);
// Hexadecimal bytes, with or without blanks between them: "01 ff", "01ff".
bool ParseHexBytes(const std::string& text, std::vector<uint8_t>& bytes);

}  // namespace vela2cam
