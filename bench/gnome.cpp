// Pointer age on GNOME Wayland: the time from a real pointer move (through
// the shell's remote-desktop interface) until the program knows the new
// position, through the shell helper and through the portal stream, idle and
// under a busy loop per core; and the CPU the program spends on a running
// portal stream while the pointer is still.
//
// Runs inside a private headless GNOME session; started on its own it
// starts one (tests/support/with-gnome.sh --portal).
#include <gtk/gtk.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/load.h"
#include "platform/linux/shell/gnome.h"
#include "platform/linux/shell/portal.h"
#include "platform/os_shell.h"
#include "tests/support/gnome_session.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSamples = 120;
constexpr int kTimeoutMs = 5000;

bool WaitPosition(const std::function<bool(double&, double&)>& read, double x, double y, int timeoutMs) {
  auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  double px, py;
  while (Clock::now() < end) {
    if (read(px, py) && px == x && py == y) return true;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return false;
}

// The 99th percentile of the move-to-known ages in ms; -1 when a move was
// never seen.
double AgeP99(pmrtest::GnomeRemotePointer& pointer, const std::function<bool(double&, double&)>& read) {
  double x = 400, y = 300;
  if (!pointer.MoveTo(x, y) || !WaitPosition(read, x, y, kTimeoutMs)) return -1;
  std::vector<double> ages;
  for (int i = 0; i < kSamples; ++i) {
    double dx = (i % 2 ? -1 : 1) * (40 + i % 7), dy = (i % 3) - 1;
    auto t0 = Clock::now();
    if (!pointer.MoveBy(dx, dy)) return -1;
    x += dx;
    y += dy;
    if (!WaitPosition(read, x, y, kTimeoutMs)) return -1;
    ages.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  std::sort(ages.begin(), ages.end());
  size_t at = static_cast<size_t>(std::ceil(ages.size() * 0.99)) - 1;
  return ages[at];
}

double ProcessCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

void Print(const char* name, double value) {
  std::printf("%s: %.2f\n", name, value);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (!pmrtest::InGnomeSession()) {
    std::string script = std::string(PMR_SOURCE_DIR) + "/tests/support/with-gnome.sh";
    execl(script.c_str(), script.c_str(), "--portal", argv[0], static_cast<char*>(nullptr));
    std::perror("with-gnome.sh");
    return 1;
  }
  // The helper, active after a shell restart (the stand-in for a new login).
  bool helper = LinuxGnomeInstallHelper(PMR_BINARY_DIR) && pmrtest::GnomeControl("shell-stop") &&
                pmrtest::GnomeControl("shell-start");
  auto gnomeRead = [](double& x, double& y) { return GnomePointer(x, y, nullptr); };
  if (helper) {
    auto end = Clock::now() + std::chrono::seconds(20);
    while (LinuxGnomeHelperState() != "active" && Clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pmrtest::GnomeRemotePointer pointer;
    Print("gnome_pointer_age_ms_p99", AgeP99(pointer, gnomeRead));
    {
      pmrbench::BusyLoad load;
      Print("gnome_pointer_age_ms_p99_loaded", AgeP99(pointer, gnomeRead));
    }
  } else {
    std::fprintf(stderr, "the helper could not be installed\n");
  }

  // The portal stream, granted once in the portal's dialog.
  pmrtest::GnomeRemotePointer input;
  std::string why;
  if (!PortalStart() || !pmrtest::GnomeGrantScreenShare(30000, &why)) {
    std::fprintf(stderr, "no portal stream: %s\n", why.c_str());
    PortalStop();
    return 1;
  }
  auto portalRead = [](double& x, double& y) { return PortalPointer(x, y); };
  Print("portal_pointer_age_ms_p99", AgeP99(input, portalRead));
  {
    pmrbench::BusyLoad load;
    Print("portal_pointer_age_ms_p99_loaded", AgeP99(input, portalRead));
  }
  // A still pointer on a running stream: the share of one core the program
  // spends on it.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  double cpu0 = ProcessCpuMs();
  auto t0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  Print("portal_still_cpu_percent", 100.0 * (ProcessCpuMs() - cpu0) / ms);
  PortalStop();
  return 0;
}
