#include "base/read_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

std::string ReadFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string data;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    data.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    data.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return data;
}

LimitedRead ReadFileLimited(const std::string& path, size_t limit, std::string& out) {
  out.clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return LimitedRead::kCannotOpen;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return LimitedRead::kNotAFile;
  }
  if (st.st_size > 0 && static_cast<unsigned long long>(st.st_size) > limit) {
    close(fd);
    return LimitedRead::kTooLarge;
  }
  out.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  LimitedRead result = LimitedRead::kOk;
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result = LimitedRead::kCannotOpen;
      break;
    }
    if (n == 0) break;
    if (out.size() + static_cast<size_t>(n) > limit) {  // the file grew while being read
      result = LimitedRead::kTooLarge;
      break;
    }
    out.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  if (result != LimitedRead::kOk) out.clear();
  return result;
}
