#include "platform/Registry.h"

#include <windows.h>

#include <vector>

#include "platform/RegFile.h"
#include "platform/SystemError.h"

namespace platform {
namespace {

HKEY ToHkey(RegKey key) { return reinterpret_cast<HKEY>(key); }
RegKey FromHkey(HKEY key) { return reinterpret_cast<RegKey>(key); }
uint32_t Result(LONG status) { return static_cast<uint32_t>(status); }

}  // namespace

uint32_t OpenRegistryKey(RegKey parent, const char* subkey, uint32_t access, RegKey* result) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    HKEY opened = nullptr;
    LONG status = RegOpenKeyExA(ToHkey(parent), subkey, 0, access, &opened);
    if (status == ERROR_SUCCESS) *result = FromHkey(opened);
    return Result(status);
}

uint32_t CreateRegistryKey(RegKey parent, const char* subkey, const char* className,
                           uint32_t options, uint32_t access, RegKey* result,
                           uint32_t* disposition) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    HKEY created = nullptr;
    DWORD how = 0;
    LONG status = RegCreateKeyExA(ToHkey(parent), subkey, 0, const_cast<char*>(className), options,
                                  access, nullptr, &created, &how);
    if (status == ERROR_SUCCESS) {
        *result = FromHkey(created);
        if (disposition) *disposition = how;
    }
    return Result(status);
}

uint32_t QueryRegistryValue(RegKey key, const char* name, uint32_t* type, uint8_t* data,
                            uint32_t* size) {
    DWORD valueType = 0;
    DWORD valueSize = size ? *size : 0;
    LONG status =
        RegQueryValueExA(ToHkey(key), name, nullptr, &valueType, data, size ? &valueSize : nullptr);
    if (type) *type = valueType;
    if (size) *size = valueSize;
    return Result(status);
}

uint32_t SetRegistryValue(RegKey key, const char* name, uint32_t type, const uint8_t* data,
                          uint32_t size) {
    return Result(RegSetValueExA(ToHkey(key), name, 0, type, data, size));
}

uint32_t DeleteRegistryValue(RegKey key, const char* name) {
    return Result(RegDeleteValueA(ToHkey(key), name));
}

uint32_t DeleteRegistryTree(RegKey parent, const char* subkey) {
    if (subkey == nullptr || *subkey == '\0') return ERROR_INVALID_PARAMETER;
    return Result(RegDeleteTreeA(ToHkey(parent), subkey));
}

uint32_t EnumRegistryKey(RegKey key, uint32_t index, char* name, uint32_t* nameLength,
                         char* className, uint32_t* classLength) {
    if (nameLength == nullptr) return ERROR_INVALID_PARAMETER;
    DWORD length = *nameLength;
    DWORD classCapacity = classLength ? *classLength : 0;
    LONG status =
        RegEnumKeyExA(ToHkey(key), index, name, &length, nullptr, classLength ? className : nullptr,
                      classLength ? &classCapacity : nullptr, nullptr);
    *nameLength = length;
    if (classLength) *classLength = classCapacity;
    return Result(status);
}

uint32_t EnumRegistryValue(RegKey key, uint32_t index, char* name, uint32_t* nameLength,
                           uint32_t* type, uint8_t* data, uint32_t* dataSize) {
    if (nameLength == nullptr) return ERROR_INVALID_PARAMETER;
    DWORD length = *nameLength;
    DWORD valueType = 0;
    DWORD size = dataSize ? *dataSize : 0;
    LONG status = RegEnumValueA(ToHkey(key), index, name, &length, nullptr, &valueType, data,
                                dataSize ? &size : nullptr);
    *nameLength = length;
    if (type) *type = valueType;
    if (dataSize) *dataSize = size;
    return Result(status);
}

uint32_t QueryRegistryKeyInfo(RegKey key, RegKeyInfo* info) {
    if (info == nullptr) return ERROR_INVALID_PARAMETER;
    DWORD subkeys = 0, maxSubkey = 0, maxClass = 0, values = 0, maxValueName = 0, maxData = 0;
    LONG status = RegQueryInfoKeyA(ToHkey(key), nullptr, nullptr, nullptr, &subkeys, &maxSubkey,
                                   &maxClass, &values, &maxValueName, &maxData, nullptr, nullptr);
    if (status == ERROR_SUCCESS) {
        info->subkeys = subkeys;
        info->maxSubkeyLength = maxSubkey;
        info->maxClassLength = maxClass;
        info->values = values;
        info->maxValueNameLength = maxValueName;
        info->maxValueDataSize = maxData;
    }
    return Result(status);
}

uint32_t CloseRegistryKey(RegKey key) { return Result(RegCloseKey(ToHkey(key))); }

uint32_t ConnectRegistry(const char* machine, RegKey root, RegKey* result) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    HKEY connected = nullptr;
    LONG status = RegConnectRegistryA(machine, ToHkey(root), &connected);
    if (status == ERROR_SUCCESS) *result = FromHkey(connected);
    return Result(status);
}

namespace {

// Owns a kernel handle until the end of the scope.
class KernelHandle {
  public:
    explicit KernelHandle(HANDLE handle) : handle_(handle) {}
    ~KernelHandle() {
        if (handle_) CloseHandle(handle_);
    }
    KernelHandle(const KernelHandle&) = delete;
    KernelHandle& operator=(const KernelHandle&) = delete;
    HANDLE Get() const { return handle_; }

  private:
    HANDLE handle_;
};

bool ReadFileBytes(const std::string& path, std::string& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    KernelHandle owner(file);
    char buffer[16384];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    return true;
}

}  // namespace

bool ImportRegistryFile(const std::string& path, std::string& firstKey) {
    std::string bytes;
    if (!ReadFileBytes(path, bytes)) return false;
    std::vector<RegFileKey> keys;
    RegFileError error;
    if (!ParseRegFile(bytes, keys, error) || keys.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    char windows[MAX_PATH + 1];
    UINT length = GetWindowsDirectoryA(windows, sizeof windows);
    if (length == 0 || length > MAX_PATH) return false;
    std::string command = std::string(windows) + "\\regedit.exe -s \"" + path + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &startup, &process))
        return false;
    KernelHandle processHandle(process.hProcess);
    KernelHandle threadHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    firstKey = keys.front().path;
    return true;
}

}  // namespace platform
