#pragma once
// Splitting texts into fields; checking their encoding.
#include <string>
#include <string_view>
#include <vector>

// Fields between separators: an empty field between two separators or at the
// start counts, the text after the last separator counts only when it is not
// empty, and the empty text gives no field at all.
std::vector<std::string> SplitString(const std::string& text, char separator);
// The same fields as views into `text`, without copying them; `out` is
// cleared first. With `maxFields`, splitting stops once that many fields were
// found: the text after them is not looked at (a reader that needs the first
// few fields of a huge line pays for those alone).
void SplitStringView(std::string_view text, char separator, std::vector<std::string_view>& out,
                     size_t maxFields = static_cast<size_t>(-1));

// Takes the next line off the front of `rest`, as getline does: the text up to
// the next line feed (not included); a last line without one counts. False
// when `rest` is empty.
bool NextLine(std::string_view& rest, std::string_view& line);

// Whether `text` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing beyond U+10FFFF). NUL bytes count as text.
bool IsValidUtf8(std::string_view text);
