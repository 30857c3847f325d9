#pragma once
// A registry key of its own for each test, below HKEY_CURRENT_USER, removed
// afterwards; natively the whole store lives in a fresh directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/Registry.h"

#ifndef _WIN32
#include <stdlib.h>
#endif

class RegistrySandbox : public ::testing::Test {
  protected:
    void SetUp() override {
#ifndef _WIN32
        char pattern[] = "/tmp/vela2-settings-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        setenv("VELA2_REGISTRY_DIR", pattern, 1);
#endif
        base_ = std::string("Software\\Vela2SettingsTest\\") +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        platform::DeleteRegistryTree(platform::kHkeyCurrentUser, base_.c_str());
        platform::RegKey key = 0;
        ASSERT_EQ(platform::CreateRegistryKey(platform::kHkeyCurrentUser, base_.c_str(), "", 0,
                                              platform::kKeyAllAccess, &key, nullptr),
                  0u);
        platform::CloseRegistryKey(key);
    }
    void TearDown() override {
        platform::DeleteRegistryTree(platform::kHkeyCurrentUser, base_.c_str());
#ifndef _WIN32
        std::filesystem::remove_all(dir_);
        unsetenv("VELA2_REGISTRY_DIR");
#endif
    }

    // Whether base\path exists.
    bool Exists(const std::string& path) const {
        platform::RegKey key = 0;
        if (platform::OpenRegistryKey(platform::kHkeyCurrentUser, (base_ + "\\" + path).c_str(),
                                      platform::kKeyRead, &key) != 0)
            return false;
        platform::CloseRegistryKey(key);
        return true;
    }

    std::string dir_;
    std::string base_;
};
