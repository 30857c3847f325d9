#pragma once
#include <cstdint>
#include <map>
#include <string>

// Fills the table from status code to symbolic name.
void FillStatusNames(std::map<int32_t, std::string>& names);

// Copies the name of a code (empty for a code without one) with its
// terminator, at most 260 bytes.
void CopyStatusName(const std::map<int32_t, std::string>& names, int32_t code, char* text);
