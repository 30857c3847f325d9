// vela2cam end to end on the simulated camera: the program runs as a
// subprocess, its FITS files are read back with cfitsio and compared with the
// pictures the library gives this test process for the same mode.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "Mosaic.h"
#include "PngPreview.h"
#include "Vela2UsbCameraDll.h"
#include "tools/FitsReader.h"
#include "tools/ToolTestSupport.h"

namespace {

using vela2cam_test::FitsReader;
using vela2cam_test::JsonSyntax;
using vela2cam_test::Outcome;
using vela2cam_test::Quote;
using vela2cam_test::RunShell;
using vela2cam_test::TempDir;

const std::string kTool = VELA2CAM_PATH;
const std::string kModeFile = VELA2CAM_MODE_FILE;

Outcome Tool(const std::string& arguments) { return RunShell(Quote(kTool) + " " + arguments); }

// One picture as the library hands it to a client.
struct Picture {
    int32_t quadrants = 0, width = 0, height = 0, overscanWidth = 0, overscanHeight = 0;
    uint32_t exposureMs = 0;
    std::vector<std::vector<uint16_t>> images, overscans;
};

Picture LibraryPicture(int32_t mode) {
    setenv("VELA2_USB_BACKEND", "sim", 1);
    Picture picture;
    EXPECT_EQ(LD_Initialize(mode, 0, kModeFile.c_str(), 0), CAMERA_SUCCESS);
    picture.quadrants = GetNumberOfQuadrants();
    LD_GetQuadrantWidth(&picture.width);
    LD_GetQuadrantHeight(&picture.height);
    if (LD_GetOverscanWidth(&picture.overscanWidth) != CAMERA_SUCCESS) picture.overscanWidth = 0;
    if (LD_GetOverscanHeight(&picture.overscanHeight) != CAMERA_SUCCESS) picture.overscanHeight = 0;
    uint32_t length = 0, start = 0;
    LD_GetExposureTime(&picture.exposureMs, &length, &start);
    picture.images.assign(4, std::vector<uint16_t>(size_t(picture.width) * picture.height));
    picture.overscans.assign(
        4, std::vector<uint16_t>(size_t(picture.overscanWidth) * picture.overscanHeight + 1));
    LD_SetEnableSoftwareTrigger(1);
    LD_SetTimeout(picture.exposureMs);
    auto& i = picture.images;
    auto& o = picture.overscans;
    EXPECT_EQ(LD_StartPicture(i[0].data(), i[1].data(), i[2].data(), i[3].data(), picture.width,
                              picture.height, o[0].data(), o[1].data(), o[2].data(), o[3].data(),
                              picture.overscanWidth, picture.overscanHeight),
              CAMERA_SUCCESS);
    EXPECT_EQ(LD_WaitForCapture(30000), RECONSTRUCTION_COMPLETED);
    EXPECT_EQ(LD_GetStatus(), CAMERA_SUCCESS);
    Close();
    for (auto& overscan : picture.overscans) overscan.pop_back();
    return picture;
}

std::string FileEndingWith(const TempDir& dir, const std::string& ending) {
    for (const std::string& name : dir.Entries())
        if (name.size() > ending.size() &&
            name.compare(name.size() - ending.size(), ending.size(), ending) == 0)
            return dir.path() + "/" + name;
    return "";
}

std::string UtcNow() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    return text;
}

