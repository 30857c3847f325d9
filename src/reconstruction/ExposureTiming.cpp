#include "reconstruction/ExposureTiming.h"

#include <cstring>
#include <string>

namespace reconstruction {
namespace {
constexpr size_t kNameField = 16;
constexpr size_t kModelField = 45;

std::string TextField(const uint8_t* bytes, size_t available, size_t limit) {
    const size_t size = available < limit ? available : limit;
    const void* end = std::memchr(bytes, 0, size);
    const size_t length = end ? static_cast<const uint8_t*>(end) - bytes : size;
    return std::string(reinterpret_cast<const char*>(bytes), length);
}
}  // namespace

void StoreExposure(const EpalData& block, const ExposureSetting& setting) {
    block.SetTimingStart(static_cast<uint16_t>(setting.start));
    block.SetTimingEnd(static_cast<uint16_t>(setting.start + setting.length));
    block.SetExposureTime(static_cast<uint16_t>(setting.exposure));
}

ExposureSetting ReadExposure(const EpalData& block) {
    ExposureSetting setting;
    setting.start = block.TimingStart();
    setting.length = static_cast<uint32_t>(block.TimingEnd()) - block.TimingStart();
    setting.exposure = block.ExposureTime();
    return setting;
}

int32_t CaptureTimeout(bool softwareTrigger, int32_t softwareMargin, int32_t hardwareMargin,
                       int32_t exposure) {
    const int64_t timeout = int64_t{softwareTrigger ? softwareMargin : hardwareMargin} + exposure;
    return static_cast<int32_t>(static_cast<uint32_t>(timeout));
}

int32_t CameraTypeFromProductInfo(const uint8_t* productInfo, size_t size, const char* suffix) {
    if (productInfo == nullptr || size <= kNameField) return 0;
    const std::string model = TextField(productInfo + kNameField, size - kNameField, kModelField);
    return model.find(suffix) != std::string::npos ? 1 : 0;
}

}  // namespace reconstruction
