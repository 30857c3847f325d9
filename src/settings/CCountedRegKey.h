#pragma once
#include "platform/Registry.h"
#include "settings/TReferenceCounted.h"

// A registry key handle shared by CRegistryKey copies and iterators; closed
// when the last of them lets go.
class CCountedRegKey : public TReferenceCounted<platform::RegKey, CCountedRegKey> {
  public:
    explicit CCountedRegKey(platform::RegKey key) : TReferenceCounted(key) {}

  protected:
    void OnFinalRelease() override;
};