// The image in a FITS file, checked against the library's, with the headers
// every file carries.
void ExpectImageFile(const std::string& path, const std::vector<uint16_t>& expected, long width,
                     long height, int32_t mode, int quadrant, const std::string& before,
                     const std::string& after) {
    SCOPED_TRACE(path);
    ASSERT_FALSE(path.empty());
    FitsReader fits(path);
    ASSERT_TRUE(fits.ok());
    int bitpix = 0;
    long w = 0, h = 0;
    ASSERT_TRUE(fits.Shape(bitpix, w, h));
    EXPECT_EQ(bitpix, 16);
    EXPECT_EQ(fits.Real("BZERO"), 32768.0);
    ASSERT_EQ(w, width);
    ASSERT_EQ(h, height);
    EXPECT_TRUE(fits.Pixels(w, h) == expected) << "pixels differ from the library's";
    auto range = std::minmax_element(expected.begin(), expected.end());
    EXPECT_EQ(fits.Real("DATAMIN"), double(*range.first));
    EXPECT_EQ(fits.Real("DATAMAX"), double(*range.second));
    EXPECT_EQ(fits.Real("READMODE"), double(mode));
    EXPECT_EQ(fits.Real("QUADRANT"), double(quadrant));
    EXPECT_EQ(fits.Text("TRIGGER"), "SOFTWARE");
    EXPECT_EQ(fits.Text("INSTRUME"), "Vela2 USB CCD");
    EXPECT_EQ(fits.Text("LIBVER"), "4, 6, 0, 1");
    std::optional<std::string> date = fits.Text("DATE-OBS");
    ASSERT_TRUE(date.has_value());
    EXPECT_TRUE(std::regex_match(*date, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3})")))
        << *date;
    // Second resolution on both sides: the start lies within the run.
    EXPECT_GE(date->substr(0, 19), before);
    EXPECT_LE(date->substr(0, 19), after);
    std::optional<double> ccd = fits.Real("CCD-TEMP");
    ASSERT_TRUE(ccd.has_value());
    EXPECT_GT(*ccd, -100.0);
    EXPECT_LT(*ccd, 60.0);
    EXPECT_TRUE(fits.Real("SET-TEMP").has_value());
    EXPECT_EQ(fits.Real("XBINNING"), mode == 1 ? 2.0 : 1.0);
    EXPECT_EQ(fits.Real("YBINNING"), mode == 1 ? 2.0 : 1.0);
    Outcome verify = vela2cam_test::Fitsverify(path);
    EXPECT_EQ(verify.exitCode, 0) << verify.out;
}

class Vela2camTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (kModeFile.empty()) GTEST_SKIP() << "this build has no bundled mode file";
    }
};

TEST_F(Vela2camTest, CaptureInEveryModeWritesTheLibrarysPictures) {
    for (int32_t mode = 0; mode <= 3; ++mode) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        TempDir dir;
        std::string before = UtcNow();
        Outcome run = Tool("capture --simulated --overscan --exposure 120 --mode " +
                           std::to_string(mode) + " -o " + Quote(dir.path()));
        std::string after = UtcNow();
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, "");  // no progress where no terminal shows it
        Picture picture = LibraryPicture(mode);
        ASSERT_GT(picture.quadrants, 0);
        for (int q = 1; q <= picture.quadrants; ++q) {
            std::string suffix = "-f001-q" + std::to_string(q);
            ExpectImageFile(FileEndingWith(dir, suffix + ".fits"), picture.images[q - 1],
                            picture.width, picture.height, mode, q, before, after);
            if (picture.overscanWidth > 0 && picture.overscanHeight > 0) {
                ExpectImageFile(FileEndingWith(dir, suffix + "-overscan.fits"),
                                picture.overscans[q - 1], picture.overscanWidth,
                                picture.overscanHeight, mode, q, before, after);
            }
            FitsReader fits(FileEndingWith(dir, suffix + ".fits"));
            EXPECT_EQ(fits.Real("EXPTIME"), 0.12);
        }
        EXPECT_EQ(FileEndingWith(dir, "-q" + std::to_string(picture.quadrants + 1) + ".fits"), "");
        EXPECT_NE(run.out.find("wrote " + dir.path()), std::string::npos) << run.out;
    }
}

TEST_F(Vela2camTest, MosaicPlacesEachQuadrantInItsCell) {
    for (int32_t mode : {0, 2}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        TempDir dir;
        std::string before = UtcNow();
        Outcome run = Tool("capture --simulated --mosaic --mode " + std::to_string(mode) + " -o " +
                           Quote(dir.path()) + (vela2cam::PngPreview::Available() ? " --png" : ""));
        std::string after = UtcNow();
        ASSERT_EQ(run.exitCode, 0) << run.err;
        Picture picture = LibraryPicture(mode);
        vela2cam::MosaicLayout layout = vela2cam::Mosaic::LayoutFor(picture.quadrants);
        // The expected mosaic, built here cell by cell from the library's images.
        long width = picture.width * layout.columns, height = picture.height * layout.rows;
        std::vector<uint16_t> expected(size_t(width) * height);
        for (int q = 0; q < picture.quadrants; ++q)
            for (long y = 0; y < picture.height; ++y)
                std::copy_n(picture.images[q].begin() + y * picture.width, picture.width,
                            expected.begin() + ((q / layout.columns) * picture.height + y) * width +
                                (q % layout.columns) * picture.width);
        ExpectImageFile(FileEndingWith(dir, "-f001.fits"), expected, width, height, mode, 0, before,
                        after);
        // One file (and its preview), no overscan unless asked.
        EXPECT_EQ(dir.Entries().size(), vela2cam::PngPreview::Available() ? 2u : 1u);
        if (vela2cam::PngPreview::Available()) {
            EXPECT_NE(FileEndingWith(dir, "-f001.png"), "");
        }
    }
}

