#include "tests/sim/sim_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace pmrsim {

int SimDeviceIo::Open(const char* path, int flags) {
  if (Kernel::IsSimPath(path)) return k_.Open(path, flags);
  return ::open(path, flags);
}

int SimDeviceIo::Close(int fd) { return k_.Owns(fd) ? k_.Close(fd) : ::close(fd); }

int SimDeviceIo::Ioctl(int fd, unsigned long request, unsigned long arg) {
  return k_.Owns(fd) ? k_.Ioctl(fd, request, arg) : ::ioctl(fd, request, arg);
}

ssize_t SimDeviceIo::Read(int fd, void* buf, size_t size) {
  return k_.Owns(fd) ? k_.Read(fd, buf, size) : ::read(fd, buf, size);
}

ssize_t SimDeviceIo::Write(int fd, const void* buf, size_t size) {
  return k_.Owns(fd) ? k_.Write(fd, buf, size) : ::write(fd, buf, size);
}

int SimDeviceIo::Poll(struct pollfd* fds, nfds_t count, int timeoutMs) {
  int r = ::poll(fds, count, timeoutMs);
  if (r > 0) {
    lastReadyNs.store(NowNs());
    pollReady++;
  }
  if (r == 0) pollTimeouts++;
  return r;
}

bool SimDeviceIo::ListDir(const char* path, std::vector<std::string>& names) {
  names.clear();
  std::string real = k_.MapPath(path);
  DIR* dir = ::opendir(real.c_str());
  if (!dir) return false;
  while (struct dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.emplace_back(e->d_name);
  }
  ::closedir(dir);
  return true;
}

int SimDeviceIo::InotifyInit(int flags) { return ::inotify_init1(flags); }

int SimDeviceIo::InotifyAddWatch(int fd, const char* path, uint32_t mask) {
  return ::inotify_add_watch(fd, k_.MapPath(path).c_str(), mask);
}

DeviceDesc Fixture(const std::string& rel, const std::string& phys) {
  DeviceDesc d;
  std::string err;
  if (!LoadEvemu(FixturePath(rel), d, &err)) {
    std::fprintf(stderr, "fixture %s: %s\n", rel.c_str(), err.c_str());
    std::abort();
  }
  d.phys = phys;
  return d;
}

}  // namespace pmrsim
