#include <errno.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "arrays/CArrayBase.h"
#include "arrays/CArrayError.h"
#include "arrays/FileError.h"
#include "platform/MessageSink.h"

namespace arrays {
namespace {

namespace fs = std::filesystem;

class ArrayFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::remove_all(directory_);
        fs::create_directories(directory_);
    }
    void TearDown() override { fs::remove_all(directory_); }

    std::string Path(const char* name) const { return (directory_ / name).string(); }

    static std::vector<uint8_t> Bytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    static void Write(const std::string& path, const std::vector<uint8_t>& bytes) {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    size_t Entries() const { return std::distance(fs::directory_iterator(directory_), {}); }

    const fs::path directory_ = fs::temp_directory_path() /
                                (std::string("vela2-arrays-") +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
};

std::string ErrorText(const std::function<void()>& action) {
    try {
        action();
    } catch (const CArrayError& error) {
        return error.Text();
    }
    return "(no error)";
}

TEST(CArrayBase, SizeFillAndCheckedAccess) {
    CArrayBase array(3, 2, 258);
    EXPECT_EQ(array.Rows(), 3);
    EXPECT_EQ(array.Columns(), 2);
    EXPECT_EQ(array.Size(), 12);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 2; ++c) EXPECT_EQ(array.Get(r, c), 258);
    array.Put(2, 1, 7);
    EXPECT_EQ(array.Pixels()[5], 7);
    EXPECT_EQ(ErrorText([&] { array.Get(3, 0); }),
              "Error in CArrayBase::GetPtrRow \nInvalid Coordinates during Get.");
    EXPECT_EQ(ErrorText([&] { array.Put(0, -1, 1); }),
              "Error in CArrayBase::GetPtrRow \nInvalid Coordinates during Put.");

    CArrayBase empty;
    EXPECT_EQ(empty.Pixels(), nullptr);
    EXPECT_EQ(empty.Size(), 0);
    EXPECT_NE(ErrorText([&] { empty.Get(0, 0); }), "(no error)");
    EXPECT_EQ(ErrorText([&] { empty.SetSize(-2, 3, 0); }),
              "Error in CArrayBase::SetSize - Cannot allocate memory for array.");
    EXPECT_EQ(ErrorText([&] { empty.SetSize(0x10000, 0x10000, 0); }),
              "Error in CArrayBase::SetSize - Cannot allocate memory for array.");
}

TEST_F(ArrayFiles, ImageFileReplacesAnOlderOneWholeAndRoundTrips) {
    Write(Path("frame.img"), std::vector<uint8_t>(100, 0xAA));
    CArrayBase array(3, 2, 0);
    for (int i = 0; i < 6; ++i) array.Put(i / 2, i % 2, static_cast<uint16_t>(0x0100 * i + i));
    array.SaveImageFile("  " + Path("frame.img") + " ");
    const std::vector<uint8_t> bytes = Bytes(Path("frame.img"));
    ASSERT_EQ(bytes.size(), 16u) << "nothing of the longer older file remains";
    EXPECT_EQ((std::vector<uint8_t>(bytes.begin(), bytes.begin() + 6)),
              (std::vector<uint8_t>{0x02, 0x00, 0x03, 0x00, 0x00, 0x00}));
    EXPECT_EQ(bytes[6], 0x01);  // pixel (0, 1) = 0x0101, little-endian
    EXPECT_EQ(Entries(), 1u);   // nothing left over from writing it

    CArrayBase back;
    back.OpenImageFile(Path("frame.img"));
    EXPECT_EQ(back.Rows(), 3);
    EXPECT_EQ(back.Columns(), 2);
    EXPECT_EQ(back.Get(2, 1), 0x0505);
}

TEST_F(ArrayFiles, ImageFileReadErrors) {
    CArrayBase array(2, 2, 9);
    EXPECT_EQ(ErrorText([&] { array.OpenImageFile(""); }),
              "Error in CArrayBase::OpenImageFile \nNo file name specified.");
    EXPECT_EQ(ErrorText([&] { array.OpenImageFile(Path("missing.img")); }),
              "Error in CArrayBase::OpenImageFile \nFile does not exist.");
    EXPECT_EQ(array.Pixels(), nullptr);

    Write(Path("short.img"), {10, 0, 10, 0});
    EXPECT_EQ(ErrorText([&] { array.OpenImageFile(Path("short.img")); }),
              "Error in CArrayBase::OpenImageFile \nError read file.");
    EXPECT_EQ(array.Rows(), 10);  // the new size stays
    EXPECT_EQ(array.Columns(), 10);

    Write(Path("header.img"), {10, 0, 10});
    EXPECT_EQ(ErrorText([&] { array.OpenImageFile(Path("header.img")); }),
              "Error in CArrayBase::OpenImageFile \nError read file header.");

    Write(Path("empty.img"), {0, 0, 0, 0});
    array.OpenImageFile(Path("empty.img"));
    EXPECT_EQ(array.Size(), 0);
    EXPECT_EQ(array.Pixels(), nullptr);
}

TEST_F(ArrayFiles, BinaryFiles) {
    CArrayBase empty;
    EXPECT_EQ(empty.SaveBinaryFile(Path("none.bin")), -1);
    EXPECT_EQ(Entries(), 0u);

    CArrayBase array(2, 3, 0x1234);
    EXPECT_EQ(ErrorText([&] { array.SaveBinaryFile(""); }),
              "Error in CArrayBase::SaveBinaryFile \nNo file name specified.");
    EXPECT_EQ(array.SaveBinaryFile(Path("pixels.bin") + "\t"), 1);
    EXPECT_EQ(Bytes(Path("pixels.bin")).size(), 12u);

    CArrayBase back;
    back.OpenBinaryFile(2, 3, " " + Path("pixels.bin"));
    EXPECT_EQ(back.Get(1, 2), 0x1234);
    EXPECT_EQ(ErrorText([&] { back.OpenBinaryFile(4, 3, Path("pixels.bin")); }),
              "Error in CArrayBase::OpenBinaryFile \nError reading file.");
    EXPECT_EQ(ErrorText([&] { back.OpenBinaryFile(1, 1, Path("gone.bin")); }),
              "Error in CArrayBase::OpenBinaryFile \nFile does not exist.");
    EXPECT_EQ(back.Size(), 0);
    EXPECT_EQ(ErrorText([&] { back.OpenBinaryFile(1, 1, ""); }),
              "Error in CArrayBase::OpenBinaryFile \nNo file name specified.");
    EXPECT_EQ(back.Rows(), 1);  // sized before the name is looked at
}

TEST_F(ArrayFiles, SaveImageFileTellsTheUserAndEmptiesTheArray) {
    platform::ScopedMessageCapture capture;
    CArrayBase array(2, 2, 1);
    const std::string name = Path("no-such-directory/frame.img");
    array.SaveImageFile(name);
    const std::vector<platform::Message> messages = capture.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Error  Error opening file " + name + ".");
    EXPECT_EQ(messages[0].caption, platform::ApplicationTitle());
    EXPECT_EQ(array.Pixels(), nullptr);
    EXPECT_EQ(array.Rows(), 0);
    EXPECT_EQ(ErrorText([&] { array.SaveImageFile(""); }),
              "Error in CArrayBase::SaveImageFile \nNo file name specified.");
}

TEST(FileError, CausesAndTexts) {
    const std::pair<int, const char*> cases[] = {
        {ENOENT, "File not found\n"},   {EACCES, "accessDenied\n"}, {ENOSPC, "diskFull\n"},
        {EMFILE, "tooManyOpenFiles\n"}, {EIO, "hardIO\n"},          {0, "Unknown file error.\n"}};
    for (const auto& c : cases) EXPECT_STREQ(FileErrorText(FileCauseFromErrno(c.first)), c.second);
    EXPECT_STREQ(FileErrorText(FileCause::EndOfFile), "endOfFile\n");
}

}  // namespace
}  // namespace arrays
