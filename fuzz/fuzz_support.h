#pragma once
// Shared by the fuzz targets: a private data directory for the process, a
// check that stops the run with a message, and file helpers.
//
// Every target defines LLVMFuzzerTestOneInput. Built with clang and
// -fsanitize=fuzzer it is a libFuzzer program (make fuzz); built with the
// normal compiler and replay_main.cpp it replays a corpus (make test).
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace pmrfuzz {

inline std::string& HomeToRemove() {
  static std::string dir;
  return dir;
}

inline void RemoveHome() {
  if (HomeToRemove().empty()) return;
  nftw(
      HomeToRemove().c_str(),
      [](const char* path, const struct stat*, int, struct FTW*) {
        remove(path);
        return 0;
      }, 16,
      FTW_DEPTH | FTW_PHYS);
}

// Points XDG_DATA_HOME, XDG_CONFIG_HOME and HOME at a fresh directory under
// the temporary directory, once per process, before anything asks for the
// data directory; the directory is returned and removed at exit.
inline const std::string& PrivateHome() {
  static const std::string dir = [] {
    const char* tmp = getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/pmr-fuzz-XXXXXX";
    if (!mkdtemp(tmpl.data())) {
      perror("mkdtemp");
      abort();
    }
    setenv("HOME", tmpl.c_str(), 1);
    setenv("XDG_DATA_HOME", (tmpl + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (tmpl + "/config").c_str(), 1);
    HomeToRemove() = tmpl;
    atexit(RemoveHome);
    return tmpl;
  }();
  return dir;
}

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  fprintf(stderr, "fuzz check failed at %s:%d: %s\n", file, line, what);
  abort();
}

inline std::string_view AsText(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Replaces the file at `path` with `text` (no link followed); false on failure.
inline bool PutFile(const std::string& path, std::string_view text) {
  unlink(path.c_str());
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  return done == text.size();
}

}  // namespace pmrfuzz

#define FUZZ_CHECK(cond) \
  do {                                                      \
    if (!(cond)) ::pmrfuzz::Fail(#cond, __FILE__, __LINE__); \
  } while (0)
