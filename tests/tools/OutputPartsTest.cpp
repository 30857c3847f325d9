// The pieces of the tool's output: JSON text, mosaics, the progress line,
// status names and the mode's binning.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "Json.h"
#include "ModeFile.h"
#include "Mosaic.h"
#include "Progress.h"
#include "Status.h"
#include "Vela2UsbCameraDll.h"
#include "tools/ToolTestSupport.h"

namespace {

using vela2cam::JsonValue;
using vela2cam_test::JsonSyntax;

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
    std::string text = root.Serialize();
    EXPECT_TRUE(JsonSyntax::Valid(text)) << text;
    EXPECT_EQ(text,
              "{\"quote\":\"say \\\"hi\\\"\\\\ \\n\\t\\u0001\",\"bytes\":\"caf\\u00e9\","
              "\"nan\":null,\"real\":0.25,\"list\":[1,null,true],\"short\":24.99,"
              "\"exact\":0.30000000000000004}");
}

TEST(JsonTest, TheSyntaxCheckRefusesWhatParsersRefuse) {
    for (const char* bad : {"", "{", "{\"a\":1,}", "[1,]", "[01]", "1.", "-", "{'a':1}", "[1] [2]",
                            "\"\x01\"", "\"\\x\"", "\"\\u12\"", "nul"})
        EXPECT_FALSE(JsonSyntax::Valid(bad)) << bad;
    EXPECT_TRUE(JsonSyntax::Valid(" {\"a\": [0, -1.5e3, \"\\u00e9\"]} "));
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
        vela2cam::MosaicLayout layout = vela2cam::Mosaic::LayoutFor(l.quadrants);
        EXPECT_EQ(std::make_pair(layout.columns, layout.rows), std::make_pair(l.columns, l.rows));
        std::vector<uint16_t> mosaic = vela2cam::Mosaic::Assemble(pointers, width, height);
        ASSERT_EQ(mosaic.size(), size_t(width * l.columns) * height * l.rows);
        for (int cell = 0; cell < l.columns * l.rows; ++cell) {
            int left = (cell % l.columns) * width, top = (cell / l.columns) * height;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    EXPECT_EQ(mosaic[(top + y) * width * l.columns + left + x],
                              cell < l.quadrants ? images[cell][y * width + x] : 0)
                        << "cell " << cell + 1 << " at " << x << "," << y;
        }
    }
    EXPECT_TRUE(vela2cam::Mosaic::Assemble({}, width, height).empty());
}

// The bar fills with the exposure and stops at full; it is drawn only when
// enabled, and the line is ended.
TEST(ProgressTest, TheBarFillsWithTheExposureAndDrawsOnlyWhenEnabled) {
    using vela2cam::Progress;
    EXPECT_EQ(Progress::RenderBar("x", 0, 1000, 10), "x [----------]   0%  0.0/1.0 s");
    EXPECT_EQ(Progress::RenderBar("x", 500, 1000, 10), "x [#####-----]  50%  0.5/1.0 s");
    EXPECT_EQ(Progress::RenderBar("x", 1500, 1000, 10), "x [##########] 100%  1.0/1.0 s");
    EXPECT_EQ(Progress::RenderBar("x", 0, 0, 4), "x [####] 100%  0.0/0.0 s");
    // No overflow at the longest exposure.
    EXPECT_NE(Progress::RenderBar("x", 65535, 65535, 4).find("100%"), std::string::npos);
    EXPECT_NE(Progress::RenderSpinner("r", 0), Progress::RenderSpinner("r", 1));
    for (bool enabled : {false, true}) {
        std::FILE* out = std::tmpfile();
        ASSERT_NE(out, nullptr);
        {
            Progress progress(out, enabled);
            progress.Exposure("e", 10, 100);
            progress.Exposure("e", 20, 100);
            progress.Finish("done");
            progress.Readout("r");
            progress.Finish();
        }
        std::rewind(out);
        std::string text;
        for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
        std::fclose(out);
        EXPECT_EQ(text.find("\rdone") != std::string::npos, enabled) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), enabled ? 2 : 0);
        EXPECT_TRUE(!enabled || text.back() == '\n') << text;
    }
}

// The names come from the library; what failing runs print is checked end to end.
TEST(StatusTest, NamesComeFromTheLibraryAndUnknownCodesStayNumbers) {
    EXPECT_EQ(vela2cam::StatusName(INVALID_USB_DEVICE), "INVALID_USB_DEVICE");
    EXPECT_EQ(vela2cam::StatusName(999), "status 999");
}

TEST(ModeFileTest, BinningComesFromTheModesEpalFile) {
    vela2cam_test::TempDir dir;
    std::string epal(400, '\0');
    epal[18] = 2;
    epal[21] = 4;
    std::ofstream(dir.path() + "/b.hex", std::ios::binary) << epal;
    std::ofstream(dir.path() + "/modes.ini") << "; modes\n[Mode1]\nConfiguration File=/nowhere\n"
                                             << "[ mode2 ]\r\n configuration file = b.hex \r\n";
    std::string modes = dir.path() + "/modes.ini";
    EXPECT_EQ(vela2cam::ModeFile::EpalFileFor(modes, 2), "b.hex");
    EXPECT_EQ(vela2cam::ModeFile::EpalFileFor(modes, 3), "");
    auto binning = vela2cam::ModeFile::BinningFor(modes, 2);  // relative to the mode file
    ASSERT_TRUE(binning.has_value());
    EXPECT_EQ(std::make_pair(binning->columns, binning->rows), std::make_pair(2, 4));
    EXPECT_FALSE(vela2cam::ModeFile::BinningFor(modes, 1).has_value());
    EXPECT_FALSE(vela2cam::ModeFile::BinningFor(dir.path() + "/none.ini", 2).has_value());
    // A factor the camera cannot have is no binning at all.
    epal[18] = 3;
    EXPECT_FALSE(vela2cam::ModeFile::BinningOf(epal).has_value());
    EXPECT_FALSE(vela2cam::ModeFile::BinningOf(std::string(10, '\1')).has_value());
}

}  // namespace
