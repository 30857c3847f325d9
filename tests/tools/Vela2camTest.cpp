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
    int bitpix = 0;
    long w = 0, h = 0;
    ASSERT_TRUE(fits.Shape(bitpix, w, h));
    EXPECT_EQ(bitpix, 16);
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
    const std::string date = fits.Text("DATE-OBS").value_or("");
    EXPECT_TRUE(std::regex_match(date, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3})")))
        << date;
    // Second resolution on both sides: the start lies within the run.
    EXPECT_GE(date.substr(0, 19), before);
    EXPECT_LE(date.substr(0, 19), after);
    const double ccd = fits.Real("CCD-TEMP").value_or(1e9);
    EXPECT_TRUE(ccd > -100.0 && ccd < 60.0) << ccd;
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
        // The sky's dark current follows the cooler, which differs between
        // the tool's process and this one; the pattern is the same in both.
        setenv("VELA2_SIM_PICTURE", "pattern", 1);
    }
};

// Every mode's pictures as the library gives them: per quadrant with their
// overscan, as a mosaic with its preview, and raw frames, several of them,
// into a directory that does not exist yet.
TEST_F(Vela2camTest, CaptureInEveryModeWritesTheLibrarysPictures) {
    const bool png = vela2cam::PngPreview::Available();
    for (int32_t mode = 0; mode <= 3; ++mode) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        TempDir top;
        const bool mosaic = mode == 0, raw = mode == 3;
        const std::string out = top.path() + (raw ? "/new/sub" : "");
        const std::string before = UtcNow();
        Outcome run = Tool("capture --simulated --exposure 120 --mode " + std::to_string(mode) +
                           (mosaic ? png ? " --mosaic --png" : " --mosaic" : " --overscan") +
                           (raw ? " --raw --frames 2" : "") + " -o " + Quote(out));
        const std::string after = UtcNow();
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, "");  // no progress where no terminal shows it
        EXPECT_NE(run.out.find("wrote " + out), std::string::npos) << run.out;
        Picture picture = LibraryPicture(mode);
        ASSERT_GT(picture.quadrants, 0);
        std::vector<std::string> names = top.Entries(raw ? "new/sub" : "");
        const auto matching = [&](const std::string& ending) {
            std::vector<std::string> found;
            for (const std::string& name : names)
                if (name.size() > ending.size() &&
                    name.compare(name.size() - ending.size(), ending.size(), ending) == 0)
                    found.push_back(out + "/" + name);
            return found;
        };
        const auto has = [&](const std::string& ending) { return matching(ending).size(); };
        const auto file = [&](const std::string& ending) {
            const auto found = matching(ending);
            return found.empty() ? std::string() : found[0];
        };
        if (mosaic) {
            // Built here cell by cell from the library's images.
            vela2cam::MosaicLayout layout = vela2cam::Mosaic::LayoutFor(picture.quadrants);
            long width = picture.width * layout.columns, height = picture.height * layout.rows;
            std::vector<uint16_t> expected(size_t(width) * height);
            for (int q = 0; q < picture.quadrants; ++q)
                for (long y = 0; y < picture.height; ++y)
                    std::copy_n(picture.images[q].begin() + y * picture.width, picture.width,
                                expected.begin() +
                                    ((q / layout.columns) * picture.height + y) * width +
                                    (q % layout.columns) * picture.width);
            ExpectImageFile(file("-f001.fits"), expected, width, height, mode, 0, before, after);
            EXPECT_EQ(names.size(), png ? 2u : 1u) << "no overscan unless asked";
            EXPECT_EQ(has("-f001.png"), png ? 1u : 0u);
            continue;
        }
        for (int q = 1; q <= picture.quadrants; ++q) {
            const std::string suffix = "-f001-q" + std::to_string(q);
            ExpectImageFile(file(suffix + ".fits"), picture.images[q - 1], picture.width,
                            picture.height, mode, q, before, after);
            if (picture.overscanWidth > 0 && picture.overscanHeight > 0)
                ExpectImageFile(file(suffix + "-overscan.fits"), picture.overscans[q - 1],
                                picture.overscanWidth, picture.overscanHeight, mode, q, before,
                                after);
            EXPECT_EQ(FitsReader(file(suffix + ".fits")).Real("EXPTIME"), 0.12);
        }
        EXPECT_EQ(has("-q" + std::to_string(picture.quadrants + 1) + ".fits"), 0u);
        if (raw) {
            for (const char* ending : {"-f001.raw", "-f002-q1.fits", "-f002.raw"})
                EXPECT_EQ(has(ending), 1u) << ending;
        }
    }
}

