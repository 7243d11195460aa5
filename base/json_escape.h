#pragma once
// The program's single JSON string escape.
#include <string>

// A text as a JSON string literal: wrapped in double quotes, `"` and `\`
// escaped, backspace, tab, newline, form feed and carriage return as \b \t \n
// \f \r, every other byte below 0x20 as \u00XX (lower-case hex), all other
// bytes (UTF-8 included) unchanged.
std::string JsonEscapeForBind(const std::string& text);
