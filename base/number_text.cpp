// Locale-independent number reading and the stream's default float format.
#include "base/number_text.h"

#include <charconv>
#include <cstdint>
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

namespace {

// Fixed-notation values (1e-4 <= |v| < 1e6 after rounding to 6 significant
// digits) are formatted here directly; recorded times are all of this kind
// and the general conversion below costs several times as much. Returns
// false for anything it cannot decide exactly, which then takes that path.
bool AppendShortFixed(std::string& out, double value) {
  static const double kPow10[] = {1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
  if (!(value == value) || value == 0) return false;  // NaN, and zero with its sign
  const bool negative = value < 0;
  const double a = negative ? -value : value;
  if (!(a >= 1e-4 && a < 1e6)) return false;
  int x = -4;  // decimal exponent: 10^x <= a < 10^(x+1)
  while (x < 5 && a >= kPow10[x + 5]) ++x;
  // The six significant digits: a * 10^(5-x), rounded. Both factors are
  // exact and the product is below 1e6, so it is off by less than 1e-10;
  // only a result close to a rounding tie is left to the general path.
  const double m = a * kPow10[5 - x + 4];
  const double floorM = static_cast<double>(static_cast<int64_t>(m));
  const double frac = m - floorM;
  if (frac > 0.5 - 1e-7 && frac < 0.5 + 1e-7) return false;
  int64_t n = static_cast<int64_t>(floorM) + (frac > 0.5 ? 1 : 0);
  if (n >= 1000000) {
    n /= 10;
    ++x;
  }
  if (n < 100000 || x > 5) return false;
  char digits[6];
  for (int i = 5; i >= 0; --i) {
    digits[i] = static_cast<char>('0' + n % 10);
    n /= 10;
  }
  char buf[24];
  char* p = buf;
  if (negative) *p++ = '-';
  if (x >= 0) {
    for (int i = 0; i <= x; ++i) *p++ = digits[i];
    int last = 5;
    while (last > x && digits[last] == '0') --last;
    if (last > x) {
      *p++ = '.';
      for (int i = x + 1; i <= last; ++i) *p++ = digits[i];
    }
  } else {
    *p++ = '0';
    *p++ = '.';
    for (int i = -1; i > x; --i) *p++ = '0';
    int last = 5;
    while (digits[last] == '0') --last;
    for (int i = 0; i <= last; ++i) *p++ = digits[i];
  }
  out.append(buf, p);
  return true;
}

}  // namespace

void AppendDefaultFloat(std::string& out, double value) {
  if (AppendShortFixed(out, value)) return;
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

std::string GroupedNumber(uint64_t n) {
  const std::string digits = std::to_string(n);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}