// Every command answers in JSON a script can parse, a failing one too, and a
// failing initialization names its status and writes nothing.
TEST_F(Vela2camTest, CommandsAnswerInJsonAndFailuresNameTheStatus) {
    TempDir dir;
    const std::string blocks = Quote(dir.path() + "/blocks.bin");
    const struct {
        std::string arguments;
        int exitCode;
        std::vector<std::string> found;  // in the JSON, or on stderr without --json
    } runs[] = {
        {"info --json", 0, {"\"ok\":true"}},
        {"capture --mosaic --json -o " + Quote(dir.path() + "/c"), 0, {"\"ok\":true"}},
        {"temp --json", 0, {"\"ok\":true"}},
        {"blocks download " + blocks + " --json", 0, {"\"ok\":true"}},
        {"blocks upload " + blocks, 0, {}},
        {"vendor read 0xAB 0x5 0x0 --length 16 --json", 0, {"\"ok\":true"}},
        {"vendor write 0xAB 0xC 0x0 --json", 0, {"\"ok\":true"}},
        {"info --json --mode 9", 3, {"\"name\":\"ERROR_HEX_FILENAME\"", "\"ok\":false"}},
        {"capture --mode 9 -o " + Quote(dir.path()), 3, {"ERROR_HEX_FILENAME", "Mode<N>"}},
        {"capture --mode-file " + Quote(dir.path() + "/none.ini") + " -o " + Quote(dir.path()),
         3,
         {"ERROR_INI_FILENAME"}},
        {"capture --exposure 70000", 2, {"--exposure"}},
        {"capture --config-dir " + Quote(dir.path()), 3, {"no configuration found"}},
    };
    for (const auto& r : runs) {
        SCOPED_TRACE(r.arguments);
        Outcome run = Tool(r.arguments + " --simulated");
        EXPECT_EQ(run.exitCode, r.exitCode) << run.err;
        const bool json = r.arguments.find("--json") != std::string::npos;
        EXPECT_TRUE(!json || JsonSyntax::Valid(run.out)) << run.out;
        for (const std::string& text : r.found)
            EXPECT_NE((json ? run.out : run.err).find(text), std::string::npos)
                << run.out << run.err;
        EXPECT_TRUE(json || r.exitCode == 0 || run.out.empty()) << run.out;
    }
    EXPECT_EQ(vela2cam_test::ReadText(dir.path() + "/blocks.bin").size(), 192u);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"blocks.bin", "c"}));
    EXPECT_EQ(Tool("--version").out.rfind("vela2cam " VELA2_LIBRARY_VERSION "\n", 0), 0u);
}

// An interrupted capture stops at once and writes nothing; the next run finds
// the camera idle, and on a terminal shows its progress.
TEST_F(Vela2camTest, InterruptStopsTheCaptureAndProgressShowsOnATerminal) {
    TempDir dir;
    auto start = std::chrono::steady_clock::now();
    Outcome interrupted = Tool("capture --simulated --exposure 20000 -o " + Quote(dir.path()) +
                               " & pid=$!; sleep 1; kill -INT $pid; wait $pid");
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(interrupted.exitCode, 130) << interrupted.err;
    EXPECT_NE(interrupted.err.find("interrupted"), std::string::npos) << interrupted.err;
    EXPECT_LT(seconds, 10.0);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{});

    std::string command =
        Quote(kTool) + " capture --simulated --exposure 400 -o " + Quote(dir.path());
    Outcome terminal = RunShell("script -qec " + Quote(command) + " /dev/null");
    ASSERT_EQ(terminal.exitCode, 0) << terminal.out;
    EXPECT_NE(terminal.out.find("exposing ["), std::string::npos) << terminal.out;
    EXPECT_NE(terminal.out.find("[##############################] 100%"), std::string::npos)
        << terminal.out;
    EXPECT_NE(terminal.out.find('\r'), std::string::npos);
}

}  // namespace
