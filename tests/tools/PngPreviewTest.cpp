// The PNG preview: the percentile stretch and a file any viewer decodes.

#include <gtest/gtest.h>

#include <vector>

#include "PngPreview.h"
#include "tools/ToolTestSupport.h"

#ifdef VELA2CAM_HAVE_PNG
#include <png.h>
#endif

namespace {

using vela2cam::ImageView;
using vela2cam::PngPreview;

TEST(PngPreviewTest, StretchSpansThePercentilesAndClampsOutliers) {
    // 1000 pixels 1000..1999, one dark and one hot outlier.
    std::vector<uint16_t> pixels;
    for (uint16_t v = 1000; v < 2000; ++v) pixels.push_back(v);
    pixels.push_back(0);
    pixels.push_back(65535);
    ImageView image{static_cast<int32_t>(pixels.size()), 1, pixels.data()};
    vela2cam::StretchRange range = PngPreview::RangeOf(image, 0.5, 99.5);
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
}

#ifdef VELA2CAM_HAVE_PNG
TEST(PngPreviewTest, WritesAGreyPngOfTheImagesSize) {
    vela2cam_test::TempDir dir;
    std::vector<uint16_t> pixels(30 * 20);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint16_t>(i * 100);
    std::string path = dir.path() + "/p.png";
    std::string error;
    ASSERT_TRUE(PngPreview::Write(path, ImageView{30, 20, pixels.data()}, error)) << error;

    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&png, path.c_str())) << png.message;
    png.format = PNG_FORMAT_GRAY;
    std::vector<uint8_t> back(PNG_IMAGE_SIZE(png));
    ASSERT_TRUE(png_image_finish_read(&png, nullptr, back.data(), 0, nullptr)) << png.message;
    EXPECT_EQ(png.width, 30u);
    EXPECT_EQ(png.height, 20u);
    EXPECT_EQ(back.front(), 0);
    EXPECT_EQ(back.back(), 255);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"p.png"});
}
#endif

}  // namespace
