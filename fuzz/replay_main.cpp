// Replays a fuzz target's corpus: every regular file named on the command
// line, or found directly inside a directory named there, is passed to the
// target once. With `--mutations N` it then passes N inputs made from the
// corpus by a fixed sequence of edits (bytes inserted, removed, overwritten,
// slices repeated or taken from another input), the same on every run, so the
// test suite reaches past the stored inputs without a fuzzer; `--max-seconds S`
// ends that series early (a target that writes files runs fewer on a busy
// machine, always the same first ones). Exits non-zero
// when a directory is empty or unreadable; a failed check aborts, as it does
// under the fuzzer.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <string>
#include <vector>

#include "base/read_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool CollectFiles(const std::string& path, std::vector<std::string>& out) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  if (S_ISREG(st.st_mode)) {
    out.push_back(path);
    return true;
  }
  DIR* dir = opendir(path.c_str());
  if (!dir) return false;
  size_t before = out.size();
  while (dirent* e = readdir(dir)) {
    std::string child = path + "/" + e->d_name;
    if (e->d_name[0] != '.' && stat(child.c_str(), &st) == 0 && S_ISREG(st.st_mode)) out.push_back(child);
  }
  closedir(dir);
  std::sort(out.begin() + static_cast<long>(before), out.end());
  return out.size() > before;
}

// xorshift64: the same sequence everywhere.
struct Sequence {
  uint64_t state = 0x9E3779B97F4A7C15ull;
  uint64_t Next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  }
  size_t Below(size_t n) { return n ? static_cast<size_t>(Next() % n) : 0; }
};

// One edited copy of a corpus input. Inserted bytes come mostly from the
// bytes the corpus itself uses (digits, separators, key letters), so edits
// stay near the formats the target reads.
std::string Mutate(Sequence& seq, const std::vector<std::string>& inputs, const std::string& alphabet) {
  std::string s = inputs[seq.Below(inputs.size())];
  const int edits = 1 + static_cast<int>(seq.Below(8));
  for (int e = 0; e < edits; ++e) {
    const size_t at = seq.Below(s.size() + 1);
    switch (seq.Below(5)) {
      case 0: {
        const bool raw = alphabet.empty() || seq.Below(8) == 0;
        s.insert(at, 1, raw ? static_cast<char>(seq.Next() & 0xff) : alphabet[seq.Below(alphabet.size())]);
        break;
      }
      case 1: if (at < s.size()) s.erase(at, 1 + seq.Below(8)); break;
      case 2: if (at < s.size()) s[at] = static_cast<char>(seq.Next() & 0xff); break;
      case 3: if (at < s.size()) s.insert(at, s.substr(at, 1 + seq.Below(24))); break;
      default: {
        const std::string& other = inputs[seq.Below(inputs.size())];
        const size_t from = seq.Below(other.size() + 1);
        s.insert(at, other.substr(from, seq.Below(40)));
        break;
      }
    }
  }
  return s;
}

void RunOne(const std::string& data) {
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::string> files;
  long mutations = 0;
  double maxSeconds = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--mutations") == 0 && i + 1 < argc) {
      mutations = std::atol(argv[++i]);
      continue;
    }
    if (std::strcmp(argv[i], "--max-seconds") == 0 && i + 1 < argc) {
      maxSeconds = std::atof(argv[++i]);
      continue;
    }
    if (!CollectFiles(argv[i], files)) {
      fprintf(stderr, "replay: nothing to replay in %s\n", argv[i]);
      return 2;
    }
  }
  std::vector<std::string> inputs;
  for (const std::string& f : files) {
    inputs.push_back(ReadFile(f));
    RunOne(inputs.back());
  }
  printf("replayed %zu inputs\n", files.size());
  if (mutations > 0 && !inputs.empty()) {
    bool used[256] = {};
    std::string alphabet;
    for (const std::string& in : inputs)
      for (unsigned char c : in)
        if (!used[c]) {
          used[c] = true;
          alphabet.push_back(static_cast<char>(c));
        }
    Sequence seq;
    const auto start = std::chrono::steady_clock::now();
    long n = 0;
    for (; n < mutations; ++n) {
      if (maxSeconds > 0 && (n & 63) == 0 &&
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() > maxSeconds)
        break;
      RunOne(Mutate(seq, inputs, alphabet));
    }
    printf("ran %ld edited inputs\n", n);
  }
  return 0;
}
