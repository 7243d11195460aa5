#pragma once
// The one path by which the input layer talks to the kernel's input devices:
// every open, ioctl, read, write, poll, close, directory listing and inotify
// call on /dev/input and /dev/uinput goes through the table below. The system
// table forwards to libc; tests install a simulated kernel in its place, so the
// capture and injection code run unchanged against it.
#include <poll.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct InputDeviceIo {
  virtual ~InputDeviceIo() = default;
  // Like open(2): a descriptor, or -1 with errno set.
  virtual int Open(const char* path, int flags) = 0;
  virtual int Close(int fd) = 0;
  // Like ioctl(2); `arg` carries either an integer or a pointer.
  virtual int Ioctl(int fd, unsigned long request, unsigned long arg) = 0;
  virtual ssize_t Read(int fd, void* buf, size_t size) = 0;
  virtual ssize_t Write(int fd, const void* buf, size_t size) = 0;
  virtual int Poll(struct pollfd* fds, nfds_t count, int timeoutMs) = 0;
  // The entry names of a directory, without "." and ".."; false when it cannot
  // be opened.
  virtual bool ListDir(const char* path, std::vector<std::string>& names) = 0;
  virtual int InotifyInit(int flags) = 0;
  virtual int InotifyAddWatch(int fd, const char* path, uint32_t mask) = 0;
};

// The table in use (the system's unless one was installed).
InputDeviceIo& InputIo();
// Installs `io` (null restores the system table); returns the previous one.
// Only while no capture or injection call is running.
InputDeviceIo* SetInputIo(InputDeviceIo* io);

// Convenience wrappers.
inline int IoIoctl(int fd, unsigned long request, const void* arg) {
  return InputIo().Ioctl(fd, request, reinterpret_cast<unsigned long>(arg));
}
inline int IoIoctlInt(int fd, unsigned long request, int arg) {
  return InputIo().Ioctl(fd, request, static_cast<unsigned long>(static_cast<unsigned int>(arg)));
}
