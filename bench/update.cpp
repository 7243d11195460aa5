// Self-update costs: verifying a 100 MB download (SHA-256), alone and with a
// busy thread per core beside it, and what the background check thread costs
// once its check is done (it ends: no threads left, no wakeups).
#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "platform/os_update.h"
#include "tests/support/process.h"
#include "tests/support/update_signing.h"
#include "app/update_flow.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double Sha256MbPerS(const std::string& path, double mb) {
  double best = 0;
  for (int i = 0; i < 3; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    if (LinuxSha256File(path).size() != 64) return 0;
    best = std::max(best, mb / Seconds(t0));
  }
  return best;
}

std::vector<std::string> TaskIds() {
  std::vector<std::string> ids;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') ids.push_back(e->d_name);
    closedir(d);
  }
  return ids;
}

// Context switches (voluntary and not) of every thread but the main one.
std::map<std::string, long> OtherThreadSwitches() {
  std::map<std::string, long> out;
  std::string self = std::to_string(getpid());
  for (const std::string& id : TaskIds()) {
    if (id == self) continue;
    std::ifstream in("/proc/self/task/" + id + "/status");
    for (std::string line; std::getline(in, line);)
      if (line.find("ctxt_switches:") != std::string::npos) out[id] += std::atol(line.substr(line.find(':') + 1).c_str());
  }
  return out;
}

}  // namespace

int main() {
  std::string dir = pmrtest::MakeTempDir("bench-update");

  // ---- verifying a 100 MB download
  const size_t kMb = 100;
  std::string file = dir + "/download.bin";
  {
    std::ofstream out(file, std::ios::binary);
    std::string block(1 << 20, '\0');
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + 7);
    for (size_t i = 0; i < kMb; ++i) out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  std::printf("update_sha256_mb_per_s: %.0f\n", Sha256MbPerS(file, kMb));
  {
    std::atomic<bool> stop{false};
    std::vector<std::thread> load;
    unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < cores; ++i)
      load.emplace_back([&stop] {
        volatile unsigned long x = 0;
        while (!stop.load(std::memory_order_relaxed)) x = x + 1;
      });
    std::printf("update_sha256_mb_per_s_loaded: %.0f\n", Sha256MbPerS(file, kMb));
    stop.store(true);
    for (auto& t : load) t.join();
  }
  unlink(file.c_str());

  // ---- the background check, on a signed local manifest, then idle
  std::string appImage = dir + "/Pellomar.AppImage";
  std::ofstream(appImage) << "app";
  setenv("APPIMAGE", appImage.c_str(), 1);
  std::string manifest = dir + "/manifest.json";
  std::ofstream(manifest) << pmrtest::SignedManifest(pmrtest::TestReleaseSigningKey(), "linux-free-appimage",
                                                     "1.1.0", "https://dl.pellomar.app/x", std::string(64, 'a'));
  g_UpdateManifestOverride = manifest;
  g_MainPageReady.store(true);
  size_t before = TaskIds().size();
  auto t0 = std::chrono::steady_clock::now();
  StartUpdateCheckThread();
  while (TaskIds().size() > before && Seconds(t0) < 60)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::printf("update_check_done_s: %.2f\n", Seconds(t0));
  std::printf("update_check_threads_left: %zu\n", TaskIds().size() - before);
  std::map<std::string, long> first = OtherThreadSwitches();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  long wakeups = 0;
  for (const auto& [id, n] : OtherThreadSwitches()) wakeups += n - (first.count(id) ? first[id] : 0);
  std::printf("update_idle_wakeups_per_s: %.1f\n", wakeups / 2.0);
  unlink(appImage.c_str());
  unlink(manifest.c_str());
  rmdir(dir.c_str());
  return 0;
}
