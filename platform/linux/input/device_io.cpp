#include "platform/linux/input/device_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace {

struct SystemDeviceIo final : InputDeviceIo {
  int Open(const char* path, int flags) override { return ::open(path, flags); }
  int Close(int fd) override { return ::close(fd); }
  int Ioctl(int fd, unsigned long request, unsigned long arg) override {
    return ::ioctl(fd, request, arg);
  }
  ssize_t Read(int fd, void* buf, size_t size) override { return ::read(fd, buf, size); }
  ssize_t Write(int fd, const void* buf, size_t size) override { return ::write(fd, buf, size); }
  int Poll(struct pollfd* fds, nfds_t count, int timeoutMs) override {
    return ::poll(fds, count, timeoutMs);
  }
  bool ListDir(const char* path, std::vector<std::string>& names) override {
    names.clear();
    DIR* dir = ::opendir(path);
    if (!dir) return false;
    while (struct dirent* entry = ::readdir(dir)) {
      if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
      names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    return true;
  }
  int InotifyInit(int flags) override { return ::inotify_init1(flags); }
  int InotifyAddWatch(int fd, const char* path, uint32_t mask) override {
    return ::inotify_add_watch(fd, path, mask);
  }
};

SystemDeviceIo g_SystemIo;
std::atomic<InputDeviceIo*> g_Io{&g_SystemIo};

}  // namespace

InputDeviceIo& InputIo() { return *g_Io.load(std::memory_order_acquire); }

InputDeviceIo* SetInputIo(InputDeviceIo* io) {
  return g_Io.exchange(io ? io : &g_SystemIo, std::memory_order_acq_rel);
}
