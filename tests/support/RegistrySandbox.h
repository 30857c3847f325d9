#pragma once
// A registry key of its own for each test, below HKEY_CURRENT_USER, open in
// key_ and removed afterwards. Natively the whole store lives in a fresh
// directory for as long as the test does, so that a test neither sees nor
// leaves anything in the user's store; under Windows the system's registry
// is used as it is.
#include <gtest/gtest.h>

#include <string>

#include "platform/Registry.h"
#include "support/Environment.h"
#include "support/TempFolder.h"

class RegistrySandbox : public ::testing::Test {
  protected:
    void SetUp() override {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        base_ =
            std::string("Software\\Vela2Test\\") + test->test_suite_name() + "\\" + test->name();
        platform::DeleteRegistryTree(platform::kHkeyCurrentUser, base_.c_str());
        ASSERT_EQ(platform::CreateRegistryKey(platform::kHkeyCurrentUser, base_.c_str(), "", 0,
                                              platform::kKeyAllAccess, &key_, &disposition_),
                  0u);
    }
    void TearDown() override {
        platform::CloseRegistryKey(key_);
        platform::DeleteRegistryTree(platform::kHkeyCurrentUser, base_.c_str());
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

#ifndef _WIN32
    testsupport::TempFolder store_{"vela2-registry-"};
    testsupport::ScopedVariable storeVariable_{"VELA2_REGISTRY_DIR", store_.path()};
#endif
    std::string base_;
    platform::RegKey key_ = 0;
    uint32_t disposition_ = 0;
};
