#include "platform/VersionInfo.h"

namespace platform {

bool VersionInfo::Query(const std::string& path, std::string& value) const {
    auto found = values_.find(path);
    if (found == values_.end()) return false;
    value = found->second;
    return true;
}

}  // namespace platform
