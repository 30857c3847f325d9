// The tool's components each on its own: the command line, and the pieces of
// its output: FITS files, PNG previews, JSON text, mosaics, the progress line,
// status names and the mode's binning.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "FitsWriter.h"
#include "Json.h"
#include "ModeFile.h"
#include "Mosaic.h"
#include "Options.h"
#include "PngPreview.h"
#include "Progress.h"
#include "Status.h"
#include "tools/ToolTestSupport.h"

#ifdef VELA2CAM_HAVE_PNG
#include <png.h>
#endif

namespace {

using namespace vela2cam;
using namespace vela2cam_test;

// Each command takes its options and operands, and what is not given keeps its
// default; bad input is refused with a message instead of a guess.
TEST(OptionsTest, CommandsTakeTheirOptionsAndRefuseBadInputWithAMessage) {
    const auto parse = [](std::vector<std::string> arguments) {
        ParseResult parsed = ParseCommandLine(arguments);
        EXPECT_TRUE(parsed.ok()) << parsed.error;
        return parsed.options;
    };
    // Only what the runs of the tool itself do not show.
    Options o = parse({"capture", "--registry", "--exposure", "65535", "--trigger", "hardware",
                       "--test-pattern", "255"});
    EXPECT_TRUE(o.command == Command::Capture && o.registry && o.trigger == Trigger::Hardware &&
                o.exposureMs == 65535u && o.testPattern == 255u);
    // Without options: one software-triggered frame into the current directory.
    o = parse({"capture"});
    EXPECT_TRUE(o.frames == 1u && o.outputDir == "." && o.trigger == Trigger::Software &&
                !o.exposureMs && !o.registry);
    // A negative number is an operand, not an option.
    o = parse({"vendor", "write", "0xAB", "-1", "0x0", "01 a0 FF"});
    EXPECT_TRUE(o.command == Command::VendorWrite && o.value == "-1");
    EXPECT_EQ(o.data, (std::vector<uint8_t>{0x01, 0xa0, 0xff}));
    o = parse({"vendor", "read", "0xAB", "0x0", "0", "--length", "8"});
    EXPECT_TRUE(o.length == 8u && o.data.empty());
    o = parse({"temp", "--watch", "--interval", "250", "--count", "4", "--setpoint", "-20.5"});
    EXPECT_TRUE(o.watch && o.intervalMs == 250u && o.count == 4u && o.setpointCelsius == -20.5);

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
        ParseResult parsed = ParseCommandLine(arguments);
        EXPECT_FALSE(parsed.ok() || parsed.error.empty()) << testing::PrintToString(arguments);
    }
}

// Unsigned pixels through BZERO read back as written, with their range; a
// refused write leaves no file, not even its temporary one, and an existing
// file is never replaced. Every card type and fitsverify: the tool's own files.
TEST(FitsWriterTest, FilesReadBackAsWrittenAndAreNeverReplacedOrLeftHalf) {
    TempDir dir;
    const int width = 37, height = 11;  // not square: the axes must not swap
    std::vector<uint16_t> pixels(width * height), other(width * height, 7);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint16_t>(i * 977);
    pixels[1] = 65535;  // both ends of the unsigned range survive the offset
    const std::string path = dir.path() + "/ramp.fits";
    std::string error;
    ASSERT_TRUE(FitsWriter::Write(path, ImageView{width, height, pixels.data()}, {}, error))
        << error;
    FitsReader fits(path);
    EXPECT_EQ(fits.Pixels(width, height), pixels);
    EXPECT_EQ(fits.Real("DATAMIN"), 0.0);
    EXPECT_EQ(fits.Real("DATAMAX"), 65535.0);

    const auto refused = [&](const std::string& name, int w, std::vector<FitsCard> cards) {
        error.clear();
        return !FitsWriter::Write(dir.path() + name, ImageView{w, height, other.data()}, cards,
                                  error) &&
               !error.empty();
    };
    EXPECT_TRUE(refused("/missing/x.fits", width, {}));
    EXPECT_TRUE(refused("/empty.fits", 0, {}));
    EXPECT_TRUE(refused("/badkey.fits", width, {FitsCard::Integer("BAD KEY=", 1, "")}));
    EXPECT_TRUE(refused("/ramp.fits", width, {}));
    EXPECT_EQ(error, path + " exists already");
    EXPECT_EQ(FitsReader(path).Pixels(width, height), pixels);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"ramp.fits"});
}

