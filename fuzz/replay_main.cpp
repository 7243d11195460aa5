// Replays a fuzz target's corpus: every regular file named on the command
// line, or found directly inside a directory named there, is passed to the
// target once. Exits non-zero when a directory is empty or unreadable; a
// failed check aborts, as it does under the fuzzer.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
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

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (!CollectFiles(argv[i], files)) {
      fprintf(stderr, "replay: nothing to replay in %s\n", argv[i]);
      return 2;
    }
  }
  for (const std::string& f : files) {
    std::string data = ReadFile(f);
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.data()), data.size());
  }
  printf("replayed %zu inputs\n", files.size());
  return 0;
}
