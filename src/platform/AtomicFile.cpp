#include "platform/AtomicFile.h"

namespace platform {

int WriteFileAtomically(const std::string& path, const std::string& content, Existing existing,
                        Access access) {
    AtomicFile file(path);
    if (int error = file.Write(content, access)) return error;
    return file.Commit(existing);
}

}  // namespace platform
