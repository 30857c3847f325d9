#pragma once
// Where the user's configuration lives on this system.

#include <string>

namespace platform {

// $XDG_CONFIG_HOME, or ~/.config when it is unset or empty.
std::string UserConfigurationHome();

}  // namespace platform
