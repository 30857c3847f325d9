#pragma once
// Small text helpers shared by the readers of mode files and version reports.

#include <string>

namespace vela2cam {

// The text without leading and trailing blanks, tabs and line ends.
std::string Trim(const std::string& text);

// The value of the first "name = value" line of a report of such lines (the
// library's version report); empty when there is none.
std::string ReportField(const std::string& report, const std::string& name);

// "<what> <path>: <reason>" for an errno; "<path> exists already" for EEXIST,
// the failure of a write that must not replace a file.
std::string FileErrorText(const std::string& what, const std::string& path, int error);

}  // namespace vela2cam
