#pragma once
// Reads FITS files back with cfitsio for the tests: the image and any header
// value, so what vela2cam wrote is checked by the library every reader uses.

#include <fitsio.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vela2cam_test {

class FitsReader {
  public:
    explicit FitsReader(const std::string& path) {
        fits_open_diskfile(&file_, path.c_str(), READONLY, &status_);
    }
    ~FitsReader() {
        int ignored = 0;
        if (file_) fits_close_file(file_, &ignored);
    }
    bool ok() const { return status_ == 0; }

    // BITPIX as stored, and the axes.
    bool Shape(int& bitpix, long& width, long& height) {
        int axisCount = 0;
        long axes[2] = {0, 0};
        fits_get_img_param(file_, 2, &bitpix, &axisCount, axes, &status_);
        width = axes[0];
        height = axes[1];
        return ok() && axisCount == 2;
    }

    std::vector<uint16_t> Pixels(long width, long height) {
        std::vector<uint16_t> pixels(static_cast<size_t>(width) * height);
        int anyNull = 0;
        fits_read_img(file_, TUSHORT, 1, static_cast<LONGLONG>(pixels.size()), nullptr,
                      pixels.data(), &anyNull, &status_);
        return pixels;
    }

    std::optional<double> Real(const char* key) { return Key<double>(TDOUBLE, key); }
    std::optional<std::string> Text(const char* key) {
        auto text = Key<std::array<char, FLEN_VALUE>>(TSTRING, key);
        return text ? std::optional<std::string>(text->data()) : std::nullopt;
    }

  private:
    template <typename Value>
    std::optional<Value> Key(int type, const char* key) {
        Value value{};
        int status = 0;
        fits_read_key(file_, type, key, &value, nullptr, &status);
        return status ? std::nullopt : std::optional<Value>(value);
    }
    fitsfile* file_ = nullptr;
    int status_ = 0;
};

}  // namespace vela2cam_test
