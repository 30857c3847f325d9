#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "arrays/CArrayBase.h"
#include "arrays/CArrayError.h"
#include "arrays/FileError.h"
#include "platform/MessageSink.h"
#include "support/TempFolder.h"
#include "support/TextFiles.h"

namespace arrays {
namespace {

using testsupport::ReadText;
using testsupport::WriteText;

class ArrayFiles : public ::testing::Test {
  protected:
    testsupport::TempFolder folder_{"vela2-arrays-"};
};

std::string ErrorText(const std::function<void()>& action) {
    try {
        action();
    } catch (const CArrayError& error) {
        return error.Text();
    }
    return "(no error)";
}

// What each refused call says; the array's size afterwards is part of it.
TEST_F(ArrayFiles, EveryRefusedCallSaysWhereAndWhy) {
    CArrayBase array(3, 2, 258);
    EXPECT_TRUE(array.Size() == 12 && array.Get(2, 1) == 258);
    WriteText(folder_ / "short.img", std::string("\n\0\n\0", 4));
    WriteText(folder_ / "header.img", std::string("\n\0\n", 3));
    const std::string in = "Error in CArrayBase::";
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { array.Get(3, 0); }, in + "GetPtrRow \nInvalid Coordinates during Get."},
        {[&] { array.Put(0, -1, 1); }, in + "GetPtrRow \nInvalid Coordinates during Put."},
        {[&] { array.SaveImageFile(""); }, in + "SaveImageFile \nNo file name specified."},
        {[&] { array.SaveBinaryFile(""); }, in + "SaveBinaryFile \nNo file name specified."},
        {[&] { array.SetSize(-2, 3, 0); }, in + "SetSize - Cannot allocate memory for array."},
        {[&] { array.SetSize(0x10000, 0x10000, 0); },
         in + "SetSize - Cannot allocate memory for array."},
        {[&] { array.OpenImageFile(""); }, in + "OpenImageFile \nNo file name specified."},
        {[&] { array.OpenImageFile(folder_ / "missing.img"); },
         in + "OpenImageFile \nFile does not exist."},
        {[&] { array.OpenImageFile(folder_ / "header.img"); },
         in + "OpenImageFile \nError read file header."},
        {[&] { array.OpenBinaryFile(1, 1, ""); }, in + "OpenBinaryFile \nNo file name specified."},
        {[&] { array.OpenBinaryFile(1, 1, folder_ / "gone.bin"); },
         in + "OpenBinaryFile \nFile does not exist."},
        {[&] { array.OpenImageFile(folder_ / "short.img"); },
         in + "OpenImageFile \nError read file."},
    };
    for (const auto& [action, text] : cases) EXPECT_EQ(ErrorText(action), text);
    EXPECT_TRUE(array.Rows() == 10 && array.Columns() == 10) << "a short image file's size stays";
    ErrorText([&] { array.OpenBinaryFile(1, 1, ""); });
    EXPECT_EQ(array.Rows(), 1) << "sized before the name is looked at";
    CArrayBase empty;
    EXPECT_EQ(empty.Pixels(), nullptr);
    EXPECT_NE(ErrorText([&] { empty.Get(0, 0); }), "(no error)");
    EXPECT_EQ(empty.SaveBinaryFile(folder_ / "none.bin"), -1);
    EXPECT_EQ(folder_.Entries().size(), 2u) << "nothing written";
}

// Both formats round trip; an image replaces an older, longer file whole.
TEST_F(ArrayFiles, FilesRoundTripInTheirFormats) {
    WriteText(folder_ / "frame.img", std::string(100, '\xAA'));
    CArrayBase array(3, 2, 0);
    for (int i = 0; i < 6; ++i) array.Put(i / 2, i % 2, static_cast<uint16_t>(0x0100 * i + i));
    array.SaveImageFile("  " + folder_ / "frame.img" + " ");
    const std::string bytes = ReadText(folder_ / "frame.img");
    ASSERT_EQ(bytes.size(), 16u) << "nothing of the longer older file remains";
    EXPECT_EQ(bytes.substr(0, 7), std::string("\x02\0\x03\0\0\0\x01", 7));
    EXPECT_EQ(folder_.Entries().size(), 1u);  // nothing left over from writing it
    CArrayBase back;
    back.OpenImageFile(folder_ / "frame.img");
    EXPECT_EQ((std::vector<int>{back.Rows(), back.Columns(), back.Get(2, 1)}),
              (std::vector<int>{3, 2, 0x0505}));
    WriteText(folder_ / "empty.img", std::string(4, '\0'));
    back.OpenImageFile(folder_ / "empty.img");
    EXPECT_TRUE(back.Size() == 0 && back.Pixels() == nullptr);

    EXPECT_EQ(array.SaveBinaryFile(folder_ / "pixels.bin" + "\t"), 1);
    EXPECT_EQ(ReadText(folder_ / "pixels.bin").size(), 12u);
    back.OpenBinaryFile(3, 2, " " + folder_ / "pixels.bin");
    EXPECT_EQ(back.Get(2, 1), 0x0505);
    EXPECT_EQ(ErrorText([&] { back.OpenBinaryFile(4, 3, folder_ / "pixels.bin"); }),
              "Error in CArrayBase::OpenBinaryFile \nError reading file.");
}

TEST_F(ArrayFiles, SaveImageFileTellsTheUserAndEmptiesTheArray) {
    platform::ScopedMessageCapture capture;
    CArrayBase array(2, 2, 1);
    const std::string name = folder_ / "no-such-directory/frame.img";
    array.SaveImageFile(name);
    const std::vector<platform::Message> messages = capture.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Error  Error opening file " + name + ".");
    EXPECT_EQ(messages[0].caption, platform::ApplicationTitle());
    EXPECT_TRUE(array.Pixels() == nullptr && array.Rows() == 0);
#ifndef _WIN32
    // A failure the file system names: its cause leads the message.
    array.SetSize(2, 2, 1);
    array.SaveImageFile(folder_.path());
    ASSERT_EQ(capture.Messages().size(), 2u);
    EXPECT_EQ(capture.Messages()[1].text,
              "accessDenied\n\nError  Error opening file " + folder_.path() + ".");
#endif
}

// The cause texts an application shows for the file system's errors.
TEST(FileError, CausesAndTexts) {
    const std::pair<int, const char*> cases[] = {
        {ENOENT, "File not found\n"},   {EACCES, "accessDenied\n"}, {ENOSPC, "diskFull\n"},
        {EMFILE, "tooManyOpenFiles\n"}, {EIO, "hardIO\n"},          {0, "Unknown file error.\n"}};
    for (const auto& [error, text] : cases)
        EXPECT_STREQ(FileErrorText(FileCauseFromErrno(error)), text);
    EXPECT_STREQ(FileErrorText(FileCause::EndOfFile), "endOfFile\n");
}

}  // namespace
}  // namespace arrays
