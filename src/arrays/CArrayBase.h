#pragma once
// A two-dimensional array of 16-bit pixels with its own page-backed storage,
// checked element access, and two file formats: the image file (16-bit
// column and row counts, then the pixels) and the binary file (pixels only).
// Errors throw CArrayError, except SaveImageFile, which tells the user and
// returns.

#include <cstddef>
#include <cstdint>
#include <string>

namespace arrays {

class CArrayBase {
  public:
    CArrayBase(int32_t rows = 0, int32_t columns = 0, uint16_t fill = 0);
    virtual ~CArrayBase();
    CArrayBase(const CArrayBase&) = delete;
    CArrayBase& operator=(const CArrayBase&) = delete;

    virtual void SetSize(int32_t rows, int32_t columns, uint16_t fill);
    virtual uint16_t Get(int32_t row, int32_t column) const;
    virtual int32_t Rows() const { return rows_; }
    virtual int32_t Size() const { return size_; }
    virtual int32_t Columns() const { return columns_; }
    virtual void OpenBinaryFile(int32_t rows, int32_t columns, const std::string& fileName);
    virtual void OpenImageFile(const std::string& fileName);
    virtual void Put(int32_t row, int32_t column, uint16_t value);
    // 1, or -1 without writing anything when the array is empty.
    virtual int32_t SaveBinaryFile(const std::string& fileName);
    virtual void SaveImageFile(const std::string& fileName);

    // The pixels, row-major; null when the array is empty.
    uint16_t* Pixels() { return pixels_; }
    const uint16_t* Pixels() const { return pixels_; }

  protected:
    // Zero-filled read-write memory straight from the system's page
    // allocator; on failure the user is shown the system's reason and the
    // result is null.
    virtual void* Allocate(size_t bytes);
    virtual void Free(void* memory, size_t bytes);

  private:
    // fill < 0 leaves the freshly zeroed pixels as they are.
    void Resize(int32_t rows, int32_t columns, int32_t fill);
    void Release() noexcept;
    uint16_t* Element(int32_t row, int32_t column, const char* error) const;
    void WriteFile(const std::string& name, bool withHeader);

    int32_t rows_ = 0;
    int32_t columns_ = 0;
    int32_t size_ = 0;
    uint16_t* pixels_ = nullptr;
    uint16_t** rowTable_ = nullptr;
};

}  // namespace arrays
