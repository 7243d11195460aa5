#include "base/read_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

ReadStatus ReadFileInChunks(const std::string& path, ReadLimits limits,
                            const std::function<bool(std::string_view)>& chunk) {
  // O_NONBLOCK: opening a FIFO for reading must not wait for a writer.
  int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  if (!limits.followLinks) flags |= O_NOFOLLOW;
  int fd = ::open(path.c_str(), flags);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return ReadStatus::kMissing;
    if (errno == ELOOP || errno == ENXIO || errno == EISDIR) return ReadStatus::kNotRegular;
    return ReadStatus::kFailed;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return ReadStatus::kFailed;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return ReadStatus::kNotRegular;
  }
  if (st.st_size > 0 && static_cast<unsigned long long>(st.st_size) > limits.maxBytes) {
    ::close(fd);
    return ReadStatus::kTooLarge;
  }
  // Files under /proc report a size of 0: they are read in chunks like any other.
  ReadStatus status = ReadStatus::kOk;
  size_t total = 0;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      status = ReadStatus::kFailed;
      break;
    }
    if (n == 0) break;
    if (static_cast<size_t>(n) > limits.maxBytes - total) {
      status = ReadStatus::kTooLarge;
      break;
    }
    total += static_cast<size_t>(n);
    if (!chunk(std::string_view(buf, static_cast<size_t>(n)))) break;
  }
  ::close(fd);
  return status;
}

ReadStatus ReadFileCapped(const std::string& path, std::string& out, ReadLimits limits) {
  out.clear();
  ReadStatus status = ReadFileInChunks(path, limits, [&out](std::string_view piece) {
    out.append(piece);
    return true;
  });
  if (status != ReadStatus::kOk) {
    out.clear();
    out.shrink_to_fit();
  }
  return status;
}

std::string ReadFile(const std::string& path) {
  std::string data;
  ReadFileCapped(path, data, ReadLimits{});
  return data;
}

std::string ReadStateFile(const std::string& path, size_t maxBytes) {
  std::string data;
  ReadFileCapped(path, data, ReadLimits{.maxBytes = maxBytes, .followLinks = false});
  return data;
}
