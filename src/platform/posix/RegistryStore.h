#pragma once
// The registry where the system has none: a tree of keys and values per root,
// kept in one file per root (the REGEDIT4 text form, closed by a trailer line
// so that a cut-off file is told from a complete one).

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

struct StoreValue {
    std::string name;
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

// One key: subkeys kept in case-insensitive name order, values in the order
// they were first set.
class StoreKey {
  public:
    explicit StoreKey(std::string name) : name_(std::move(name)) {}

    const std::string& Name() const { return name_; }
    std::string className;

    StoreKey* FindSubkey(const std::string& name) const;
    StoreKey& AddSubkey(const std::string& name);  // the existing one when present
    bool RemoveSubkey(const std::string& name);
    const std::vector<std::unique_ptr<StoreKey>>& Subkeys() const { return subkeys_; }

    const StoreValue* FindValue(const std::string& name) const;
    void SetValue(StoreValue value);
    bool RemoveValue(const std::string& name);
    const std::vector<StoreValue>& Values() const { return values_; }

  private:
    std::string name_;
    std::vector<std::unique_ptr<StoreKey>> subkeys_;
    std::vector<StoreValue> values_;
};

bool NamesEqual(const std::string& a, const std::string& b);

enum class StoreRoot { LocalMachine = 0, CurrentUser = 1 };
const char* StoreRootName(StoreRoot root);

class RegistryStore {
  public:
    static RegistryStore& Instance();

    // Runs body over the current trees of the roots (in the order given) while
    // holding their inter-process locks, shared for reading. Returns body's
    // result, or the error that kept the trees from being read. For writes the
    // trees are saved when body returns 0; otherwise nothing is saved.
    using Body = std::function<uint32_t(const std::vector<StoreKey*>& trees)>;
    uint32_t Read(const std::vector<StoreRoot>& roots, const Body& body);
    uint32_t Write(const std::vector<StoreRoot>& roots, const Body& body);

    // Whether the store directory accepts changes by this process.
    bool Writable();

    // The directory in use now (it follows VELA2_REGISTRY_DIR).
    static std::string Directory();

  private:
    struct Cache {
        std::string directory;
        std::string text;  // the file content the tree was read from
        std::unique_ptr<StoreKey> tree;
    };

    uint32_t Run(const std::vector<StoreRoot>& roots, bool write, const Body& body);
    uint32_t Load(StoreRoot root, const std::string& directory);

    std::mutex mutex_;
    Cache caches_[2];
};

// The store's file text for a tree, and back. ParseStore fails (false) on
// anything but a complete file written by FormatStore or by hand in the same
// form.
std::string FormatStore(StoreRoot root, const StoreKey& tree);
bool ParseStore(StoreRoot root, const std::string& text, std::unique_ptr<StoreKey>& tree,
                std::string& problem);

}  // namespace platform

namespace platform {
// Key handles open in this process, for leak checks in tests.
size_t OpenRegistryHandleCount();
}  // namespace platform
