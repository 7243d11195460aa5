// Fuzz target for the KWin window report reader and the queries over what it
// read. Built for libFuzzer with clang (PMR_LIBFUZZER); otherwise a driver
// runs the files named on the command line, or with none a fixed number of
// pseudo-random mutations of good reports.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "platform/linux/shell/kwin_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto windows = pmrkwin::ParseWindowList(text);
  size_t records = 1;
  for (char c : text) records += c == ';';
  if (windows.size() > records) __builtin_trap();
  for (const auto& w : windows) {
    pmrkwin::PidAtIn(windows, w.x, w.y);
    pmrkwin::PidAtIn(windows, static_cast<double>(w.x) + w.width - 0.5, static_cast<double>(w.y) + w.height);
  }
  int x, y, w, h;
  if (!windows.empty()) pmrkwin::OwnFrameIn(windows, windows.back().pid, x, y, w, h);
  return 0;
}

#ifndef PMR_LIBFUZZER
int main(int argc, char** argv) {
  if (argc > 1) {
    for (int i = 1; i < argc; ++i) {
      std::ifstream in(argv[i], std::ios::binary);
      std::stringstream ss;
      ss << in.rdbuf();
      const std::string s = ss.str();
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    }
    return 0;
  }
  const std::string seeds[] = {"100,0,0,640,480,1;200,-10,-20,30,40,0", "1,2147483647,2147483647,2147483647,1,1",
                               "-2147483648,-2147483648,0,0,0,0;;;", "5, 6 ,+7,8x,9,1;a,b,c,d,e,f"};
  const char alphabet[] = "0123456789,;-+ x\n";
  uint64_t state = 0x9e3779b97f4a7c15ull;
  auto next = [&] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  for (int round = 0; round < 200000; ++round) {
    std::string s = seeds[next() % 4];
    const int edits = 1 + next() % 8;
    for (int e = 0; e < edits; ++e) {
      const size_t at = s.empty() ? 0 : next() % (s.size() + 1);
      switch (next() % 3) {
        case 0: s.insert(at, 1, alphabet[next() % (sizeof(alphabet) - 1)]); break;
        case 1: if (at < s.size()) s.erase(at, 1); break;
        default: if (at < s.size()) s[at] = static_cast<char>(next() & 0xff); break;
      }
    }
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  }
  std::puts("kwin_windows fuzz: 200000 inputs, no fault");
  return 0;
}
#endif
