#include "platform/Profile.h"

#include <windows.h>

namespace platform {

uint32_t ProfileReadString(const char* section, const char* key, const char* def, char* buffer,
                           uint32_t size, const char* file) {
    return GetPrivateProfileStringA(section, key, def, buffer, size, file);
}

bool ProfileWriteString(const char* section, const char* key, const char* value, const char* file) {
    return WritePrivateProfileStringA(section, key, value, file) != FALSE;
}

uint32_t ProfileSectionNames(char* buffer, uint32_t size, const char* file) {
    return GetPrivateProfileSectionNamesA(buffer, size, file);
}

uint32_t ProfileSection(const char* section, char* buffer, uint32_t size, const char* file) {
    return GetPrivateProfileSectionA(section, buffer, size, file);
}

}  // namespace platform

namespace platform {

bool ProfileFileExists(const char* file) {
    return file != nullptr && GetFileAttributesA(file) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace platform
