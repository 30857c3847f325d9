#pragma once
// How the POSIX accessibility checks look at the address space: the kernel's
// binary query of one mapping where it has one, else the text of
// /proc/self/maps. Tests switch the query off to hold the text reading to the
// same answers.

namespace platform::posix {

// On by default; off makes every check read the text.
void SetMappingQueryAllowed(bool allowed);

}  // namespace platform::posix
