#include "platform/Registry.h"

#include <unistd.h>

#include <cstring>
#include <map>
#include <mutex>

#include "platform/AtomicFile.h"
#include "platform/DebugTrace.h"
#include "platform/RegFile.h"
#include "platform/SystemError.h"
#include "posix/ErrnoMapping.h"
#include "posix/RegistryStore.h"

namespace platform {
namespace {

constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;
constexpr uint32_t kWriteAccess = kKeySetValue | kKeyCreateSubKey | 0x00010000u /* DELETE */;

struct KeyHandle {
    StoreRoot root;
    std::vector<std::string> path;
    uint32_t access;
};

class HandleTable {
  public:
    RegKey Add(KeyHandle handle) {
        std::lock_guard<std::mutex> guard(mutex_);
        RegKey key = next_;
        next_ += 4;
        handles_[key] = std::move(handle);
        return key;
    }
    bool Remove(RegKey key) {
        std::lock_guard<std::mutex> guard(mutex_);
        return handles_.erase(key) != 0;
    }
    size_t Count() {
        std::lock_guard<std::mutex> guard(mutex_);
        return handles_.size();
    }
    bool Find(RegKey key, KeyHandle& handle) {
        if (key == kHkeyLocalMachine || key == kHkeyCurrentUser) {
            handle.root =
                key == kHkeyLocalMachine ? StoreRoot::LocalMachine : StoreRoot::CurrentUser;
            handle.path.clear();
            handle.access = kKeyAllAccess;
            return true;
        }
        std::lock_guard<std::mutex> guard(mutex_);
        auto it = handles_.find(key);
        if (it == handles_.end()) return false;
        handle = it->second;
        return true;
    }

