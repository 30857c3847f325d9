#include "Options.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>

namespace vela2cam {

namespace {

// Vendor requests carry at most a 64-byte data stage.
constexpr uint32_t kMaxVendorData = 64;
// The camera stores the exposure in 16 bits of milliseconds.
constexpr uint32_t kMaxExposureMs = 65535;

class Parser {
  public:
    explicit Parser(const std::vector<std::string>& arguments) : args_(arguments) {}

    ParseResult Run() {
        ParseResult result;
        if (!ParseCommand() || !ParseRest()) {
            result.error = error_;
            return result;
        }
        result.options = options_;
        return result;
    }

  private:
    bool Fail(const std::string& message) {
        error_ = message;
        return false;
    }

    bool ParseCommand() {
        if (args_.empty()) return Fail("no command given");
        const std::string& word = args_[next_++];
        if (word == "help" || word == "-h" || word == "--help") {
            options_.command = Command::Help;
        } else if (word == "version" || word == "--version") {
            options_.command = Command::Version;
        } else if (word == "info") {
            options_.command = Command::Info;
        } else if (word == "capture") {
            options_.command = Command::Capture;
        } else if (word == "temp") {
            options_.command = Command::Temp;
        } else if (word == "blocks") {
            return ParseSubcommand("blocks", {{"download", Command::BlocksDownload},
                                              {"upload", Command::BlocksUpload}});
        } else if (word == "vendor") {
            return ParseSubcommand(
                "vendor", {{"read", Command::VendorRead}, {"write", Command::VendorWrite}});
        } else {
            return Fail("unknown command '" + word + "'");
        }
        return true;
    }

    bool ParseSubcommand(const std::string& word, const std::map<std::string, Command>& verbs) {
        if (next_ >= args_.size() || !verbs.count(args_[next_])) {
            std::string names;
            for (auto& verb : verbs) names += (names.empty() ? "" : " or ") + verb.first;
            return Fail("'" + word + "' needs " + names);
        }
        options_.command = verbs.at(args_[next_++]);
        return true;
    }

    bool ParseRest() {
        std::vector<std::string> operands;
        while (next_ < args_.size()) {
            const std::string& word = args_[next_++];
            if (word.size() > 1 && word[0] == '-' && !IsNumber(word)) {
                if (!ParseOption(word)) return false;
            } else {
                operands.push_back(word);
            }
        }
        return TakeOperands(operands);
    }

    // Negative numbers are operands (a vendor value), not options.
    static bool IsNumber(const std::string& word) {
        return word.size() > 1 && word[0] == '-' &&
               std::isdigit(static_cast<unsigned char>(word[1]));
    }

    bool Value(const std::string& option, std::string& value) {
        if (next_ >= args_.size()) return Fail("option " + option + " needs a value");
        value = args_[next_++];
        return true;
    }

    bool UnsignedValue(const std::string& option, uint64_t minimum, uint64_t maximum,
                       uint32_t& out) {
        std::string text;
        if (!Value(option, text)) return false;
        uint64_t value = 0;
        if (!ParseUnsigned(text, maximum, value) || value < minimum) {
            return Fail("option " + option + " takes a whole number from " +
                        std::to_string(minimum) + " to " + std::to_string(maximum) + ", not '" +
                        text + "'");
        }
        out = static_cast<uint32_t>(value);
        return true;
    }

    bool ParseOption(const std::string& option) {
        std::string text;
        uint32_t number = 0;
        if (option == "--simulated") return Flag(options_.simulated);
        if (option == "--json") return Flag(options_.json);
        if (option == "--registry") return Flag(options_.registry);
        if (option == "--ini") return Clear(options_.registry);
        if (option == "--mosaic") return Flag(options_.mosaic);
        if (option == "--overscan") return Flag(options_.overscan);
        if (option == "--raw") return Flag(options_.raw);
        if (option == "--png") return Flag(options_.png);
        if (option == "--watch") return Flag(options_.watch);
        if (option == "--mode") {
            if (!UnsignedValue(option, 0, INT32_MAX, number)) return false;
            options_.mode = static_cast<int32_t>(number);
            return true;
        }
        if (option == "--mode-file") return Value(option, options_.modeFile);
        if (option == "--config-dir") return Value(option, options_.configDir);
        if (option == "-o" || option == "--output") return Value(option, options_.outputDir);
        if (option == "--exposure") {
            if (!UnsignedValue(option, 0, kMaxExposureMs, number)) return false;
            options_.exposureMs = number;
            return true;
        }
        if (option == "--test-pattern") {
            if (!UnsignedValue(option, 0, 255, number)) return false;
            options_.testPattern = number;
            return true;
        }
        if (option == "--frames") return UnsignedValue(option, 1, 100000, options_.frames);
        if (option == "--interval") return UnsignedValue(option, 1, 86400000, options_.intervalMs);
        if (option == "--count") return UnsignedValue(option, 0, 1000000, options_.count);
        if (option == "--length") return UnsignedValue(option, 1, kMaxVendorData, options_.length);
        if (option == "--trigger") {
            if (!Value(option, text)) return false;
            if (text == "software") {
                options_.trigger = Trigger::Software;
            } else if (text == "hardware") {
                options_.trigger = Trigger::Hardware;
            } else {
                return Fail("option --trigger takes software or hardware, not '" + text + "'");
            }
            return true;
        }
        if (option == "--setpoint") {
            double celsius = 0.0;
            if (!Value(option, text)) return false;
            if (!ParseReal(text, celsius) || celsius < -273.15 || celsius > 100.0) {
                return Fail("option --setpoint takes degrees Celsius from -273.15 to 100, not '" +
                            text + "'");
            }
            options_.setpointCelsius = celsius;
            return true;
        }
        return Fail("unknown option '" + option + "'");
    }

