#include "settings/CCountedRegKey.h"

void CCountedRegKey::OnFinalRelease() { platform::CloseRegistryKey(Get()); }
