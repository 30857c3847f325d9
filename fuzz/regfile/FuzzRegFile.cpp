// Registry files and store files of any shape: a parse either fails cleanly or
// gives values that, written back in our form, parse to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/RegFile.h"
#include "platform/posix/RegistryStore.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckRoundTrip(const std::vector<platform::RegFileKey>& keys) {
    std::string file = std::string(platform::kRegFileHeader4) + "\n";
    std::vector<const platform::RegFileValue*> written;
    for (const platform::RegFileKey& key : keys) {
        if (key.remove) continue;
        file += "[HKEY_CURRENT_USER\\X]\n";
        for (const platform::RegFileValue& value : key.values) {
            if (value.remove) continue;
            file += platform::FormatRegFileValue(value.name, value.type, value.data.data(),
                                                 value.data.size()) +
                    "\n";
            written.push_back(&value);
        }
    }
    std::vector<platform::RegFileKey> again;
    platform::RegFileError error;
    Check(platform::ParseRegFile(file, again, error));
    size_t index = 0;
    for (const platform::RegFileKey& key : again) {
        for (const platform::RegFileValue& value : key.values) {
            Check(index < written.size());
            Check(value.name == written[index]->name);
            Check(value.type == written[index]->type);
            Check(value.data == written[index]->data);
            ++index;
        }
    }
    Check(index == written.size());
}

void CheckStore(const std::string& text) {
    std::unique_ptr<platform::StoreKey> tree;
    std::string problem;
    if (!platform::ParseStore(platform::StoreRoot::CurrentUser, text, tree, problem)) return;
    std::string formatted = platform::FormatStore(platform::StoreRoot::CurrentUser, *tree);
    std::unique_ptr<platform::StoreKey> again;
    Check(platform::ParseStore(platform::StoreRoot::CurrentUser, formatted, again, problem));
    Check(platform::FormatStore(platform::StoreRoot::CurrentUser, *again) == formatted);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<platform::RegFileKey> keys;
    platform::RegFileError error;
    if (platform::ParseRegFile(text, keys, error)) {
        CheckRoundTrip(keys);
    } else {
        Check(keys.empty());
    }
    CheckStore(text);
    return 0;
}
