#include "arrays/CArrayBase.h"

#include <errno.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "arrays/CArrayError.h"
#include "arrays/FileError.h"
#include "platform/AtomicFile.h"
#include "platform/ByteOrder.h"
#include "platform/Memory.h"
#include "platform/MessageSink.h"
#include "platform/SystemError.h"

namespace arrays {
namespace {

constexpr const char* kNoArrayMemory =
    "Error in CArrayBase::SetSize - Cannot allocate memory for array.";
constexpr const char* kNoRowMemory =
    "Error in CArrayBase::SetSize - Cannot allocate memory for rows.";
constexpr const char* kBadGet = "Error in CArrayBase::GetPtrRow \nInvalid Coordinates during Get.";
constexpr const char* kBadPut = "Error in CArrayBase::GetPtrRow \nInvalid Coordinates during Put.";

struct FileTexts {
    const char* noName;
    const char* missing;
    const char* open;
};
constexpr FileTexts kImageRead = {"Error in CArrayBase::OpenImageFile \nNo file name specified.",
                                  "Error in CArrayBase::OpenImageFile \nFile does not exist.",
                                  "Error in CArrayBase::OpenImageFile \nError opening file."};
constexpr FileTexts kBinaryRead = {"Error in CArrayBase::OpenBinaryFile \nNo file name specified.",
                                   "Error in CArrayBase::OpenBinaryFile \nFile does not exist.",
                                   "Error in CArrayBase::OpenBinaryFile \nError opening file."};
constexpr FileTexts kBinaryWrite = {"Error in CArrayBase::SaveBinaryFile \nNo file name specified.",
                                    nullptr,
                                    "Error in CArrayBase::SaveBinaryFile \nError opening file."};
constexpr FileTexts kImageWrite = {"Error in CArrayBase::SaveImageFile \nNo file name specified.",
                                   nullptr,
                                   "Error in CArrayBase::SaveImageFile \nError opening file."};
constexpr const char* kBadHeader = "Error in CArrayBase::OpenImageFile \nError read file header.";
constexpr const char* kShortImage = "Error in CArrayBase::OpenImageFile \nError read file.";
constexpr const char* kShortBinary = "Error in CArrayBase::OpenBinaryFile \nError reading file.";

// A failure the file system reported while the file was open: it carries
// the cause rather than one of the array's own texts.
struct FileFailure {
    FileCause cause;
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string Trimmed(const std::string& name) {
    const char* space = " \t\r\n\v\f";
    const size_t first = name.find_first_not_of(space);
    if (first == std::string::npos) return std::string();
    return name.substr(first, name.find_last_not_of(space) - first + 1);
}

File OpenForReading(const std::string& name, const FileTexts& texts, bool& missing) {
    File file(std::fopen(name.c_str(), "rb"));
    missing = !file && errno == ENOENT;
    if (!file && !missing) throw CArrayError(texts.open);
    return file;
}

// Bytes actually read; a read error of the file system is a FileFailure.
size_t ReadBytes(std::FILE* file, void* into, size_t bytes) {
    const size_t got = std::fread(into, 1, bytes, file);
    if (got < bytes && std::ferror(file)) throw FileFailure{FileCauseFromErrno(errno)};
    return got;
}

void WriteBytes(std::FILE* file, const void* from, size_t bytes) {
    if (bytes != 0 && std::fwrite(from, 1, bytes, file) != bytes)
        throw FileFailure{FileCauseFromErrno(errno)};
}

std::string Format(const char* format, const char* a, const char* b = nullptr) {
    const int length = std::snprintf(nullptr, 0, format, a, b);
    std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    std::snprintf(&text[0], text.size(), format, a, b);
    text.resize(text.size() - 1);
    return text;
}

}  // namespace

CArrayBase::CArrayBase(int32_t rows, int32_t columns, uint16_t fill) {
    try {
        Resize(rows, columns, fill);
    } catch (...) {
        Release();  // no destructor runs for an object that was never made
        throw;
    }
}

CArrayBase::~CArrayBase() { Release(); }

void CArrayBase::SetSize(int32_t rows, int32_t columns, uint16_t fill) {
    Resize(rows, columns, fill);
}

void CArrayBase::Resize(int32_t rows, int32_t columns, int32_t fill) {
    Release();
    rows_ = rows;
    columns_ = columns;
    const int64_t bytes = int64_t{rows} * columns * 2;
    if (bytes == 0) return;
    if (rows < 0 || columns < 0 || bytes > std::numeric_limits<int32_t>::max()) {
        rows_ = columns_ = 0;
        throw CArrayError(kNoArrayMemory);
    }
    size_ = static_cast<int32_t>(bytes);
    pixels_ = static_cast<uint16_t*>(Allocate(static_cast<size_t>(size_)));
    if (!pixels_) throw CArrayError(kNoArrayMemory);
    rowTable_ = static_cast<uint16_t**>(Allocate(sizeof(uint16_t*) * static_cast<size_t>(rows)));
    if (!rowTable_) throw CArrayError(kNoRowMemory);
    for (int32_t r = 0; r < rows; ++r) rowTable_[r] = pixels_ + int64_t{r} * columns;
    if (fill > 0)
        for (int64_t i = 0; i < int64_t{rows} * columns; ++i)
            pixels_[i] = static_cast<uint16_t>(fill);
}

void CArrayBase::Release() noexcept {
    Free(pixels_, static_cast<size_t>(size_));
    Free(rowTable_, sizeof(uint16_t*) * static_cast<size_t>(rows_ > 0 ? rows_ : 0));
    pixels_ = nullptr;
    rowTable_ = nullptr;
    rows_ = columns_ = size_ = 0;
}

uint16_t* CArrayBase::Element(int32_t row, int32_t column, const char* error) const {
    if (row < 0 || row >= rows_ || column < 0 || column >= columns_ || !pixels_ || !rowTable_)
        throw CArrayError(error);
    return rowTable_[row] + column;
}

uint16_t CArrayBase::Get(int32_t row, int32_t column) const {
    return *Element(row, column, kBadGet);
}

void CArrayBase::Put(int32_t row, int32_t column, uint16_t value) {
    *Element(row, column, kBadPut) = value;
}

void CArrayBase::OpenImageFile(const std::string& fileName) {
    if (fileName.empty()) throw CArrayError(kImageRead.noName);
    try {
        bool missing = false;
        File file = OpenForReading(fileName, kImageRead, missing);
        if (missing) {
            Release();
            throw CArrayError(kImageRead.missing);
        }
        uint8_t header[4];
        if (ReadBytes(file.get(), header, 2) < 2 || ReadBytes(file.get(), header + 2, 2) < 2)
            throw CArrayError(kBadHeader);
        Resize(platform::LoadLe16(header + 2), platform::LoadLe16(header), -1);
        if (pixels_ &&
            ReadBytes(file.get(), pixels_, static_cast<size_t>(size_)) < static_cast<size_t>(size_))
            throw CArrayError(kShortImage);
    } catch (const FileFailure& failure) {
        Release();
        throw CArrayError(FileErrorText(failure.cause));
    }
}

// The name is trimmed but keeps its case: the case of a name matters on
// some file systems and is ignored by the others.
void CArrayBase::OpenBinaryFile(int32_t rows, int32_t columns, const std::string& fileName) {
    Resize(rows, columns, -1);
    if (fileName.empty()) throw CArrayError(kBinaryRead.noName);
    try {
        bool missing = false;
        File file = OpenForReading(Trimmed(fileName), kBinaryRead, missing);
        if (missing) {
            Release();
            throw CArrayError(kBinaryRead.missing);
        }
        if (pixels_ &&
            ReadBytes(file.get(), pixels_, static_cast<size_t>(size_)) < static_cast<size_t>(size_))
            throw CArrayError(kShortBinary);
    } catch (const FileFailure& failure) {
        Release();
        throw CArrayError(FileErrorText(failure.cause));
    }
}

// Written beside the target and renamed over it, so a reader never finds a
// half-written frame and a failed save leaves the old file alone.
void CArrayBase::WriteFile(const std::string& name, bool withHeader) {
    const FileTexts& texts = withHeader ? kImageWrite : kBinaryWrite;
    platform::AtomicFile target(name);
    File file(std::fopen(target.TemporaryPath().c_str(), "wb"));
    if (!file) throw CArrayError(texts.open);
    if (withHeader) {
        uint8_t header[4];
        platform::StoreLe16(header, static_cast<uint16_t>(columns_));
        platform::StoreLe16(header + 2, static_cast<uint16_t>(rows_));
        WriteBytes(file.get(), header, sizeof header);
    }
    WriteBytes(file.get(), pixels_, pixels_ ? static_cast<size_t>(size_) : 0);
    if (std::fclose(file.release()) != 0) throw FileFailure{FileCauseFromErrno(errno)};
    if (const int error = target.Commit(platform::Existing::Replace))
        throw FileFailure{FileCauseFromErrno(error)};
}

int32_t CArrayBase::SaveBinaryFile(const std::string& fileName) {
    if (!pixels_) return -1;
    if (fileName.empty()) throw CArrayError(kBinaryWrite.noName);
    try {
        WriteFile(Trimmed(fileName), false);
    } catch (const FileFailure& failure) {
        throw CArrayError(FileErrorText(failure.cause));
    }
    return 1;
}

void CArrayBase::SaveImageFile(const std::string& fileName) {
    if (fileName.empty()) throw CArrayError(kImageWrite.noName);
    const std::string name = Trimmed(fileName);
    try {
        WriteFile(name, true);
    } catch (const FileFailure& failure) {
        Release();
        platform::ShowMessage(
            Format("%s\nError  Error opening file %s.", FileErrorText(failure.cause), name.c_str()),
            platform::ApplicationTitle(), platform::MessageIcon::None);
    } catch (...) {
        Release();
        platform::ShowMessage(Format("Error  Error opening file %s.", name.c_str()),
                              platform::ApplicationTitle(), platform::MessageIcon::None);
    }
}

void* CArrayBase::Allocate(size_t bytes) {
    void* memory = platform::PageAllocate(bytes);
    if (!memory)
        platform::ShowMessage(platform::SystemErrorText(platform::LastSystemError()),
                              "GetLastError", platform::MessageIcon::Information);
    return memory;
}

void CArrayBase::Free(void* memory, size_t bytes) { platform::PageFree(memory, bytes); }

}  // namespace arrays
