// Replacing state files through a temporary file, fsync and rename.
#include "base/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

constexpr const char* kTempInfix = ".tmp-";

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WriteAll(int fd, std::string_view content) {
  const char* p = content.data();
  size_t left = content.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

void SyncDirectory(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view content, AtomicWriteOptions options) {
  if (path.empty() || path.back() == '/') return false;
  // The temporary name carries the process id and a per-process counter, so
  // two writers of the same file never share a temporary file; the name also
  // tells RemoveStaleTempFiles whose it is.
  static std::atomic<unsigned> counter{0};
  std::string temp = path + kTempInfix + std::to_string(::getpid()) + "-" +
                     std::to_string(counter.fetch_add(1));

  // The mode of the file being replaced, never of what a link in its place
  // points to (the link itself is replaced, its target left alone).
  mode_t mode = 0600;
  struct stat st {};
  if (options.mode >= 0)
    mode = static_cast<mode_t>(options.mode) & 0777;
  else if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
    mode = st.st_mode & 0777;

  constexpr int kCreate = O_WRONLY | O_CREAT | O_EXCL | O_TRUNC | O_CLOEXEC | O_NOFOLLOW;
  int fd = ::open(temp.c_str(), kCreate, 0600);
  if (fd < 0 && errno == EEXIST) {
    // No name is ever used twice by this process, so the file is a leftover
    // of an earlier process that ran under the same process id and was
    // stopped in the middle of a write (RemoveStaleTempFiles keeps such files
    // because their id is alive: it is ours).
    ::unlink(temp.c_str());
    fd = ::open(temp.c_str(), kCreate, 0600);
  }
  if (fd < 0) return false;
  bool ok = WriteAll(fd, content);
  if (ok && mode != 0600 && ::fchmod(fd, mode) != 0 && options.mode >= 0) ok = false;
  if (ok && options.sync) ok = ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  if (options.sync) SyncDirectory(DirectoryOf(path));
  return true;
}

void RemoveStaleTempFiles(const std::string& path) {
  std::string dir = DirectoryOf(path);
  std::string prefix = BaseNameOf(path) + kTempInfix;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  while (struct dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    // <target>.tmp-<pid>-<n>: only files of processes that no longer run.
    const char* pidText = name.c_str() + prefix.size();
    char* end = nullptr;
    long pid = std::strtol(pidText, &end, 10);
    if (end == pidText || *end != '-' || pid <= 0) continue;
    if (pid == ::getpid()) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) continue;
    ::unlinkat(::dirfd(d), name.c_str(), 0);
  }
  ::closedir(d);
}
