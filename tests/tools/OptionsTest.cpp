// The command line: what each command accepts, and every bad input refused
// with a message instead of a guess.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Options.h"

namespace {

using vela2cam::Command;
using vela2cam::ParseCommandLine;
using vela2cam::ParseResult;
using vela2cam::Trigger;

ParseResult Parse(std::vector<std::string> arguments) { return ParseCommandLine(arguments); }

TEST(OptionsTest, CaptureTakesEveryOptionAndDefaultsTheRest) {
    ParseResult parsed =
        Parse({"capture",    "--simulated", "--mode", "2",         "--mode-file", "m.ini",
               "--registry", "--exposure",  "65535",  "--trigger", "hardware",    "--test-pattern",
               "255",        "--frames",    "3",      "-o",        "out/",        "--mosaic",
               "--overscan", "--raw",       "--json"});
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    const vela2cam::Options& o = parsed.options;
    EXPECT_EQ(o.command, Command::Capture);
    EXPECT_TRUE(o.simulated && o.registry && o.mosaic && o.overscan && o.raw && o.json);
    EXPECT_TRUE(o.mode == 2 && o.modeFile == "m.ini" && o.outputDir == "out/");
    EXPECT_TRUE(o.exposureMs == 65535u && o.testPattern == 255u && o.frames == 3u);
    EXPECT_EQ(o.trigger, Trigger::Hardware);

    // Without options: one software-triggered frame into the current directory.
    ParseResult plain = Parse({"capture"});
    ASSERT_TRUE(plain.ok());
    EXPECT_TRUE(plain.options.frames == 1u && plain.options.outputDir == ".");
    EXPECT_EQ(plain.options.trigger, Trigger::Software);
    EXPECT_FALSE(plain.options.exposureMs.has_value() || plain.options.registry);
}

TEST(OptionsTest, RefusesBadInputWithAMessage) {
    // Missing values, numbers beyond their range or with stray characters,
    // unknown words and operands too few or too many.
    // clang-format off
    const std::vector<std::vector<std::string>> bad = {
        {}, {"snap"}, {"capture", "--bogus"}, {"capture", "--exposure"},
        {"capture", "--exposure", "65536"}, {"capture", "--exposure", "-1"},
        {"capture", "--exposure", "12x"}, {"capture", "--exposure", " 12"},
        {"capture", "--frames", "0"}, {"capture", "--mode", "99999999999"},
        {"capture", "--trigger", "soft"}, {"capture", "--test-pattern", "256"},
        {"capture", "stray"}, {"temp", "--setpoint", "-300"}, {"temp", "--setpoint", "nan"},
        {"temp", "--interval", "0"}, {"blocks"}, {"blocks", "download"},
        {"blocks", "upload", "a", "b"}, {"vendor", "peek", "1", "2", "3"},
        {"vendor", "read", "0xAB", "0x5"}, {"vendor", "read", "0xAB", "5", "0", "00"},
        {"vendor", "write", "0xAB", "5", "0", "0g"}, {"vendor", "write", "0xAB", "5", "0", "012"},
        {"vendor", "write", "0xAB", "5", "0", "0 1"},
        {"vendor", "read", "0xAB", "5", "0", "--length", "65"}};
    // clang-format on
    for (const auto& arguments : bad) {
        ParseResult parsed = Parse(arguments);
        EXPECT_FALSE(parsed.ok() || parsed.error.empty()) << testing::PrintToString(arguments);
    }
}

TEST(OptionsTest, ServiceCommandsTakeTheirOperands) {
    ParseResult download = Parse({"blocks", "download", "b.bin", "--simulated"});
    ASSERT_TRUE(download.ok()) << download.error;
    EXPECT_EQ(download.options.command, Command::BlocksDownload);
    EXPECT_EQ(download.options.file, "b.bin");

    // A negative number is an operand, not an option.
    ParseResult write = Parse({"vendor", "write", "0xAB", "-1", "0x0", "01 a0 FF"});
    ASSERT_TRUE(write.ok()) << write.error;
    EXPECT_EQ(write.options.command, Command::VendorWrite);
    EXPECT_EQ(write.options.value, "-1");
    EXPECT_EQ(write.options.data, (std::vector<uint8_t>{0x01, 0xa0, 0xff}));

    ParseResult read = Parse({"vendor", "read", "0xAB", "0x0", "0", "--length", "8"});
    ASSERT_TRUE(read.ok()) << read.error;
    EXPECT_EQ(read.options.length, 8u);
    EXPECT_TRUE(read.options.data.empty());

    ParseResult temp =
        Parse({"temp", "--watch", "--interval", "250", "--count", "4", "--setpoint", "-20.5"});
    ASSERT_TRUE(temp.ok()) << temp.error;
    EXPECT_TRUE(temp.options.watch && temp.options.intervalMs == 250u && temp.options.count == 4u);
    EXPECT_EQ(temp.options.setpointCelsius, -20.5);
}

}  // namespace
