// Argument texts of the bridge: unwrapping, decimal fields and the first
// string argument of a call.
#include <string>

#include "app/bridge.h"
#include "app/bridge_table.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(pmrfuzz::AsText(data, size));

  // Unwrapping drops brackets and quotes and nothing else.
  const std::string plain = ParseJSString(text);
  FUZZ_CHECK(plain.find_first_of("[]\"") == std::string::npos);
  FUZZ_CHECK(ParseJSString(plain) == plain);
  size_t kept = 0;
  for (char c : text) kept += (c != '[' && c != ']' && c != '"');
  FUZZ_CHECK(plain.size() == kept);

  // A decimal field reads back from its own digits.
  int v = 12345;
  if (ParseDecimalInt32(text, v)) {
    int again = 0;
    FUZZ_CHECK(ParseDecimalInt32(std::to_string(v), again) && again == v);
  } else {
    FUZZ_CHECK(v == 12345);
  }

  int fields[4] = {0, 0, 0, 0};
  if (BridgeIntArgs(text, 4, fields)) {
    std::string list = "[" + std::to_string(fields[0]);
    for (int i = 1; i < 4; ++i) list += "," + std::to_string(fields[i]);
    list += "]";
    int again[4];
    FUZZ_CHECK(BridgeIntArgs(list, 4, again));
    for (int i = 0; i < 4; ++i) FUZZ_CHECK(again[i] == fields[i]);
  }

  // The first string argument: a text without escapes reads back as itself.
  std::string first;
  if (FirstStringArgument(text, first)) {
    if (first.find_first_of("\"\\") == std::string::npos) {
      std::string again;
      FUZZ_CHECK(FirstStringArgument("[\"" + first + "\"]", again) && again == first);
    }
  }
  return 0;
}