TEST_F(Vela2camTest, RawFramesAndSeveralFramesGetTheirOwnFiles) {
    TempDir dir;
    Outcome run =
        Tool("capture --simulated --raw --frames 2 --mode 3 -o " + Quote(dir.path() + "/new/sub"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> names = dir.Entries("new/sub");
    ASSERT_EQ(names.size(), 4u) << run.out;
    for (const char* ending : {"-f001-q1.fits", "-f001.raw", "-f002-q1.fits", "-f002.raw"})
        EXPECT_EQ(std::count_if(
                      names.begin(), names.end(),
                      [&](const std::string& n) { return n.find(ending) != std::string::npos; }),
                  1)
            << ending;
}

TEST_F(Vela2camTest, FailingInitializationNamesTheStatus) {
    TempDir dir;
    Outcome missing = Tool("capture --simulated --mode-file " + Quote(dir.path() + "/none.ini") +
                           " -o " + Quote(dir.path()));
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_NE(missing.err.find("ERROR_INI_FILENAME"), std::string::npos) << missing.err;
    EXPECT_EQ(missing.out, "");

    Outcome unknown = Tool("capture --simulated --mode 9 -o " + Quote(dir.path()));
    EXPECT_EQ(unknown.exitCode, 3);
    EXPECT_NE(unknown.err.find("ERROR_HEX_FILENAME"), std::string::npos) << unknown.err;
    EXPECT_NE(unknown.err.find("Mode<N>"), std::string::npos) << unknown.err;

    Outcome json = Tool("info --simulated --json --mode 9");
    EXPECT_EQ(json.exitCode, 3);
    EXPECT_TRUE(JsonSyntax::Valid(json.out)) << json.out;
    EXPECT_NE(json.out.find("\"name\":\"ERROR_HEX_FILENAME\""), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"ok\":false"), std::string::npos);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{});

    Outcome usage = Tool("capture --exposure 70000");
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_NE(usage.err.find("--exposure"), std::string::npos);
}

TEST_F(Vela2camTest, JsonOutputParsesForEveryCommand) {
    TempDir dir;
    for (const std::string& arguments :
         {std::string("info"), std::string("temp"),
          std::string("capture --mosaic -o ") + Quote(dir.path()),
          std::string("blocks download ") + Quote(dir.path() + "/blocks.bin"),
          std::string("vendor read 0xAB 0x5 0x0 --length 16"),
          std::string("vendor write 0xAB 0xC 0x0")}) {
        Outcome run = Tool(arguments + " --simulated --json");
        EXPECT_EQ(run.exitCode, 0) << arguments << "\n" << run.err;
        EXPECT_TRUE(JsonSyntax::Valid(run.out)) << arguments << "\n" << run.out;
        EXPECT_NE(run.out.find("\"ok\":true"), std::string::npos) << run.out;
    }
    EXPECT_EQ(vela2cam_test::ReadText(dir.path() + "/blocks.bin").size(), 192u);
    Outcome upload = Tool("blocks upload " + Quote(dir.path() + "/blocks.bin") + " --simulated");
    EXPECT_EQ(upload.exitCode, 0) << upload.err;
}

TEST_F(Vela2camTest, ProgressShowsOnATerminal) {
    TempDir dir;
    std::string command =
        Quote(kTool) + " capture --simulated --exposure 400 -o " + Quote(dir.path());
    Outcome terminal = RunShell("script -qec " + Quote(command) + " /dev/null");
    ASSERT_EQ(terminal.exitCode, 0) << terminal.out;
    EXPECT_NE(terminal.out.find("exposing ["), std::string::npos) << terminal.out;
    EXPECT_NE(terminal.out.find("[##############################] 100%"), std::string::npos)
        << terminal.out;
    EXPECT_NE(terminal.out.find("\r"), std::string::npos);
}

TEST_F(Vela2camTest, InterruptStopsTheCaptureAndLeavesTheCameraUsable) {
    TempDir dir;
    auto start = std::chrono::steady_clock::now();
    Outcome interrupted = Tool("capture --simulated --exposure 20000 -o " + Quote(dir.path()) +
                               " & pid=$!; sleep 1; kill -INT $pid; wait $pid");
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(interrupted.exitCode, 130) << interrupted.err;
    EXPECT_NE(interrupted.err.find("interrupted"), std::string::npos) << interrupted.err;
    EXPECT_LT(seconds, 10.0);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{});
    // The next run finds the camera idle.
    Outcome next = Tool("capture --simulated --exposure 10 -o " + Quote(dir.path()));
    EXPECT_EQ(next.exitCode, 0) << next.err;
}

}  // namespace
