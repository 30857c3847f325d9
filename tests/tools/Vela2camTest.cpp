// vela2cam end to end on the simulated camera: the program runs as a
// subprocess, its FITS files are read back with cfitsio and compared with the
// pictures the library gives this test process for the same mode.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include "Mosaic.h"
#include "PngPreview.h"
#include "Vela2UsbCameraDll.h"
#include "tools/ToolTestSupport.h"

namespace {

using namespace vela2cam_test;

const std::string kTool = VELA2CAM_PATH;
const std::string kModeFile = VELA2CAM_MODE_FILE;

Outcome Tool(const std::string& arguments) { return RunShell(Quote(kTool) + " " + arguments); }

// One picture as the library hands it to a client.
struct Picture {
    int32_t quadrants = 0, width = 0, height = 0, overscanWidth = 0, overscanHeight = 0;
    std::vector<std::vector<uint16_t>> images, overscans;
};

Picture LibraryPicture(int32_t mode) {
    setenv("VELA2_USB_BACKEND", "sim", 1);
    Picture p;
    EXPECT_EQ(LD_Initialize(mode, 0, kModeFile.c_str(), 0), CAMERA_SUCCESS);
    p.quadrants = GetNumberOfQuadrants();
    LD_GetQuadrantWidth(&p.width);
    LD_GetQuadrantHeight(&p.height);
    if (LD_GetOverscanWidth(&p.overscanWidth) != CAMERA_SUCCESS) p.overscanWidth = 0;
    if (LD_GetOverscanHeight(&p.overscanHeight) != CAMERA_SUCCESS) p.overscanHeight = 0;
    p.images.assign(4, std::vector<uint16_t>(size_t(p.width) * p.height));
    // At least a pixel, so a mode without overscan still hands over buffers.
    p.overscans.assign(4, std::vector<uint16_t>(std::max(1, p.overscanWidth * p.overscanHeight)));
    LD_SetEnableSoftwareTrigger(1);
    auto &i = p.images, &o = p.overscans;
    EXPECT_EQ(LD_StartPicture(i[0].data(), i[1].data(), i[2].data(), i[3].data(), p.width, p.height,
                              o[0].data(), o[1].data(), o[2].data(), o[3].data(), p.overscanWidth,
                              p.overscanHeight),
              CAMERA_SUCCESS);
    EXPECT_EQ(LD_WaitForCapture(30000), RECONSTRUCTION_COMPLETED);
    Close();
    return p;
}

class Vela2camTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The sky's dark current follows the cooler, which differs between
        // the tool's process and this one; the pattern is the same in both.
        setenv("VELA2_SIM_PICTURE", "pattern", 1);
    }
};

