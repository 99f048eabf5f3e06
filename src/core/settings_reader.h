#pragma once

#include <string>

// The settings reader the program is linked with: the system's own on Windows,
// the portable one elsewhere.
namespace doredaviro {

// Reads one key of an INI file the way the Windows settings-file reader does:
// copies the value (or `def` when the file, section or key is missing) into
// `buffer`, cut to fit `size` bytes including the terminating NUL, and returns
// the number of bytes copied before that NUL. Never fails and never throws.
unsigned ReadProfileString(const std::string& section, const std::string& key,
                           const std::string& def, char* buffer, unsigned size,
                           const std::string& file);

// The buffer that holds a value of 199 characters of the file's own text and its
// NUL: 200 where values come back as stored, more where the reader turns one
// byte of the ANSI code page into up to three of UTF-8.
extern const unsigned kProfileValueBufferSize;

}  // namespace doredaviro
