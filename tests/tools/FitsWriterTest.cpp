// FITS files as any reader sees them: unsigned pixels through BZERO, the
// header cards, and files that appear whole or not at all.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FitsWriter.h"
#include "tools/FitsReader.h"
#include "tools/ToolTestSupport.h"

namespace {

using vela2cam::FitsCard;
using vela2cam::FitsWriter;
using vela2cam::ImageView;
using vela2cam_test::FitsReader;
using vela2cam_test::TempDir;

std::vector<uint16_t> Ramp(int width, int height) {
    std::vector<uint16_t> pixels(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint16_t>(i * 977);
    pixels[0] = 0;
    pixels[1] = 65535;  // both ends of the unsigned range survive the offset
    return pixels;
}

// Read back with cfitsio and checked by fitsverify, which counts warnings as
// well as errors.
TEST(FitsWriterTest, UnsignedPixelsAndCardsReadBackAsWrittenAndVerify) {
    TempDir dir;
    const int width = 37, height = 11;  // not square: the axes must not swap
    std::vector<uint16_t> pixels = Ramp(width, height);
    std::string path = dir.path() + "/ramp.fits";
    std::string error;
    ASSERT_TRUE(FitsWriter::Write(
        path, ImageView{width, height, pixels.data()},
        {FitsCard::Text("DATE-OBS", "2026-12-06T03:45:12.123", "UTC"),
         FitsCard::Real("CCD-TEMP", -19.87, "[C]"), FitsCard::Integer("READMODE", 3, "")},
        error))
        << error;
    FitsReader fits(path);
    int bitpix = 0;
    long w = 0, h = 0;
    ASSERT_TRUE(fits.Shape(bitpix, w, h));
    EXPECT_EQ(bitpix, 16);
    EXPECT_EQ(w, width);
    EXPECT_EQ(h, height);
    EXPECT_EQ(fits.Real("BZERO"), 32768.0);
    EXPECT_EQ(fits.Pixels(w, h), pixels);
    EXPECT_EQ(fits.Text("DATE-OBS"), "2026-12-06T03:45:12.123");
    EXPECT_EQ(fits.Real("CCD-TEMP"), -19.87);
    EXPECT_EQ(fits.Real("READMODE"), 3.0);
    EXPECT_EQ(fits.Real("DATAMIN"), 0.0);
    EXPECT_EQ(fits.Real("DATAMAX"), 65535.0);
    vela2cam_test::Outcome verify = vela2cam_test::Fitsverify(path);
    EXPECT_EQ(verify.exitCode, 0) << verify.out << verify.err;
}

// A refused write leaves no file, not even its temporary one, and an existing
// file is never replaced.
TEST(FitsWriterTest, FailedWriteLeavesNothingBehindAndNothingIsReplaced) {
    TempDir dir;
    std::vector<uint16_t> pixels = Ramp(8, 8), other(64, 7);
    auto refused = [&](const std::string& name, int width, std::vector<FitsCard> cards,
                       const uint16_t* data) {
        std::string error;
        return !FitsWriter::Write(dir.path() + name, ImageView{width, 8, data}, cards, error) &&
               !error.empty();
    };
    EXPECT_TRUE(refused("/missing/x.fits", 8, {}, pixels.data()));
    EXPECT_TRUE(refused("/empty.fits", 0, {}, pixels.data()));
    EXPECT_TRUE(refused("/badkey.fits", 8, {FitsCard::Integer("BAD KEY=", 1, "")}, pixels.data()));
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{});

    std::string error, path = dir.path() + "/same.fits";
    ASSERT_TRUE(FitsWriter::Write(path, ImageView{8, 8, pixels.data()}, {}, error));
    EXPECT_FALSE(FitsWriter::Write(path, ImageView{8, 8, other.data()}, {}, error));
    EXPECT_EQ(error, path + " exists already");
    EXPECT_EQ(FitsReader(path).Pixels(8, 8), pixels);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"same.fits"});
}

}  // namespace
