#pragma once
// Runs the program's input layer in this process against a simulated kernel:
// SimDeviceIo routes the input layer's device calls (see
// platform/linux/input/device_io.h) into a pmrsim::Kernel and passes every
// other descriptor through to libc.
#include <atomic>

#include "platform/linux/input/device_io.h"
#include "tests/sim/sim_kernel.h"

namespace pmrsim {

class SimDeviceIo final : public InputDeviceIo {
 public:
  explicit SimDeviceIo(Kernel& kernel) : k_(kernel) {}
  int Open(const char* path, int flags) override;
  int Close(int fd) override;
  int Ioctl(int fd, unsigned long request, unsigned long arg) override;
  ssize_t Read(int fd, void* buf, size_t size) override;
  ssize_t Write(int fd, const void* buf, size_t size) override;
  int Poll(struct pollfd* fds, nfds_t count, int timeoutMs) override;
  bool ListDir(const char* path, std::vector<std::string>& names) override;
  int InotifyInit(int flags) override;
  int InotifyAddWatch(int fd, const char* path, uint32_t mask) override;

  // poll calls that returned with something ready, and that timed out.
  std::atomic<uint64_t> pollReady{0};
  std::atomic<uint64_t> pollTimeouts{0};
  // When the last poll that found something ready returned (NowNs).
  std::atomic<int64_t> lastReadyNs{0};

 private:
  Kernel& k_;
};

// A simulated kernel installed as the input layer's device table for the
// life of the object.
class SimScope {
 public:
  SimScope() : io_(kernel), prev_(SetInputIo(&io_)) {}
  ~SimScope() { SetInputIo(prev_); }
  SimScope(const SimScope&) = delete;
  SimScope& operator=(const SimScope&) = delete;
  SimDeviceIo& io() { return io_; }

  Kernel kernel;

 private:
  SimDeviceIo io_;
  InputDeviceIo* prev_;
};

// Loads an evemu fixture and gives it a physical path (recordings have none).
DeviceDesc Fixture(const std::string& rel, const std::string& phys = "usb-sim/input0");

}  // namespace pmrsim
