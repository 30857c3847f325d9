#include "settings/RegistryValueText.h"

#include <cstdio>
#include <cstring>

#include "platform/Registry.h"

std::string RegistryValueText(uint32_t type, const uint8_t* data, uint32_t size) {
    if (data == nullptr) size = 0;
    static const uint8_t kNothing[4] = {};
    if (size == 0) data = kNothing;
    switch (type) {
        case platform::kRegSz:
        case platform::kRegExpandSz:
        case platform::kRegMultiSz: {
            const void* zero = std::memchr(data, 0, size);
            size_t length = zero ? static_cast<const uint8_t*>(zero) - data : size;
            return std::string(reinterpret_cast<const char*>(data), length);
        }
        case platform::kRegDword:
        case platform::kRegDwordBigEndian: {
            // A short value is read as far as it goes; the rest counts as zero.
            uint32_t number = 0;
            std::memcpy(&number, data, size < 4 ? size : 4);
            char text[16];
            std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(number));
            return text;
        }
        default: {
            static const char kDigits[] = "0123456789abcdef";
            std::string text;
            text.reserve(size * 2u);
            for (uint32_t i = 0; i < size; ++i) {
                text += kDigits[data[i] >> 4];
                text += kDigits[data[i] & 0x0F];
            }
            return text;
        }
    }
}
