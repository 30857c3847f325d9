#pragma once
// Natively, points the registry store at a fresh directory for as long as it
// lives, so that a test neither sees nor leaves anything in the user's store.
// Under Windows the system's registry is used as it is. A fixture member:
// made before SetUp, gone after TearDown.

#include <gtest/gtest.h>

#include <string>

#ifndef _WIN32
#include <stdlib.h>

#include <filesystem>
#endif

class PrivateRegistryStore {
  public:
    PrivateRegistryStore() {
#ifndef _WIN32
        char pattern[] = "/tmp/vela2-registry-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            ADD_FAILURE() << "no directory for the registry store";
            return;
        }
        dir_ = pattern;
        setenv("VELA2_REGISTRY_DIR", pattern, 1);
#endif
    }
    ~PrivateRegistryStore() {
#ifndef _WIN32
        if (dir_.empty()) return;
        std::filesystem::remove_all(dir_);
        unsetenv("VELA2_REGISTRY_DIR");
#endif
    }
    PrivateRegistryStore(const PrivateRegistryStore&) = delete;
    PrivateRegistryStore& operator=(const PrivateRegistryStore&) = delete;

    const std::string& Directory() const { return dir_; }

  private:
    std::string dir_;
};
