#pragma once
// Writes one 16-bit image as a FITS file: unsigned pixels stored the standard
// way (BITPIX 16, BZERO 32768), the caller's header cards, DATAMIN/DATAMAX
// from the pixels, and the file replaced atomically.

#include <cstdint>
#include <string>
#include <vector>

namespace vela2cam {

struct FitsCard {
    enum class Type { String, Integer, Real };

    static FitsCard Text(std::string key, std::string value, std::string comment);
    static FitsCard Integer(std::string key, int64_t value, std::string comment);
    static FitsCard Real(std::string key, double value, std::string comment);

    Type type = Type::String;
    std::string key;
    std::string text;
    int64_t integer = 0;
    double real = 0.0;
    std::string comment;
};

struct ImageView {
    int32_t width = 0;
    int32_t height = 0;
    const uint16_t* pixels = nullptr;  // row-major, width * height
};

class FitsWriter {
  public:
    // False with a message when the image is empty, a file is at path
    // already (it stays as it was) or the file cannot be written (nothing is
    // left at path then).
    static bool Write(const std::string& path, const ImageView& image,
                      const std::vector<FitsCard>& cards, std::string& error);
};

}  // namespace vela2cam