TEST(JsonTest, EveryTextAndNumberGivesStrictJson) {
    JsonValue root = JsonValue::Object();
    root.Set("quote", "say \"hi\"\\ \n\t\x01");
    root.Set("bytes", std::string("caf\xe9"));  // a code-page byte, not UTF-8
    root.Set("nan", std::numeric_limits<double>::quiet_NaN());
    root.Set("real", -19.5);
    root.Set("list", JsonValue::Array().Append(1).Append(JsonValue()).Append(true));
    root.Set("real", 0.25);        // replaces, keeps the place
    root.Set("short", 24.99);      // no trailing digits of the binary form
    root.Set("exact", 0.1 + 0.2);  // but every digit a round trip needs
    EXPECT_EQ(root.Serialize(),
              "{\"quote\":\"say \\\"hi\\\"\\\\ \\n\\t\\u0001\",\"bytes\":\"caf\\u00e9\","
              "\"nan\":null,\"real\":0.25,\"list\":[1,null,true],\"short\":24.99,"
              "\"exact\":0.30000000000000004}");
}

// The stretch spans the percentiles and clamps outliers, and the preview file
// holds the stretched grey levels at the image's size.
TEST(PngPreviewTest, StretchSpansThePercentilesAndTheFileHoldsIt) {
    // 1000 pixels 1000..1999, one dark and one hot outlier.
    std::vector<uint16_t> pixels(1000);
    std::iota(pixels.begin(), pixels.end(), 1000);
    pixels.insert(pixels.end(), {0, 65535});
    ImageView image{static_cast<int32_t>(pixels.size()), 1, pixels.data()};
    StretchRange range =
        PngPreview::RangeOf(image, PngPreview::kLowPercentile, PngPreview::kHighPercentile);
    EXPECT_NEAR(range.low, 1004, 1);
    EXPECT_NEAR(range.high, 1994, 1);
    std::vector<uint8_t> grey = PngPreview::Stretch(image, range);
    // Below and above the percentiles, then the dark and the hot outlier.
    EXPECT_EQ((std::vector<int>{grey[0], grey[999], grey[1000], grey[1001]}),
              (std::vector<int>{0, 255, 0, 255}));
    EXPECT_NEAR(grey[499], 127, 2);
    // A flat picture has no range: no division by zero, one grey level.
    std::vector<uint16_t> flat(16, 700);
    ImageView flatImage{4, 4, flat.data()};
    EXPECT_EQ(PngPreview::Stretch(flatImage, PngPreview::RangeOf(flatImage, 0.5, 99.5)),
              std::vector<uint8_t>(16, 0));
#ifdef VELA2CAM_HAVE_PNG
    TempDir dir;
    std::string path = dir.path() + "/p.png", error;
    ASSERT_TRUE(PngPreview::Write(path, image, error)) << error;
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&png, path.c_str())) << png.message;
    png.format = PNG_FORMAT_GRAY;
    std::vector<uint8_t> back(PNG_IMAGE_SIZE(png));
    ASSERT_TRUE(png_image_finish_read(&png, nullptr, back.data(), 0, nullptr)) << png.message;
    EXPECT_EQ(std::make_pair(png.width, png.height), std::make_pair(1002u, 1u));
    EXPECT_EQ(back, grey);
#endif
}

