// Preload library that runs the real program against the simulated input
// subsystem: /dev/input and /dev/uinput, their descriptors and ioctls are
// served by a pmrsim::Kernel living in the program's process, which the test
// controls through the socket named by PMR_SIM_SOCKET (tests/sim/README.md).
//
// Environment (read once, then removed so that child processes run plainly):
//   PMR_SIM_SOCKET  path of the control socket (required to activate)
//   PMR_SIM_WAIT    "1": the program does not start before the test sends "go"
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/sim/sim_server.h"

namespace {

pmrsim::Kernel* g_Kernel = nullptr;
pmrsim::SimServer* g_Server = nullptr;

constexpr int kMaxFd = 1 << 16;
std::atomic<bool> g_SimFd[kMaxFd];

bool IsSimFd(int fd) { return g_Kernel && fd >= 0 && fd < kMaxFd && g_SimFd[fd].load(std::memory_order_acquire); }

template <typename F>
F Next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

int SimOpen(const char* path, int flags) {
  int fd = g_Kernel->Open(path, flags);
  if (fd >= 0 && fd < kMaxFd) g_SimFd[fd].store(true, std::memory_order_release);
  return fd;
}

bool Redirect(const char* path) { return g_Kernel && pmrsim::Kernel::IsSimPath(path); }

__attribute__((constructor)) void SimInit() {
  const char* sock = getenv("PMR_SIM_SOCKET");
  if (!sock || !*sock) return;
  std::string path = sock;
  bool wait = getenv("PMR_SIM_WAIT") && std::strcmp(getenv("PMR_SIM_WAIT"), "1") == 0;
  unsetenv("PMR_SIM_SOCKET");
  unsetenv("PMR_SIM_WAIT");
  unsetenv("LD_PRELOAD");
  // The simulation's files live beside the socket, in the test's private
  // directory, which the test removes whatever way the program ends.
  const size_t slash = path.rfind('/');
  g_Kernel = new pmrsim::Kernel(slash == std::string::npos || slash == 0 ? "/tmp" : path.substr(0, slash));
  g_Server = new pmrsim::SimServer(*g_Kernel, path);
  if (!g_Server->Start()) {
    std::fprintf(stderr, "pmrsim: cannot listen on %s\n", path.c_str());
    return;
  }
  if (wait && !g_Server->WaitGo(30000)) std::fprintf(stderr, "pmrsim: no go from the test\n");
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  if (Redirect(path)) return SimOpen(path, flags);
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list ap;
    va_start(ap, flags);
    mode = va_arg(ap, mode_t);
    va_end(ap);
  }
  static auto real = Next<int (*)(const char*, int, ...)>("open");
  return real(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  if (Redirect(path)) return SimOpen(path, flags);
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list ap;
    va_start(ap, flags);
    mode = va_arg(ap, mode_t);
    va_end(ap);
  }
  static auto real = Next<int (*)(const char*, int, ...)>("open64");
  return real(path, flags, mode);
}

int __open_2(const char* path, int flags) {
  if (Redirect(path)) return SimOpen(path, flags);
  static auto real = Next<int (*)(const char*, int)>("__open_2");
  return real(path, flags);
}

int __open64_2(const char* path, int flags) {
  if (Redirect(path)) return SimOpen(path, flags);
  static auto real = Next<int (*)(const char*, int)>("__open64_2");
  return real(path, flags);
}

int openat(int dirfd, const char* path, int flags, ...) {
  if (Redirect(path)) return SimOpen(path, flags);
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list ap;
    va_start(ap, flags);
    mode = va_arg(ap, mode_t);
    va_end(ap);
  }
  static auto real = Next<int (*)(int, const char*, int, ...)>("openat");
  return real(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char* path, int flags, ...) {
  if (Redirect(path)) return SimOpen(path, flags);
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list ap;
    va_start(ap, flags);
    mode = va_arg(ap, mode_t);
    va_end(ap);
  }
  static auto real = Next<int (*)(int, const char*, int, ...)>("openat64");
  return real(dirfd, path, flags, mode);
}

int close(int fd) {
  if (IsSimFd(fd)) {
    g_SimFd[fd].store(false, std::memory_order_release);
    return g_Kernel->Close(fd);
  }
  static auto real = Next<int (*)(int)>("close");
  return real(fd);
}

ssize_t read(int fd, void* buf, size_t n) {
  if (IsSimFd(fd)) return g_Kernel->Read(fd, buf, n);
  static auto real = Next<ssize_t (*)(int, void*, size_t)>("read");
  return real(fd, buf, n);
}

ssize_t __read_chk(int fd, void* buf, size_t n, size_t buflen) {
  if (IsSimFd(fd)) return g_Kernel->Read(fd, buf, n);
  static auto real = Next<ssize_t (*)(int, void*, size_t, size_t)>("__read_chk");
  return real(fd, buf, n, buflen);
}

ssize_t write(int fd, const void* buf, size_t n) {
  if (IsSimFd(fd)) return g_Kernel->Write(fd, buf, n);
  static auto real = Next<ssize_t (*)(int, const void*, size_t)>("write");
  return real(fd, buf, n);
}

int ioctl(int fd, unsigned long request, ...) {
  va_list ap;
  va_start(ap, request);
  unsigned long arg = va_arg(ap, unsigned long);
  va_end(ap);
  if (IsSimFd(fd)) return g_Kernel->Ioctl(fd, request, arg);
  static auto real = Next<int (*)(int, unsigned long, ...)>("ioctl");
  return real(fd, request, arg);
}

DIR* opendir(const char* path) {
  static auto real = Next<DIR* (*)(const char*)>("opendir");
  if (Redirect(path)) return real(g_Kernel->MapPath(path).c_str());
  return real(path);
}

int inotify_add_watch(int fd, const char* path, uint32_t mask) {
  static auto real = Next<int (*)(int, const char*, uint32_t)>("inotify_add_watch");
  if (Redirect(path)) return real(fd, g_Kernel->MapPath(path).c_str(), mask);
  return real(fd, path, mask);
}

int access(const char* path, int mode) {
  static auto real = Next<int (*)(const char*, int)>("access");
  if (Redirect(path)) {
    if (std::strcmp(path, "/dev/uinput") == 0) {
      int fd = g_Kernel->Open(path, O_WRONLY);
      if (fd < 0) return -1;
      g_Kernel->Close(fd);
      return 0;
    }
    return real(g_Kernel->MapPath(path).c_str(), mode);
  }
  return real(path, mode);
}

}  // extern "C"
