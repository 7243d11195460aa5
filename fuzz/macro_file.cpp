// Fuzz target for the macro file reader and the recorder's comma list: no
// input crashes them, and whatever the reader accepts is written back in a
// form that reads to the same events and writes to the same bytes again.
//
// Built with clang it is a libFuzzer target; otherwise a small driver runs
// it over the files named on the command line or, with none, over
// deterministic mutations of a few seeds (the smoke run of the test suite).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "state/macro_file.h"
#include "tools/status_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  MacroFile file;
  if (ParseMacroFileText(text, file) == MacroFileError::kNone) {
    // Six significant digits cannot pin down a subnormal time (its own
    // precision is coarser), so such a time may move by a digit once more.
    bool subnormal = false;
    for (const UnifiedEvent& ev : file.events) subnormal |= std::fpclassify(ev.time) == FP_SUBNORMAL;
    if (subnormal) return 0;
    const std::string once = BuildMacroFileText(file.settingsLine, file.events);
    MacroFile again;
    if (ParseMacroFileText(once, again) != MacroFileError::kNone) std::abort();
    if (again.events.size() != file.events.size()) std::abort();
    if (BuildMacroFileText(again.settingsLine, again.events) != once) std::abort();
    ApplyRecorderFieldsOfSettingsLine(file.settingsLine);
  }
  ApplyRecorderUpdate(std::string(text.substr(0, 256)));
  return 0;
}

#ifndef PMR_LIBFUZZER
namespace {

int Run(const std::string& input) {
  return LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    for (int i = 1; i < argc; ++i) {
      std::ifstream in(argv[i], std::ios::binary);
      std::stringstream ss;
      ss << in.rdbuf();
      Run(ss.str());
    }
    return 0;
  }
  const std::string seeds[] = {
      "PMRMACRO 1\nSETTINGS:0,0,0,100,0,0,1,10,0,0,0,1,1,1,1,0,1,0,500,119,118,0,117,0,0,0,100,1,10,120,32,32,0,0,0,121\n"
      "1,0,640,360,0,0,0,0\n2,0.25,640,360,2,0,0,0\n3,1234.5678,0,0,0,65,1,0\n4,2,0,0,0,0,0,-120\n",
      "PMRMACRO 1\r\n3,1e308,-9223372036854775808,9223372036854775807,18446744073709551615,2147483647,1,-2147483648\r\n",
      "PMRMACRO 1\n3,nan,0,0,0,65,1,0\n3,inf,0,0,0,65,0,0\n3,-0,0,0,0,65,1,0\n",
  };
  const char alphabet[] = "0123456789,.-+e\n\r :SETINGPMRACO1naif";
  uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  int runs = 0;
  for (const std::string& seed : seeds) {
    Run(seed);
    for (int i = 0; i < 4000; ++i) {
      std::string s = seed;
      const int edits = 1 + static_cast<int>(next() % 8);
      for (int e = 0; e < edits && !s.empty(); ++e) {
        const size_t at = next() % s.size();
        switch (next() % 4) {
          case 0: s[at] = alphabet[next() % (sizeof alphabet - 1)]; break;
          case 1: s.erase(at, 1 + next() % 6); break;
          case 2: s.insert(at, 1, alphabet[next() % (sizeof alphabet - 1)]); break;
          default: s.insert(at, s.substr(next() % s.size(), next() % 24)); break;
        }
      }
      Run(s);
      ++runs;
    }
  }
  std::printf("fuzz_macro_file: %d inputs\n", runs);
  return 0;
}
#endif