// Quadrants fill the cells row by row; a cell without a quadrant stays dark.
TEST(MosaicTest, EachQuadrantLandsInItsCell) {
    const int32_t width = 3, height = 2;
    const struct {
        int quadrants, columns, rows;
    } layouts[] = {{1, 1, 1}, {2, 2, 1}, {3, 2, 2}, {4, 2, 2}};
    for (const auto& l : layouts) {
        SCOPED_TRACE(std::to_string(l.quadrants) + " quadrants");
        std::vector<std::vector<uint16_t>> images(l.quadrants);
        std::vector<const uint16_t*> pointers;
        for (int q = 0; q < l.quadrants; ++q) {
            for (int i = 0; i < width * height; ++i) images[q].push_back(uint16_t(q * 100 + i + 1));
            pointers.push_back(images[q].data());
        }
        MosaicLayout layout = Mosaic::LayoutFor(l.quadrants);
        EXPECT_EQ(std::make_pair(layout.columns, layout.rows), std::make_pair(l.columns, l.rows));
        std::vector<uint16_t> mosaic = Mosaic::Assemble(pointers, width, height);
        ASSERT_EQ(mosaic.size(), size_t(width * l.columns) * height * l.rows);
        for (size_t i = 0; i < mosaic.size(); ++i) {
            const int x = int(i) % (width * l.columns), y = int(i) / (width * l.columns);
            const int cell = y / height * l.columns + x / width;
            EXPECT_EQ(mosaic[i],
                      cell < l.quadrants ? images[cell][y % height * width + x % width] : 0)
                << "cell " << cell + 1 << " at " << x << "," << y;
        }
    }
    EXPECT_TRUE(Mosaic::Assemble({}, width, height).empty());
}

// The bar fills with the exposure and stops at full; it is drawn only when
// enabled, and the line is ended.
TEST(ProgressTest, TheBarFillsWithTheExposureAndDrawsOnlyWhenEnabled) {
    EXPECT_EQ(Progress::RenderBar("x", 0, 1000, 10), "x [----------]   0%  0.0/1.0 s");
    EXPECT_EQ(Progress::RenderBar("x", 500, 1000, 10), "x [#####-----]  50%  0.5/1.0 s");
    EXPECT_EQ(Progress::RenderBar("x", 1500, 1000, 10), "x [##########] 100%  1.0/1.0 s");
    EXPECT_EQ(Progress::RenderBar("x", 0, 0, 4), "x [####] 100%  0.0/0.0 s");
    // No overflow at the longest exposure.
    EXPECT_NE(Progress::RenderBar("x", 65535, 65535, 4).find("100%"), std::string::npos);
    EXPECT_NE(Progress::RenderSpinner("r", 0), Progress::RenderSpinner("r", 1));
    // That nothing is drawn when disabled shows in the tool's runs without a terminal.
    TempDir dir;
    std::FILE* out = std::fopen((dir.path() + "/progress").c_str(), "w");
    ASSERT_NE(out, nullptr);
    Progress progress(out, true);
    progress.Exposure("e", 10, 100);
    progress.Exposure("e", 20, 100);
    progress.Finish("done");
    progress.Readout("r");
    progress.Finish();
    std::fclose(out);
    const std::string text = ReadText(dir.path() + "/progress");
    EXPECT_NE(text.find("\rdone"), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
    EXPECT_EQ(text.back(), '\n') << text;
}

// The names come from the library, as failing runs show end to end.
TEST(StatusTest, UnknownCodesStayNumbers) { EXPECT_EQ(StatusName(999), "status 999"); }

TEST(ModeFileTest, BinningComesFromTheModesEpalFile) {
    TempDir dir;
    std::string epal(400, '\0');
    epal[18] = 2;
    epal[21] = 4;
    std::ofstream(dir.path() + "/b.hex", std::ios::binary) << epal;
    std::ofstream(dir.path() + "/modes.ini") << "; modes\n[Mode1]\nConfiguration File=/nowhere\n"
                                             << "[ mode2 ]\r\n configuration file = b.hex \r\n";
    std::string modes = dir.path() + "/modes.ini";
    EXPECT_EQ(ModeFile::EpalFileFor(modes, 3), "");
    auto binning = ModeFile::BinningFor(modes, 2);  // relative to the mode file
    ASSERT_TRUE(binning.has_value());
    EXPECT_EQ(std::make_pair(binning->columns, binning->rows), std::make_pair(2, 4));
    EXPECT_FALSE(ModeFile::BinningFor(modes, 1).has_value());
    EXPECT_FALSE(ModeFile::BinningFor(dir.path() + "/none.ini", 2).has_value());
    // A factor the camera cannot have is no binning at all.
    epal[18] = 3;
    EXPECT_FALSE(ModeFile::BinningOf(epal).has_value());
    EXPECT_FALSE(ModeFile::BinningOf(std::string(10, '\1')).has_value());
}

}  // namespace
