#pragma once
// Reading whole files.
#include <string>

// The whole file as bytes; empty when it cannot be opened.
std::string ReadFile(const std::string& path);

// Reading a file named from outside (a path the user chose or dropped) with
// a limit: only a regular file is read (a pipe or device is refused without
// blocking), and reading stops once it is longer than `limit` bytes.
enum class LimitedRead { kOk, kCannotOpen, kNotAFile, kTooLarge };
LimitedRead ReadFileLimited(const std::string& path, size_t limit, std::string& out);