  private:
    std::mutex mutex_;
    std::map<RegKey, KeyHandle> handles_;
    RegKey next_ = 0x1000;
};

HandleTable& Handles() {
    static HandleTable table;
    return table;
}

bool ValidKeyName(const std::string& name) {
    if (name.empty() || name.size() > kMaxKeyNameLength) return false;
    for (unsigned char c : name)
        if (c < 0x20) return false;
    return true;
}

// Splits a relative path; one trailing backslash is allowed, as Windows does.
bool SplitSubkey(const char* subkey, std::vector<std::string>& parts) {
    parts.clear();
    if (subkey == nullptr || *subkey == '\0') return true;
    std::string path(subkey);
    if (path.back() == '\\') path.pop_back();
    size_t start = 0;
    for (;;) {
        size_t slash = path.find('\\', start);
        std::string part = path.substr(start, slash - start);
        if (!ValidKeyName(part)) return false;
        parts.push_back(part);
        if (slash == std::string::npos) return true;
        start = slash + 1;
    }
}

StoreKey* Walk(StoreKey* node, const std::vector<std::string>& path) {
    for (const std::string& part : path) {
        if (node == nullptr) return nullptr;
        node = node->FindSubkey(part);
    }
    return node;
}

std::string ValueName(const char* name) { return name ? name : ""; }

// Runs body on the key a handle names, inside a store transaction.
template <typename Body>
uint32_t WithKey(RegKey key, bool write, Body body) {
    KeyHandle handle;
    if (!Handles().Find(key, handle)) return kErrorInvalidHandle;
    auto run = [&](const std::vector<StoreKey*>& trees) -> uint32_t {
        StoreKey* node = Walk(trees[0], handle.path);
        if (node == nullptr) return kErrorKeyDeleted;
        return body(handle, *node);
    };
    RegistryStore& store = RegistryStore::Instance();
    return write ? store.Write({handle.root}, run) : store.Read({handle.root}, run);
}

uint32_t CopyName(const std::string& name, char* buffer, uint32_t* length) {
    if (buffer == nullptr || length == nullptr) return kErrorInvalidParameter;
    if (name.size() + 1 > *length) return kErrorMoreData;
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    *length = static_cast<uint32_t>(name.size());
    return 0;
}

uint32_t CopyData(const StoreValue& value, uint32_t* type, uint8_t* data, uint32_t* size) {
    if (type) *type = value.type;
    if (size == nullptr) return data ? uint32_t{kErrorInvalidParameter} : 0u;
    uint32_t needed = static_cast<uint32_t>(value.data.size());
    uint32_t capacity = *size;
    *size = needed;
    if (data == nullptr) return 0;
    if (capacity < needed) return kErrorMoreData;
    if (needed) std::memcpy(data, value.data.data(), needed);
    return 0;
}

}  // namespace

uint32_t OpenRegistryKey(RegKey parent, const char* subkey, uint32_t access, RegKey* result) {
    if (result == nullptr) return kErrorInvalidParameter;
    std::vector<std::string> parts;
    if (!SplitSubkey(subkey, parts)) return kErrorInvalidParameter;
    if ((access & kWriteAccess) && !RegistryStore::Instance().Writable()) return kErrorAccessDenied;
    KeyHandle opened;
    uint32_t error = WithKey(parent, false, [&](const KeyHandle& handle, StoreKey& node) {
        if (Walk(&node, parts) == nullptr) return uint32_t{kErrorFileNotFound};
        opened = handle;
        opened.path.insert(opened.path.end(), parts.begin(), parts.end());
        opened.access = access;
        return uint32_t{0};
    });
    if (error == 0) *result = Handles().Add(std::move(opened));
    return error;
}

uint32_t CreateRegistryKey(RegKey parent, const char* subkey, const char* className,
                           uint32_t /*options*/, uint32_t access, RegKey* result,
                           uint32_t* disposition) {
    if (result == nullptr) return kErrorInvalidParameter;
    std::vector<std::string> parts;
    if (!SplitSubkey(subkey, parts)) return kErrorInvalidParameter;
    if (!RegistryStore::Instance().Writable()) return kErrorAccessDenied;
    KeyHandle opened;
    bool created = false;
    uint32_t error = WithKey(parent, true, [&](const KeyHandle& handle, StoreKey& node) {
        if (Walk(&node, parts) == nullptr) {
            if (!(handle.access & kKeyCreateSubKey)) return uint32_t{kErrorAccessDenied};
            StoreKey* level = &node;
            for (const std::string& part : parts) level = &level->AddSubkey(part);
            if (className) level->className = className;
            created = true;
        }
        opened = handle;
        opened.path.insert(opened.path.end(), parts.begin(), parts.end());
        opened.access = access;
        return uint32_t{0};
    });
    if (error != 0) return error;
    *result = Handles().Add(std::move(opened));
    if (disposition) *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
    return 0;
}

uint32_t QueryRegistryValue(RegKey key, const char* name, uint32_t* type, uint8_t* data,
                            uint32_t* size) {
    return WithKey(key, false, [&](const KeyHandle&, StoreKey& node) {
        const StoreValue* value = node.FindValue(ValueName(name));
        if (value == nullptr) return uint32_t{kErrorFileNotFound};
        return CopyData(*value, type, data, size);
    });
}

uint32_t SetRegistryValue(RegKey key, const char* name, uint32_t type, const uint8_t* data,
                          uint32_t size) {
    std::string valueName = ValueName(name);
    // A line break would end the value's line in the store file.
    if (valueName.size() > kMaxValueNameLength || valueName.find('\n') != std::string::npos ||
        (data == nullptr && size != 0))
        return kErrorInvalidParameter;
    return WithKey(key, true, [&](const KeyHandle& handle, StoreKey& node) {
        if (!(handle.access & kKeySetValue)) return uint32_t{kErrorAccessDenied};
        StoreValue value{valueName, type, std::vector<uint8_t>(data, data + size)};
        node.SetValue(std::move(value));
        return uint32_t{0};
    });
}

uint32_t DeleteRegistryValue(RegKey key, const char* name) {
    return WithKey(key, true, [&](const KeyHandle& handle, StoreKey& node) {
        if (!(handle.access & kKeySetValue)) return uint32_t{kErrorAccessDenied};
        return node.RemoveValue(ValueName(name)) ? 0u : uint32_t{kErrorFileNotFound};
    });
}

uint32_t DeleteRegistryTree(RegKey parent, const char* subkey) {
    std::vector<std::string> parts;
    if (!SplitSubkey(subkey, parts) || parts.empty()) return kErrorInvalidParameter;
    return WithKey(parent, true, [&](const KeyHandle&, StoreKey& node) {
        std::string last = parts.back();
        parts.pop_back();
        StoreKey* owner = Walk(&node, parts);
        return (owner && owner->RemoveSubkey(last)) ? 0u : uint32_t{kErrorFileNotFound};
    });
}

uint32_t EnumRegistryKey(RegKey key, uint32_t index, char* name, uint32_t* nameLength,
                         char* className, uint32_t* classLength) {
    return WithKey(key, false, [&](const KeyHandle&, StoreKey& node) {
        if (index >= node.Subkeys().size()) return uint32_t{kErrorNoMoreItems};
        const StoreKey& subkey = *node.Subkeys()[index];
        if (className && classLength && subkey.className.size() + 1 > *classLength)
            return uint32_t{kErrorMoreData};
        if (uint32_t error = CopyName(subkey.Name(), name, nameLength)) return error;
        if (className && classLength) CopyName(subkey.className, className, classLength);
        return uint32_t{0};
    });
}

uint32_t EnumRegistryValue(RegKey key, uint32_t index, char* name, uint32_t* nameLength,
                           uint32_t* type, uint8_t* data, uint32_t* dataSize) {
    return WithKey(key, false, [&](const KeyHandle&, StoreKey& node) {
        if (index >= node.Values().size()) return uint32_t{kErrorNoMoreItems};
        const StoreValue& value = node.Values()[index];
        if (uint32_t error = CopyName(value.name, name, nameLength)) return error;
        return CopyData(value, type, data, dataSize);
    });
}

uint32_t QueryRegistryKeyInfo(RegKey key, RegKeyInfo* info) {
    if (info == nullptr) return kErrorInvalidParameter;
    return WithKey(key, false, [&](const KeyHandle&, StoreKey& node) {
        RegKeyInfo result;
        result.subkeys = static_cast<uint32_t>(node.Subkeys().size());
        for (const auto& subkey : node.Subkeys()) {
            result.maxSubkeyLength =
                std::max(result.maxSubkeyLength, static_cast<uint32_t>(subkey->Name().size()));
            result.maxClassLength =
                std::max(result.maxClassLength, static_cast<uint32_t>(subkey->className.size()));
        }
        result.values = static_cast<uint32_t>(node.Values().size());
        for (const StoreValue& value : node.Values()) {
            result.maxValueNameLength =
                std::max(result.maxValueNameLength, static_cast<uint32_t>(value.name.size()));
            result.maxValueDataSize =
                std::max(result.maxValueDataSize, static_cast<uint32_t>(value.data.size()));
        }
        *info = result;
        return uint32_t{0};
    });
}

size_t OpenRegistryHandleCount() { return Handles().Count(); }

uint32_t CloseRegistryKey(RegKey key) {
    if (key == kHkeyLocalMachine || key == kHkeyCurrentUser) return 0;
    return Handles().Remove(key) ? 0u : uint32_t{kErrorInvalidHandle};
}

uint32_t ConnectRegistry(const char* machine, RegKey root, RegKey* result) {
    if (result == nullptr) return kErrorInvalidParameter;
    if (machine && *machine) {
        char host[256] = {};
        ::gethostname(host, sizeof host - 1);
        std::string name = machine;
        if (name.rfind("\\\\", 0) == 0) name = name.substr(2);
        if (!NamesEqual(name, host) && !NamesEqual(name, "localhost")) return kErrorBadNetPath;
    }
    if (root != kHkeyLocalMachine && root != kHkeyCurrentUser) return kErrorInvalidHandle;
    return OpenRegistryKey(root, nullptr, kKeyAllAccess, result);
}

namespace {

bool RootOf(const std::string& path, StoreRoot& root, std::vector<std::string>& parts) {
    size_t slash = path.find('\\');
    std::string head = path.substr(0, slash);
    if (head == "HKEY_LOCAL_MACHINE") {
        root = StoreRoot::LocalMachine;
    } else if (head == "HKEY_CURRENT_USER") {
        root = StoreRoot::CurrentUser;
    } else {
        return false;
    }
    return slash == std::string::npos || SplitSubkey(path.c_str() + slash + 1, parts);
}

uint32_t ApplyKey(const RegFileKey& key, const std::vector<std::string>& parts, StoreKey& tree) {
    if (key.remove) {
        if (parts.empty()) return kErrorAccessDenied;
        std::vector<std::string> owner(parts.begin(), parts.end() - 1);
        if (StoreKey* node = Walk(&tree, owner)) node->RemoveSubkey(parts.back());
        return 0;
    }
    StoreKey* node = &tree;
    for (const std::string& part : parts) node = &node->AddSubkey(part);
    for (const RegFileValue& value : key.values) {
        if (value.remove) {
            node->RemoveValue(value.name);
        } else {
            node->SetValue({value.name, value.type, value.data});
        }
    }
    return 0;
}

}  // namespace

bool ImportRegistryFile(const std::string& path, std::string& firstKey) {
    std::string bytes;
    if (int error = ReadWholeFile(path, bytes)) {
        SetLastSystemError(WindowsErrorFromErrno(error));
        return false;
    }
    std::vector<RegFileKey> keys;
    RegFileError parseError;
    if (!ParseRegFile(bytes, keys, parseError)) {
        DebugTrace("%s(%zu): %s", path.c_str(), parseError.line, parseError.message.c_str());
        SetLastSystemError(kErrorInvalidParameter);
        return false;
    }
    std::vector<StoreRoot> roots;
    std::vector<std::pair<StoreRoot, std::vector<std::string>>> targets;
    for (const RegFileKey& key : keys) {
        StoreRoot root;
        std::vector<std::string> parts;
        if (!RootOf(key.path, root, parts)) {
            DebugTrace("%s: key outside the supported roots: %s", path.c_str(), key.path.c_str());
            SetLastSystemError(kErrorInvalidParameter);
            return false;
        }
        targets.emplace_back(root, std::move(parts));
    }
    for (StoreRoot root : {StoreRoot::LocalMachine, StoreRoot::CurrentUser})
        for (const auto& target : targets)
            if (target.first == root) {
                roots.push_back(root);
                break;
            }
    if (keys.empty()) {
        SetLastSystemError(kErrorInvalidParameter);
        return false;
    }
    uint32_t error =
        RegistryStore::Instance().Write(roots, [&](const std::vector<StoreKey*>& trees) {
            for (size_t i = 0; i < keys.size(); ++i) {
                size_t slot = (roots[0] == targets[i].first) ? 0 : 1;
                if (uint32_t failure = ApplyKey(keys[i], targets[i].second, *trees[slot]))
                    return failure;
            }
            return uint32_t{0};
        });
    if (error != 0) {
        SetLastSystemError(error);
        return false;
    }
    firstKey = keys.front().path;
    return true;
}

}  // namespace platform
