#include "posix/RegistryStore.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/AtomicFile.h"
#include "platform/DebugTrace.h"
#include "platform/RegFile.h"
#include "platform/Registry.h"
#include "posix/UserFolders.h"

namespace platform {
namespace {

const char kTrailer[] = "; end of store";

char Fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool NameLess(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(Fold(x)) < static_cast<unsigned char>(Fold(y));
    });
}

// Holds an flock on the root's lock file; released on every way out.
class StoreLock {
  public:
    StoreLock(const std::string& path, bool exclusive) {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            error_ = errno;
            return;
        }
        while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0) {
            if (errno != EINTR) {
                error_ = errno;
                return;
            }
        }
    }
    ~StoreLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;
    int Error() const { return error_; }

  private:
    int fd_ = -1;
    int error_ = 0;
};

uint32_t StoreIoError(int error) {
    return (error == EACCES || error == EPERM || error == EROFS) ? 5u : kErrorRegistryIoFailed;
}

std::string FilePath(const std::string& directory, StoreRoot root, const char* extension) {
    return directory + "/" + StoreRootName(root) + extension;
}

void FormatKey(const std::string& path, const StoreKey& key, bool isRoot, std::string& out,
               size_t& keys, size_t& values) {
    if (!isRoot || !key.Values().empty()) {
        out += "\n[" + path + "]\n";
        if (!isRoot) ++keys;
        for (const StoreValue& value : key.Values()) {
            out += FormatRegFileValue(value.name, value.type, value.data.data(), value.data.size());
            out += "\n";
            ++values;
        }
    }
    for (const auto& subkey : key.Subkeys())
        FormatKey(path + "\\" + subkey->Name(), *subkey, false, out, keys, values);
}

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t slash = path.find('\\', start);
        parts.push_back(path.substr(start, slash - start));
        if (slash == std::string::npos) return parts;
        start = slash + 1;
    }
}

}  // namespace

bool NamesEqual(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i])) return false;
    return true;
}