    bool Flag(bool& flag) { return flag = true; }
    bool Clear(bool& flag) {
        flag = false;
        return true;
    }

    bool TakeOperands(const std::vector<std::string>& operands) {
        switch (options_.command) {
            case Command::BlocksDownload:
            case Command::BlocksUpload:
                if (operands.size() != 1) return Fail("'blocks' needs exactly one FILE");
                options_.file = operands[0];
                return true;
            case Command::VendorRead:
            case Command::VendorWrite:
                return TakeVendorOperands(operands);
            default:
                if (!operands.empty()) return Fail("unexpected operand '" + operands[0] + "'");
                return true;
        }
    }

    bool TakeVendorOperands(const std::vector<std::string>& operands) {
        bool write = options_.command == Command::VendorWrite;
        if (operands.size() < 3 || operands.size() > (write ? 4u : 3u)) {
            return Fail(write ? "'vendor write' needs REQ VALUE INDEX [DATA]"
                              : "'vendor read' needs REQ VALUE INDEX");
        }
        options_.request = operands[0];
        options_.value = operands[1];
        options_.index = operands[2];
        if (operands.size() == 4) {
            if (!ParseHexBytes(operands[3], options_.data) || options_.data.empty() ||
                options_.data.size() > kMaxVendorData) {
                return Fail("DATA must be 1 to 64 hexadecimal bytes, such as \"01 a0 ff\"");
            }
        }
        return true;
    }

    const std::vector<std::string>& args_;
    size_t next_ = 0;
    Options options_;
    std::string error_;
};

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& arguments) {
    return Parser(arguments).Run();
}

bool ParseUnsigned(const std::string& text, uint64_t maximum, uint64_t& value) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long parsed = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed > maximum) return false;
    value = parsed;
    return true;
}

bool ParseReal(const std::string& text, double& value) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
    errno = 0;
    char* end = nullptr;
    double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(parsed)) return false;
    value = parsed;
    return true;
}

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>& bytes) {
    bytes.clear();
    int high = -1;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (high >= 0) return false;  // a byte split by a blank
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        int digit = std::isdigit(static_cast<unsigned char>(c))
                        ? c - '0'
                        : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    return high < 0;
}

const char* UsageText() {
    return R"(usage: vela2cam COMMAND [options]

commands:
  info                         camera state, mode geometry, version, temperatures
  capture                      take pictures and write FITS files
  temp                         temperatures and cooler currents
  blocks download FILE         save the camera's memory blocks (192 bytes) to FILE
  blocks upload FILE           send the memory blocks in FILE to the camera
  vendor read REQ VALUE INDEX  raw vendor read (--length N bytes, default 64)
  vendor write REQ VALUE INDEX [DATA]
                               raw vendor write; DATA in hexadecimal ("01 a0 ff"),
                               one zero byte when left out
  version                      versions of the tool and the library (also --version)
  help                         this text

options for every command:
  --simulated                  the built-in simulated camera
  --mode N                     readout mode (default 0)
  --config-dir DIR             the folder holding modes.ini, Vela2Usb.ini and the
                               EPAL files (default: the first of $VELA2_CONFIG_DIR,
                               ~/.config/vela2, /etc/vela2 and the installed samples
                               that holds a modes.ini)
  --mode-file PATH             mode file (default: modes.ini of that folder, else
                               the library's own)
  --registry | --ini           settings from the registry or Vela2Usb.ini (default)
  --json                       one JSON document on standard output

capture:
  --exposure MS                exposure in milliseconds (0 to 65535)
  --trigger software|hardware  trigger (default software)
  --test-pattern N             sensor test pattern (0 = none)
  --frames N                   pictures to take (default 1)
  -o, --output DIR             directory for the files (default .)
  --mosaic                     all quadrants in one image instead of one file each
  --overscan                   write the overscan images too
  --raw                        keep each raw frame as a raw image file
  --png                        an 8-bit PNG preview beside each image

temp:
  --watch                      read again every --interval MS (default 1000)
  --count N                    stop after N readings (default: until Ctrl-C)
  --setpoint CELSIUS           set the cooler setpoint first
)";
}

}  // namespace vela2cam
