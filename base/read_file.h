#pragma once
// Reading whole files.
#include <string>

// The whole file as bytes; empty when it cannot be opened.
std::string ReadFile(const std::string& path);
