#pragma once
// The system registry: keys below the predefined roots, named typed values.
//
// Every call returns a Windows error code (0 on success) rather than setting
// the last error, as the registry functions themselves do. Names of keys and
// values are compared without regard to case and kept as first written.
// Subkeys enumerate in case-insensitive name order, values in the order they
// were first set. All calls are thread-safe; a key handle may be used from
// any thread until it is closed, and only then.
//
// On Windows these are the system's functions. Elsewhere the registry is a
// store of our own: one human-readable file per root under the directory
// named by VELA2_REGISTRY_DIR (else $XDG_CONFIG_HOME/vela2-registry, else
// ~/.config/vela2-registry), changed only under an inter-process lock and
// replaced atomically, so concurrent writers from several processes lose
// nothing and a crash leaves the previous content. A store file that cannot be
// read back whole gives kErrorBadDatabase on every call for that root and is
// never overwritten.

#include <cstdint>
#include <string>

#include "platform/SystemError.h"

namespace platform {

// A key handle. The predefined roots have the values Windows gives them.
using RegKey = uintptr_t;

constexpr RegKey PredefinedRegKey(uint32_t value) {
    return static_cast<RegKey>(static_cast<intptr_t>(static_cast<int32_t>(value)));
}
constexpr RegKey kHkeyCurrentUser = PredefinedRegKey(0x80000001u);
constexpr RegKey kHkeyLocalMachine = PredefinedRegKey(0x80000002u);

enum : uint32_t {
    kRegNone = 0,
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
    kRegDwordBigEndian = 5,
    kRegMultiSz = 7,
    kRegQword = 11,
};

enum : uint32_t {
    kKeyQueryValue = 0x0001,
    kKeySetValue = 0x0002,
    kKeyCreateSubKey = 0x0004,
    kKeyEnumerateSubKeys = 0x0008,
    kKeyRead = 0x20019,
    kKeyAllAccess = 0xF003F,
};

enum : uint32_t { kRegOptionNonVolatile = 0, kRegCreatedNewKey = 1, kRegOpenedExistingKey = 2 };

// Registry-specific error codes beside those of SystemError.h.
enum : uint32_t {
    kErrorBadNetPath = 53,
    kErrorInvalidFlags = 1004,
    kErrorBadDatabase = 1009,
    kErrorRegistryIoFailed = 1016,
    kErrorKeyDeleted = 1018,
};

// Opens parent\subkey (null or "" opens parent itself again). The new handle
// must be closed with CloseRegistryKey. Errors: 2 missing, 5 the access is
// not granted, 6 bad parent, 87 malformed path.
uint32_t OpenRegistryKey(RegKey parent, const char* subkey, uint32_t access, RegKey* result);

// Opens parent\subkey, creating every missing level. disposition (may be
// null) receives kRegCreatedNewKey or kRegOpenedExistingKey.
uint32_t CreateRegistryKey(RegKey parent, const char* subkey, const char* className,
                           uint32_t options, uint32_t access, RegKey* result,
                           uint32_t* disposition);

// Reads a value (null or "" name: the key's default value). type and data may
// be null. size is in/out: the capacity of data, then the bytes the value
// holds; a data buffer too small gives 234 with the needed size in *size.
uint32_t QueryRegistryValue(RegKey key, const char* name, uint32_t* type, uint8_t* data,
                            uint32_t* size);

// Creates or replaces a value with exactly the bytes given.
uint32_t SetRegistryValue(RegKey key, const char* name, uint32_t type, const uint8_t* data,
                          uint32_t size);

// Removes a value (2 when missing).
uint32_t DeleteRegistryValue(RegKey key, const char* name);

// Removes parent\subkey with everything below it (2 when missing).
uint32_t DeleteRegistryTree(RegKey parent, const char* subkey);

// The index-th subkey. nameLength/classLength are in/out: capacities in
// characters including the terminator, then the length without it. 234 when
// a buffer is too small, 259 past the last subkey. className may be null.
uint32_t EnumRegistryKey(RegKey key, uint32_t index, char* name, uint32_t* nameLength,
                         char* className, uint32_t* classLength);

// The index-th value, with the same conventions; dataSize as in
// QueryRegistryValue. 234 when the name or the data does not fit.
uint32_t EnumRegistryValue(RegKey key, uint32_t index, char* name, uint32_t* nameLength,
                           uint32_t* type, uint8_t* data, uint32_t* dataSize);

struct RegKeyInfo {
    uint32_t subkeys = 0;
    uint32_t maxSubkeyLength = 0;  // characters, without terminator
    uint32_t maxClassLength = 0;
    uint32_t values = 0;
    uint32_t maxValueNameLength = 0;
    uint32_t maxValueDataSize = 0;  // bytes
};
uint32_t QueryRegistryKeyInfo(RegKey key, RegKeyInfo* info);

// Closing a predefined root is allowed and does nothing.
uint32_t CloseRegistryKey(RegKey key);

// A handle to root on machine (null or "" for this machine). Only the local
// machine can be reached outside Windows (53 otherwise).
uint32_t ConnectRegistry(const char* machine, RegKey root, RegKey* result);

// Applies a registry file (.reg, "Windows Registry Editor Version 5.00" or
// "REGEDIT4") as the registry editor does and gives the first bracketed key
// name of the file. Blocks until the import is done. On failure returns false
// with the reason in LastSystemError() and, outside Windows, applies nothing
// at all: a file with any malformed line is rejected whole.
bool ImportRegistryFile(const std::string& path, std::string& firstKey);

}  // namespace platform
