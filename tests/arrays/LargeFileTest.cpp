// A file past 2 GiB, as a long recording of raw frames becomes: a 32-bit
// build must find it and read its first frame as a 64-bit one does.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

#include "arrays/CArrayBase.h"
#include "platform/FileSystem.h"
#include "support/TextFiles.h"

namespace arrays {
namespace {

namespace fs = std::filesystem;

TEST(LargeFile, IsFoundAndItsFirstPixelsRead) {
    // In the build's own folder: two builds may run this program at once.
    const fs::path path = fs::current_path() / "vela2-arrays-large-file.bin";
    ASSERT_TRUE(testsupport::WriteText(path.string(), "\x34\x12\xEF\xBE"));  // the first pixels
    // Sparse: the file takes no room beyond its first pixels.
    fs::resize_file(path, uintmax_t{3} << 30);

    EXPECT_TRUE(platform::FileExists(path.string()));
    CArrayBase frame;
    EXPECT_NO_THROW(frame.OpenBinaryFile(1, 2, path.string()));
    fs::remove(path);
    ASSERT_NE(frame.Pixels(), nullptr);
    EXPECT_TRUE(frame.Pixels()[0] == 0x1234 && frame.Pixels()[1] == 0xBEEF);
}

}  // namespace
}  // namespace arrays
