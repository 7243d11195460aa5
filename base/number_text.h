#pragma once
// Reading numbers out of the settings and session texts. Every reader follows
// the rules of the standard string-to-number conversions (std::stoi and
// friends): leading white space is skipped, a sign is allowed, reading stops
// at the first character that cannot continue the number, and the value must
// fit the target type. Unlike those conversions they never throw and they do
// not depend on the process locale.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

std::optional<int32_t> ParseLeadingInt32(std::string_view text);
std::optional<int64_t> ParseLeadingInt64(std::string_view text);
// A leading minus sign is accepted only for zero: a negative value does not
// fit an unsigned type.
std::optional<uint64_t> ParseLeadingUInt64(std::string_view text);
std::optional<double> ParseLeadingDouble(std::string_view text);
std::optional<float> ParseLeadingFloat(std::string_view text);

// Formats a floating-point value the way an output stream does by default:
// at most 6 significant digits, fixed or exponent notation whichever the
// stream would choose, no trailing zeros (1.5, 100, 1e+06, 0.0001).
void AppendDefaultFloat(std::string& out, double value);
std::string FormatDefaultFloat(double value);

// A count for people, in groups of three digits: 1,000,000.
std::string GroupedNumber(uint64_t n);