// Every mode's pictures as the library gives them, with the headers every
// file carries: per quadrant with their overscan, as a mosaic with its
// preview, and raw frames, several of them, into a directory that does not
// exist yet.
TEST_F(Vela2camTest, CaptureInEveryModeWritesTheLibrarysPictures) {
    const bool png = vela2cam::PngPreview::Available();
    for (int32_t mode = 0; mode <= 3; ++mode) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        TempDir top;
        const bool mosaic = mode == 0, raw = mode == 3;
        const std::string out = top.path() + (raw ? "/new/sub" : "");
        const std::string before = RunShell("date -u +%FT%T").out.substr(0, 19);
        Outcome run = Tool("capture --simulated --exposure 120 --mode " + std::to_string(mode) +
                           (mosaic ? png ? " --mosaic --png" : " --mosaic" : " --overscan") +
                           (raw ? " --raw --frames 2" : "") + " -o " + Quote(out));
        const std::string after = RunShell("date -u +%FT%T").out.substr(0, 19);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, "");  // no progress where no terminal shows it
        EXPECT_NE(run.out.find("wrote " + out), std::string::npos) << run.out;
        const Picture picture = LibraryPicture(mode);
        const std::vector<std::string> names = top.Entries(raw ? "new/sub" : "");
        ASSERT_FALSE(names.empty());
        // Every file is named by the run's stamp and what it holds.
        const std::string stamp = names[0].substr(0, names[0].find("-f001"));
        std::vector<std::string> expectedNames;
        const auto expectImage = [&](const std::string& ending, const std::vector<uint16_t>& pixels,
                                     long width, long height, int quadrant) {
            const std::string path = out + "/" + stamp + ending;
            SCOPED_TRACE(path);
            FitsReader fits(path);
            EXPECT_TRUE(fits.Pixels(width, height) == pixels) << "not the library's pixels";
            const auto range = std::minmax_element(pixels.begin(), pixels.end());
            const double binning = mode == 1 ? 2 : 1;
            const std::pair<const char*, double> reals[] = {
                {"DATAMIN", *range.first}, {"DATAMAX", *range.second}, {"READMODE", mode},
                {"QUADRANT", quadrant},    {"EXPTIME", 0.12},          {"XBINNING", binning},
                {"YBINNING", binning}};
            for (const auto& [key, value] : reals) EXPECT_EQ(fits.Real(key), value) << key;
            EXPECT_EQ(fits.Text("TRIGGER"), "SOFTWARE");
            EXPECT_EQ(fits.Text("INSTRUME"), "Vela2 USB CCD");
            EXPECT_EQ(fits.Text("LIBVER"), "4, 6, 0, 1");
            const std::string date = fits.Text("DATE-OBS").value_or("");
            // Second resolution on both sides: the start lies within the run.
            EXPECT_TRUE(
                std::regex_match(date, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3})")) &&
                date.substr(0, 19) >= before && date.substr(0, 19) <= after)
                << date;
            const double ccd = fits.Real("CCD-TEMP").value_or(1e9);
            EXPECT_TRUE(ccd > -100.0 && ccd < 60.0 && fits.Real("SET-TEMP")) << ccd;
            // fitsverify's exit status counts errors plus warnings.
            Outcome verify = RunShell("fitsverify " + Quote(path));
            EXPECT_EQ(verify.exitCode, 0) << verify.out;
        };
        if (mosaic) {
            std::vector<const uint16_t*> cells;
            for (int q = 0; q < picture.quadrants; ++q) cells.push_back(picture.images[q].data());
            const vela2cam::MosaicLayout layout = vela2cam::Mosaic::LayoutFor(picture.quadrants);
            expectImage("-f001.fits",
                        vela2cam::Mosaic::Assemble(cells, picture.width, picture.height),
                        picture.width * layout.columns, picture.height * layout.rows, 0);
            expectedNames = {stamp + "-f001.fits"};  // no overscan unless asked
            if (png) expectedNames.push_back(stamp + "-f001.png");
        }
        for (int frame = 1; !mosaic && frame <= (raw ? 2 : 1); ++frame) {
            const std::string f = "-f00" + std::to_string(frame);
            if (raw) expectedNames.push_back(stamp + f + ".raw");
            for (int q = 1; q <= picture.quadrants; ++q) {
                const std::string suffix = f + "-q" + std::to_string(q);
                const bool overscan = picture.overscanWidth > 0 && picture.overscanHeight > 0;
                expectedNames.push_back(stamp + suffix + ".fits");
                if (overscan) expectedNames.push_back(stamp + suffix + "-overscan.fits");
                if (frame > 1) continue;
                expectImage(suffix + ".fits", picture.images[q - 1], picture.width, picture.height,
                            q);
                if (overscan)
                    expectImage(suffix + "-overscan.fits", picture.overscans[q - 1],
                                picture.overscanWidth, picture.overscanHeight, q);
            }
        }
        std::sort(expectedNames.begin(), expectedNames.end());
        EXPECT_EQ(names, expectedNames);
    }
}

// Every command answers in JSON a script can parse, a failing one too, and a
// failing initialization names its status and writes nothing.
TEST_F(Vela2camTest, CommandsAnswerInJsonAndFailuresNameTheStatus) {
    TempDir dir;
    const std::string blocks = Quote(dir.path() + "/blocks.bin"), into = " -o " + Quote(dir.path());
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
        {"capture --mode 9" + into, 3, {"ERROR_HEX_FILENAME", "Mode<N>"}},
        {"capture --mode-file " + dir.path() + "/none.ini" + into, 3, {"ERROR_INI_FILENAME"}},
        {"capture --exposure 70000", 2, {"--exposure"}},
        {"capture --config-dir " + Quote(dir.path()), 3, {"no configuration found"}},
    };
    for (const auto& r : runs) {
        SCOPED_TRACE(r.arguments);
        Outcome run = Tool(r.arguments + " --simulated");
        EXPECT_EQ(run.exitCode, r.exitCode) << run.err;
        const bool json = r.arguments.find("--json") != std::string::npos;
        EXPECT_TRUE(!json || ValidJson(run.out)) << run.out;
        for (const std::string& text : r.found)
            EXPECT_NE((json ? run.out : run.err).find(text), std::string::npos)
                << run.out << run.err;
        EXPECT_TRUE(json || r.exitCode == 0 || run.out.empty()) << run.out;
    }
    EXPECT_EQ(ReadText(dir.path() + "/blocks.bin").size(), 192u);
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
    EXPECT_NE(terminal.out.find("exposing [##############################] 100%"),
              std::string::npos)
        << terminal.out;
}

}  // namespace
