// Arbitrary bytes as a raw image file or a binary pixel file through the
// array's readers. A file that holds its header and every pixel it declares
// must load exactly; any other must throw the array's error and leave an
// array whose sizes agree with its memory. What loads must save back to the
// same bytes.
//
// Input layout: byte 0 bit 0 chooses the format (0 image file, 1 binary
// file); a binary file's rows and columns follow as two signed 16-bit
// little-endian values; the rest is the file.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "arrays/CArrayBase.h"
#include "arrays/CArrayError.h"

using arrays::CArrayBase;
using arrays::CArrayError;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr size_t kImageHeaderSize = 4;
// Larger arrays are read but not saved back: the run stays fast.
constexpr int64_t kMaxRoundTripBytes = 64 * 1024;

void Check(bool condition) {
    if (!condition) std::abort();
}

// One folder of the process's own, in memory where the system has one, so
// that the saves' flushes cost nothing; removed when the fuzzer ends.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                              std::string("/vela2-arrays-XXXXXX");
        if (mkdtemp(&pattern[0]) == nullptr) std::abort();
        folder_ = pattern;
    }
    ~ScratchFolder() {
        for (const char* name : {kInput, kImageCopy, kBinaryCopy}) std::remove(Path(name).c_str());
        rmdir(folder_.c_str());
    }
    std::string Path(const char* name) const { return folder_ + "/" + name; }

    static constexpr const char* kInput = "input";
    static constexpr const char* kImageCopy = "copy.img";
    static constexpr const char* kBinaryCopy = "copy.bin";

  private:
    std::string folder_;
};

const ScratchFolder& Scratch() {
    static ScratchFolder folder;
    return folder;
}

void WriteWhole(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    Check(file != nullptr);
    Check(size == 0 || std::fwrite(data, 1, size, file) == size);
    Check(std::fclose(file) == 0);
}

Bytes ReadWhole(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

uint16_t Le16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)); }

bool PixelsAre(const CArrayBase& array, const uint8_t* bytes) {
    return array.Size() == 0 || std::memcmp(array.Pixels(), bytes, array.Size()) == 0;
}

// Whatever happened, the sizes describe the memory the array holds.
void CheckConsistent(const CArrayBase& array) {
    Check(array.Size() >= 0 && (array.Size() == 0) == (array.Pixels() == nullptr));
    if (array.Size() > 0)
        Check(int64_t{array.Rows()} * array.Columns() * 2 == int64_t{array.Size()});
}

bool Throws(void (*action)(CArrayBase&, int32_t, int32_t), CArrayBase& array, int32_t row,
            int32_t column) {
    try {
        action(array, row, column);
    } catch (const CArrayError&) {
        return true;
    }
    return false;
}

// The corners are reachable and the first place past them is not.
void CheckAccess(CArrayBase& array) {
    auto get = [](CArrayBase& a, int32_t r, int32_t c) { (void)a.Get(r, c); };
    auto put = [](CArrayBase& a, int32_t r, int32_t c) { a.Put(r, c, 0x1234); };
    Check(Throws(get, array, array.Rows(), 0) && Throws(get, array, 0, array.Columns()));
    Check(Throws(put, array, -1, 0) && Throws(put, array, 0, -1));
    if (array.Size() == 0) return;
    const int32_t lastRow = array.Rows() - 1, lastColumn = array.Columns() - 1;
    const size_t last = static_cast<size_t>(array.Size() / 2 - 1);
    Check(array.Get(lastRow, lastColumn) == array.Pixels()[last]);
    array.Put(lastRow, lastColumn, array.Get(lastRow, lastColumn));
}

void CheckSavedBack(CArrayBase& array, const Bytes& image) {
    if (array.Size() > kMaxRoundTripBytes) return;
    const std::string imageCopy = Scratch().Path(ScratchFolder::kImageCopy);
    const std::string binaryCopy = Scratch().Path(ScratchFolder::kBinaryCopy);
    const int32_t binary = array.SaveBinaryFile(binaryCopy);
    if (array.Size() == 0) {
        Check(binary == -1);
    } else {
        Check(binary == 1);
        Check(ReadWhole(binaryCopy) == Bytes(image.begin() + kImageHeaderSize, image.end()));
    }
    array.SaveImageFile(imageCopy);
    Check(ReadWhole(imageCopy) == image);
}

void FuzzImageFile(const uint8_t* file, size_t size) {
    const std::string path = Scratch().Path(ScratchFolder::kInput);
    WriteWhole(path, file, size);
    const int64_t declared =
        size < kImageHeaderSize ? -1 : int64_t{Le16(file)} * Le16(file + 2) * 2;
    const bool complete = declared >= 0 && declared <= INT32_MAX &&
                          size - kImageHeaderSize >= static_cast<uint64_t>(declared);
    CArrayBase array;
    try {
        array.OpenImageFile(path);
    } catch (const CArrayError&) {
        Check(!complete);
        CheckConsistent(array);
        return;
    }
    Check(complete);
    Check(array.Columns() == Le16(file) && array.Rows() == Le16(file + 2));
    Check(array.Size() == declared && PixelsAre(array, file + kImageHeaderSize));
    CheckAccess(array);
    CheckSavedBack(array, Bytes(file, file + kImageHeaderSize + static_cast<size_t>(declared)));
}

void FuzzBinaryFile(int32_t rows, int32_t columns, const uint8_t* file, size_t size) {
    const std::string path = Scratch().Path(ScratchFolder::kInput);
    WriteWhole(path, file, size);
    const int64_t declared = int64_t{rows} * columns * 2;
    CArrayBase array;
    try {
        array.OpenBinaryFile(rows, columns, path);
    } catch (const CArrayError&) {
        Check(declared != 0);
        Check(rows < 0 || columns < 0 || static_cast<uint64_t>(declared) > size);
        CheckConsistent(array);
        return;
    }
    Check(declared == 0 || (rows >= 0 && columns >= 0 && static_cast<uint64_t>(declared) <= size));
    Check(array.Size() == declared && PixelsAre(array, file));
    CheckAccess(array);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    if ((data[0] & 1) == 0) {
        FuzzImageFile(data + 1, size - 1);
    } else if (size >= 5) {
        const int16_t rows = static_cast<int16_t>(Le16(data + 1));
        const int16_t columns = static_cast<int16_t>(Le16(data + 3));
        FuzzBinaryFile(rows, columns, data + 5, size - 5);
    }
    return 0;
}