const char* StoreRootName(StoreRoot root) {
    return root == StoreRoot::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

StoreKey* StoreKey::FindSubkey(const std::string& name) const {
    auto it = std::lower_bound(subkeys_.begin(), subkeys_.end(), name,
                               [](const std::unique_ptr<StoreKey>& key, const std::string& n) {
                                   return NameLess(key->Name(), n);
                               });
    return (it != subkeys_.end() && NamesEqual((*it)->Name(), name)) ? it->get() : nullptr;
}

StoreKey& StoreKey::AddSubkey(const std::string& name) {
    auto it = std::lower_bound(subkeys_.begin(), subkeys_.end(), name,
                               [](const std::unique_ptr<StoreKey>& key, const std::string& n) {
                                   return NameLess(key->Name(), n);
                               });
    if (it != subkeys_.end() && NamesEqual((*it)->Name(), name)) return **it;
    return **subkeys_.insert(it, std::make_unique<StoreKey>(name));
}

bool StoreKey::RemoveSubkey(const std::string& name) {
    for (auto it = subkeys_.begin(); it != subkeys_.end(); ++it) {
        if (NamesEqual((*it)->Name(), name)) {
            subkeys_.erase(it);
            return true;
        }
    }
    return false;
}

const StoreValue* StoreKey::FindValue(const std::string& name) const {
    for (const StoreValue& value : values_)
        if (NamesEqual(value.name, name)) return &value;
    return nullptr;
}

// A replaced value keeps its place and the case of its first name.
void StoreKey::SetValue(StoreValue value) {
    for (StoreValue& existing : values_) {
        if (NamesEqual(existing.name, value.name)) {
            existing.type = value.type;
            existing.data = std::move(value.data);
            return;
        }
    }
    values_.push_back(std::move(value));
}

bool StoreKey::RemoveValue(const std::string& name) {
    for (auto it = values_.begin(); it != values_.end(); ++it) {
        if (NamesEqual(it->name, name)) {
            values_.erase(it);
            return true;
        }
    }
    return false;
}

std::string FormatStore(StoreRoot root, const StoreKey& tree) {
    std::string out = std::string(kRegFileHeader4) + "\n";
    size_t keys = 0;
    size_t values = 0;
    FormatKey(StoreRootName(root), tree, true, out, keys, values);
    char trailer[96];
    std::snprintf(trailer, sizeof trailer, "\n%s: %zu keys, %zu values\n", kTrailer, keys, values);
    return out + trailer;
}

bool ParseStore(StoreRoot root, const std::string& text, std::unique_ptr<StoreKey>& tree,
                std::string& problem) {
    size_t trailerAt = text.rfind(std::string("\n") + kTrailer + ": ");
    size_t keysExpected = 0;
    size_t valuesExpected = 0;
    char end = 0;
    if (trailerAt == std::string::npos ||
        std::sscanf(text.c_str() + trailerAt + 1, "; end of store: %zu keys, %zu values%c",
                    &keysExpected, &valuesExpected, &end) != 3 ||
        end != '\n' || text.find('\n', trailerAt + 1) != text.size() - 1) {
        problem = "the store file is incomplete (its closing line is missing)";
        return false;
    }
    std::vector<RegFileKey> keys;
    RegFileError error;
    if (!ParseRegFile(text, keys, error)) {
        problem = "line " + std::to_string(error.line) + ": " + error.message;
        return false;
    }
    auto result = std::make_unique<StoreKey>("");
    size_t keyCount = 0;
    size_t valueCount = 0;
    for (const RegFileKey& key : keys) {
        std::vector<std::string> parts = SplitPath(key.path);
        if (key.remove || parts[0] != StoreRootName(root)) {
            problem = "key outside the root: " + key.path;
            return false;
        }
        StoreKey* node = result.get();
        for (size_t i = 1; i < parts.size(); ++i) {
            if (parts[i].empty()) {
                problem = "empty key name in " + key.path;
                return false;
            }
            node = &node->AddSubkey(parts[i]);
        }
        if (parts.size() > 1) ++keyCount;
        for (const RegFileValue& value : key.values) {
            if (value.remove) {
                problem = "value deletion in the store";
                return false;
            }
            node->SetValue({value.name, value.type, value.data});
            ++valueCount;
        }
    }
    if (keyCount != keysExpected || valueCount != valuesExpected) {
        problem = "the store file does not hold what its closing line counts";
        return false;
    }
    tree = std::move(result);
    return true;
}

RegistryStore& RegistryStore::Instance() {
    static RegistryStore store;
    return store;
}

std::string RegistryStore::Directory() {
    if (const char* dir = std::getenv("VELA2_REGISTRY_DIR"); dir && *dir) return dir;
    return UserConfigurationHome() + "/vela2-registry";
}

bool RegistryStore::Writable() {
    std::string directory = Directory();
    if (::access(directory.c_str(), F_OK) != 0) return MakeDirectories(directory) == 0;
    return ::access(directory.c_str(), W_OK) == 0;
}

uint32_t RegistryStore::Read(const std::vector<StoreRoot>& roots, const Body& body) {
    return Run(roots, false, body);
}

uint32_t RegistryStore::Write(const std::vector<StoreRoot>& roots, const Body& body) {
    return Run(roots, true, body);
}

// Reads the file again only when its content differs from what the cached
// tree came from, which also catches changes made by other processes.
uint32_t RegistryStore::Load(StoreRoot root, const std::string& directory) {
    Cache& cache = caches_[static_cast<int>(root)];
    std::string text;
    int error = ReadWholeFile(FilePath(directory, root, ".reg"), text);
    if (error == ENOENT) {
        text.clear();
    } else if (error != 0) {
        return StoreIoError(error);
    }
    if (cache.tree && cache.directory == directory && cache.text == text) return 0;
    std::unique_ptr<StoreKey> tree;
    std::string problem;
    if (text.empty()) {
        // A new store looks like a fresh system: every root has its Software
        // key, below which programs keep their settings.
        tree = std::make_unique<StoreKey>("");
        tree->AddSubkey("Software");
    } else if (!ParseStore(root, text, tree, problem)) {
        DebugTrace("registry store %s is corrupt: %s", FilePath(directory, root, ".reg").c_str(),
                   problem.c_str());
        cache.tree.reset();
        return kErrorBadDatabase;
    }
    cache.directory = directory;
    cache.text = std::move(text);
    cache.tree = std::move(tree);
    return 0;
}

uint32_t RegistryStore::Run(const std::vector<StoreRoot>& roots, bool write, const Body& body) {
    std::lock_guard<std::mutex> guard(mutex_);
    std::string directory = Directory();
    if (write) {
        if (int error = MakeDirectories(directory)) return StoreIoError(error);
    }
    std::vector<std::unique_ptr<StoreLock>> locks;
    std::vector<StoreKey*> trees;
    bool directoryExists = ::access(directory.c_str(), F_OK) == 0;
    for (StoreRoot root : roots) {
        if (directoryExists) {
            locks.push_back(std::make_unique<StoreLock>(FilePath(directory, root, ".lock"), write));
            // A read-only store can still be read without its lock file.
            if (int error = locks.back()->Error(); error != 0 && (write || error != EACCES))
                return StoreIoError(error);
        }
        if (uint32_t error = Load(root, directory)) return error;
        trees.push_back(caches_[static_cast<int>(root)].tree.get());
    }
    uint32_t result = body(trees);
    if (!write) return result;
    for (size_t i = 0; i < roots.size(); ++i) {
        Cache& cache = caches_[static_cast<int>(roots[i])];
        if (result != 0) {
            // The body may have changed the tree before it failed.
            cache.tree.reset();
            continue;
        }
        std::string text = FormatStore(roots[i], *cache.tree);
        if (text == cache.text) continue;
        if (int error = WriteFileAtomically(FilePath(directory, roots[i], ".reg"), text)) {
            cache.tree.reset();
            result = StoreIoError(error);
            continue;
        }
        cache.text = std::move(text);
    }
    return result;
}

}  // namespace platform
