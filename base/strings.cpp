#include "base/strings.h"

void SplitStringView(std::string_view text, char separator, std::vector<std::string_view>& out,
                     size_t maxFields) {
  out.clear();
  size_t start = 0;
  while (start < text.size() && out.size() < maxFields) {
    size_t pos = text.find(separator, start);
    if (pos == std::string_view::npos) {
      out.push_back(text.substr(start));
      break;
    }
    out.push_back(text.substr(start, pos - start));
    start = pos + 1;
  }
}

std::vector<std::string> SplitString(const std::string& text, char separator) {
  std::vector<std::string_view> fields;
  SplitStringView(text, separator, fields);
  return std::vector<std::string>(fields.begin(), fields.end());
}

bool NextLine(std::string_view& rest, std::string_view& line) {
  if (rest.empty()) return false;
  const size_t nl = rest.find('\n');
  if (nl == std::string_view::npos) {
    line = rest;
    rest = {};
  } else {
    line = rest.substr(0, nl);
    rest.remove_prefix(nl + 1);
  }
  return true;
}
