#pragma once
// Reading whole files.
#include <string>

// The whole file as bytes; empty when it cannot be opened.
std::string ReadFile(const std::string& path);
// At most maxBytes of a regular file, never through a symbolic link (the
// last path component); empty when it cannot be opened that way.
std::string ReadFileNoFollow(const std::string& path, size_t maxBytes);
