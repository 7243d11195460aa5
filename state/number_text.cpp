// Locale-independent number reading and the stream's default float format.
#include "state/number_text.h"

#include <charconv>
#include <limits>
#include <system_error>

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view SkipSpace(std::string_view t) {
  size_t i = 0;
  while (i < t.size() && IsSpace(t[i])) ++i;
  return t.substr(i);
}

// Sign and magnitude of the leading decimal integer; false when no digit follows.
bool ReadMagnitude(std::string_view text, bool& negative, uint64_t& magnitude, bool& overflow) {
  std::string_view t = SkipSpace(text);
  negative = false;
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
    negative = t[0] == '-';
    t.remove_prefix(1);
  }
  magnitude = 0;
  overflow = false;
  size_t i = 0;
  for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
    uint64_t digit = static_cast<uint64_t>(t[i] - '0');
    if (magnitude > (std::numeric_limits<uint64_t>::max() - digit) / 10) overflow = true;
    if (!overflow) magnitude = magnitude * 10 + digit;
  }
  return i > 0;
}

template <typename T>
std::optional<T> ParseSigned(std::string_view text) {
  bool negative, overflow;
  uint64_t mag;
  if (!ReadMagnitude(text, negative, mag, overflow) || overflow) return std::nullopt;
  const uint64_t maxPos = static_cast<uint64_t>(std::numeric_limits<T>::max());
  if (negative) {
    if (mag > maxPos + 1) return std::nullopt;
    if (mag == maxPos + 1) return std::numeric_limits<T>::min();
    return static_cast<T>(-static_cast<T>(mag));
  }
  if (mag > maxPos) return std::nullopt;
  return static_cast<T>(mag);
}

template <typename T>
std::optional<T> ParseFloating(std::string_view text) {
  std::string_view t = SkipSpace(text);
  // A plus sign is allowed before the number, as in the standard conversions.
  if (t.size() >= 2 && t[0] == '+' && t[1] != '-' && t[1] != '+') t.remove_prefix(1);
  T value{};
  auto res = std::from_chars(t.data(), t.data() + t.size(), value, std::chars_format::general);
  if (res.ec != std::errc()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<int32_t> ParseLeadingInt32(std::string_view text) { return ParseSigned<int32_t>(text); }
std::optional<int64_t> ParseLeadingInt64(std::string_view text) { return ParseSigned<int64_t>(text); }

std::optional<uint64_t> ParseLeadingUInt64(std::string_view text) {
  bool negative, overflow;
  uint64_t mag;
  if (!ReadMagnitude(text, negative, mag, overflow) || overflow) return std::nullopt;
  if (negative && mag != 0) return std::nullopt;
  return mag;
}

std::optional<double> ParseLeadingDouble(std::string_view text) { return ParseFloating<double>(text); }
std::optional<float> ParseLeadingFloat(std::string_view text) { return ParseFloating<float>(text); }

void AppendDefaultFloat(std::string& out, double value) {
  // A stream's default float output is printf's %g with precision 6, which is
  // what to_chars produces for the general format with precision 6.
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 6);
  out.append(buf, res.ptr);
}

std::string FormatDefaultFloat(double value) {
  std::string s;
  AppendDefaultFloat(s, value);
  return s;
}
