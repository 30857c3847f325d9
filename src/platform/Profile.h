#pragma once
// Settings files in the INI form ("profile" files): [sections] of key=value
// lines, read and written one entry at a time.
//
// On Windows these are the system's profile functions. Elsewhere they are our
// own, behaving as those do for the files the library reads: section and key
// names compared without regard to case, blanks around names and values
// ignored, a value in matching quotes unquoted, ';' comment lines, CRLF or LF
// line ends, a missing file read as an empty one. A write changes only the
// line it concerns and replaces the file atomically. All calls may block on
// file I/O; they are thread-safe, but two processes writing one file at once
// may lose one of the writes.

#include <cstdint>

namespace platform {

// The value of key in section, else def ("" when null) without its trailing
// blanks, copied into buffer and cut to size - 1 characters. Returns the
// characters copied, without the terminator.
uint32_t ProfileReadString(const char* section, const char* key, const char* def, char* buffer,
                           uint32_t size, const char* file);

// Sets key in section to value, adding the section and the key when missing;
// a null value removes the key, a null key the whole section. False on
// failure, with the reason in LastSystemError().
bool ProfileWriteString(const char* section, const char* key, const char* value, const char* file);

// The section names in file order, each zero-terminated, then one more zero.
// Returns the characters written without the final zero; when the list does
// not fit, it is cut, closed by two zeros, and size - 2 is returned.
uint32_t ProfileSectionNames(char* buffer, uint32_t size, const char* file);

// The entries of section as "key=value" strings (lines without '=' as they
// are, comments left out), in the list form and with the cutting rule of
// ProfileSectionNames.
uint32_t ProfileSection(const char* section, char* buffer, uint32_t size, const char* file);

}  // namespace platform

namespace platform {

// Whether the system can report the status of file (a directory counts).
bool ProfileFileExists(const char* file);

}  // namespace platform
