#pragma once
// Small text helpers shared by the readers of mode files and version reports.

#include <string>

namespace vela2cam {

// The text without leading and trailing blanks, tabs and line ends.
std::string Trim(const std::string& text);

}  // namespace vela2cam
