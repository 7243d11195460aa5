// What the whole program costs while it sits there: the real program under a
// private Xvfb on the input simulation, with its main page open and nothing
// running. Proportional set size of the program and every process it started
// (WebKit's web and network processes), 10 s after the main page appeared;
// the time from start to the main page; processor time used while idle.
//
// PSS divides each shared page among the processes that map them, so it
// drops while another program maps the same libraries (another WebKit
// program, but also anything sharing GTK, GLib, libc or the GL driver pages,
// such as the X server here) and rises when none does. The figure to hold
// against the goal is the size taken alone, pss_mb_main_page_alone, made sure
// of in one of two ways (pss_mb_main_page_alone_method says which):
//  1. when the page frames can be read (/proc/<pid>/pagemap shows frame
//     numbers to root only), it is counted from the frames themselves: every
//     resident page the program's processes map, counted once and divided
//     among those of our processes that map it. That is what PSS would be if
//     no other process mapped any of those pages, whatever else runs
//     meanwhile (the X server included);
//  2. otherwise it is the PSS taken while no other process maps WebKit's
//     library (the bench waits for them to end), and it is left out, with
//     the reason on standard error, when one still ran.
// pss_mb_main_page_no_other_webkit is the PSS of the second way, printed
// whenever no other WebKit program ran (the X server still shares its pages);
// it is the figure earlier runs of this bench called the size alone.
// The unique set size (uss, pages only one process maps) shrinks as well
// while another program maps the same library pages, so it compares only
// between runs alone.
//
// gtest-free program; figure lines are "name: value", with the size split
// by process; the threads that woke while idle go to standard error.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "tests/sim/sim_control.h"
#include "tests/support/process.h"
#include "bench/xvfb.h"  // after the simulation: X11 defines None

namespace {

using Clock = std::chrono::steady_clock;

// The process and all its descendants.
std::vector<pid_t> Tree(pid_t root) {
  std::vector<std::pair<pid_t, pid_t>> parents;
  if (DIR* d = opendir("/proc")) {
    while (dirent* e = readdir(d)) {
      const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
      if (pid <= 0) continue;
      std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
      std::string line;
      if (!std::getline(in, line)) continue;
      const size_t close = line.rfind(')');
      if (close == std::string::npos) continue;
      std::istringstream rest(line.substr(close + 2));
      char state;
      pid_t ppid = 0;
      rest >> state >> ppid;
      parents.emplace_back(pid, ppid);
    }
    closedir(d);
  }
  std::set<pid_t> in{root};
  for (bool grew = true; grew;) {
    grew = false;
    for (auto [pid, ppid] : parents)
      if (in.count(ppid) && !in.count(pid)) grew = in.insert(pid).second;
  }
  return {in.begin(), in.end()};
}

// One figure of /proc/<pid>/smaps_rollup in MB: "Pss:", or the sum of the
// private pages ("Private_Clean:" and "Private_Dirty:"). A library page
// another process maps as well is not private: both depend on what else runs.
double SmapsMb(pid_t pid, bool privateOnly) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
  std::string key;
  long kb = 0, sum = 0;
  while (in >> key) {
    if (privateOnly ? (key == "Private_Clean:" || key == "Private_Dirty:") : key == "Pss:") {
      in >> kb;
      sum += kb;
    }
  }
  return sum / 1024.0;
}

// The resident page frames `pid` maps, one entry per page (a frame mapped
// twice in one process counts once). Empty when the frame numbers cannot be
// read: the kernel shows them to CAP_SYS_ADMIN only and gives zeros otherwise.
std::vector<uint64_t> ResidentFrames(pid_t pid, bool* readable) {
  std::vector<uint64_t> frames;
  const std::string dir = "/proc/" + std::to_string(pid);
  std::ifstream maps(dir + "/maps");
  const int fd = open((dir + "/pagemap").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *readable = false;
    return frames;
  }
  const long pageSize = sysconf(_SC_PAGESIZE);
  bool anyPresent = false, anyFrame = false;
  std::string line;
  std::vector<uint64_t> entries;
  while (std::getline(maps, line)) {
    uint64_t begin = 0, end = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx", &begin, &end) != 2 || end <= begin) continue;
    // The vsyscall page lies outside the process's page tables.
    if (line.find("[vsyscall]") != std::string::npos) continue;
    const uint64_t pages = (end - begin) / static_cast<uint64_t>(pageSize);
    entries.resize(pages);
    const ssize_t want = static_cast<ssize_t>(pages * sizeof(uint64_t));
    const off_t at = static_cast<off_t>(begin / static_cast<uint64_t>(pageSize) * sizeof(uint64_t));
    if (pread(fd, entries.data(), static_cast<size_t>(want), at) != want) continue;
    for (uint64_t e : entries) {
      if (!(e & (1ull << 63))) continue;  // not resident (or swapped out)
      anyPresent = true;
      const uint64_t pfn = e & ((1ull << 55) - 1);
      if (pfn == 0) continue;
      anyFrame = true;
      frames.push_back(pfn);
    }
  }
  close(fd);
  *readable = anyFrame || !anyPresent;
  std::sort(frames.begin(), frames.end());
  frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
  return frames;
}

// PSS of each process as if no process outside `tree` mapped any of its
// pages: every frame the tree maps is shared among the processes of the tree
// that map it. False when a process's frames cannot be read.
bool AlonePssMb(const std::vector<pid_t>& tree, std::map<pid_t, double>* mb) {
  std::vector<std::vector<uint64_t>> frames;
  std::unordered_map<uint64_t, int> mappers;
  for (pid_t p : tree) {
    bool readable = true;
    frames.push_back(ResidentFrames(p, &readable));
    if (!readable) return false;
    for (uint64_t f : frames.back()) ++mappers[f];
  }
  const double pageMb = static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
  for (size_t i = 0; i < tree.size(); ++i) {
    double sum = 0;
    for (uint64_t f : frames[i]) sum += 1.0 / mappers[f];
    (*mb)[tree[i]] = sum * pageMb;
  }
  return true;
}

// Processes outside `mine` that map WebKit's library: while one runs, the
// library's pages are shared with it and the PSS of ours drops. Processes
// whose maps cannot be read (another user's) are counted in `unreadable`.
int OtherWebKitProcesses(const std::vector<pid_t>& mine, int* unreadable) {
  const std::set<pid_t> skip(mine.begin(), mine.end());
  int count = 0;
  *unreadable = 0;
  if (DIR* d = opendir("/proc")) {
    while (dirent* e = readdir(d)) {
      const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
      if (pid <= 0 || pid == getpid() || skip.count(pid)) continue;
      std::ifstream in("/proc/" + std::to_string(pid) + "/maps");
      if (!in) {
        ++*unreadable;
        continue;
      }
      std::string line;
      while (std::getline(in, line))
        if (line.find("libwebkit2gtk") != std::string::npos) {
          ++count;
          break;
        }
    }
    closedir(d);
  }
  return count;
}

// Waits up to timeoutS for no other WebKit program to run; the count left.
int WaitAlone(const std::vector<pid_t>& mine, int timeoutS) {
  const auto end = Clock::now() + std::chrono::seconds(timeoutS);
  int unreadable = 0;
  for (;;) {
    const int n = OtherWebKitProcesses(mine, &unreadable);
    if (n == 0 || Clock::now() >= end) return n;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
}

// utime + stime in clock ticks.
long long CpuTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return 0;
  const size_t close = line.rfind(')');
  std::istringstream rest(line.substr(close + 2));
  std::string field;
  long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::atoll(field.c_str());
    if (i == 15) stime = std::atoll(field.c_str());
  }
  return utime + stime;
}

long long TreeTicks(pid_t root) {
  long long t = 0;
  for (pid_t p : Tree(root)) t += CpuTicks(p);
  return t;
}

std::string Comm(const std::string& statDir) {
  std::ifstream in(statDir + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

// Processor time (ns) and times run of every thread of the tree, keyed
// "process/thread/tid": what woke while idle goes to standard error.
std::map<std::string, std::pair<long long, long long>> ThreadTicks(const std::vector<pid_t>& tree) {
  std::map<std::string, std::pair<long long, long long>> out;
  for (pid_t p : tree) {
    const std::string dir = "/proc/" + std::to_string(p);
    const std::string proc = Comm(dir);
    if (DIR* d = opendir((dir + "/task").c_str())) {
      while (dirent* e = readdir(d)) {
        const pid_t tid = static_cast<pid_t>(std::atoi(e->d_name));
        if (tid <= 0) continue;
        const std::string task = dir + "/task/" + std::to_string(tid);
        std::ifstream in(task + "/schedstat");
        long long ns = 0, waitNs = 0, slices = 0;
        if (!(in >> ns >> waitNs >> slices)) continue;
        out[proc + "/" + Comm(task) + "/" + std::to_string(tid)] = {ns, slices};
      }
      closedir(d);
    }
  }
  return out;
}

bool WaitFile(const std::string& path, int timeoutMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  struct stat st;
  while (Clock::now() < end) {
    if (stat(path.c_str(), &st) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

// A private session bus, as every desktop session has one. Without it GLib
// would start a bus through X11 autolaunch on each connection and leave that
// bus and the accessibility services running after the bench.
class SessionBus {
 public:
  bool Start() {
    const std::string dir = pmrtest::MakeTempDir("footprint-bus");
    const std::string socket = dir + "/bus";
    // The services it starts write to its output, which must not mix with
    // the figure lines.
    child_ = pmrtest::Spawn({"sh", "-c",
                             "exec dbus-daemon --session --nofork --nopidfile --address='unix:path=" + socket +
                                 "' >/dev/null 2>&1"},
                            {}, false);
    if (child_.pid <= 0) return false;
    address_ = "unix:path=" + socket;
    return WaitFile(socket, 20000);
  }
  ~SessionBus() {
    if (child_.pid > 0) {
      kill(child_.pid, SIGTERM);
      waitpid(child_.pid, nullptr, 0);
    }
  }
  const std::string& address() const { return address_; }

 private:
  pmrtest::ChildProcess child_;
  std::string address_;
};

}  // namespace

// An optional argument names the executable to measure (default: the build's).
int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  pmrbench::Xvfb x;
  if (!x.Start()) {
    std::fprintf(stderr, "footprint: Xvfb did not start\n");
    return 1;
  }
  SessionBus bus;
  if (!bus.Start()) {
    std::fprintf(stderr, "footprint: dbus-daemon did not start\n");
    return 1;
  }
  // PSS is only comparable between runs when no other process shares
  // WebKit's pages: wait for any to end first (other tests, a browser).
  const int othersAtStart = WaitAlone({}, 120);
  if (othersAtStart > 0)
    std::fprintf(stderr, "footprint: %d other WebKit process(es) still running after 120 s\n", othersAtStart);
  pmrsim::SimProgram prog;
  pmrsim::SimProgram::Options options;
  if (argc > 1) options.exe = argv[1];
  options.env = {{"DISPLAY", x.display()}, {"WAYLAND_DISPLAY", ""}, {"DBUS_SESSION_BUS_ADDRESS", bus.address()}};
  if (!prog.Start(options)) {
    std::fprintf(stderr, "footprint: the program did not start\n");
    return 1;
  }
  prog.control().AddKeyboard();
  const auto t0 = Clock::now();
  prog.control().Go();
  // The main page polls the status from its first moment: its file appears.
  if (!WaitFile(prog.dataDir() + "/status.txt", 60000)) {
    std::fprintf(stderr, "footprint: the main page did not appear\n%s\n", prog.Stderr().c_str());
    return 1;
  }
  const double startMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();

  std::this_thread::sleep_for(std::chrono::seconds(10));
  // The size is taken once no other WebKit program runs (waiting up to 60 s
  // more); the count before and after the reading goes out with the figures.
  WaitAlone(Tree(prog.pid()), 60);
  double pss = 0;
  const std::vector<pid_t> tree = Tree(prog.pid());
  int unreadable = 0;
  int othersAtMeasure = OtherWebKitProcesses(tree, &unreadable);
  // The share of each process: the program, WebKit's web and network processes.
  std::map<std::string, double> byProcess, ussByProcess, aloneByProcess;
  std::map<pid_t, double> alone;
  const bool framesRead = AlonePssMb(tree, &alone);
  double uss = 0, aloneSum = 0;
  for (pid_t p : tree) {
    const double mb = SmapsMb(p, false);
    const double privateMb = SmapsMb(p, true);
    pss += mb;
    uss += privateMb;
    const std::string comm = Comm("/proc/" + std::to_string(p));
    const char* kind = comm.rfind("WebKitWeb", 0) == 0       ? "web"
                       : comm.rfind("WebKitNetwork", 0) == 0 ? "network"
                       : p == prog.pid()                      ? "program"
                                                              : "other";
    byProcess[kind] += mb;
    ussByProcess[kind] += privateMb;
    if (framesRead) {
      aloneByProcess[kind] += alone[p];
      aloneSum += alone[p];
    }
  }
  int unreadableAfter = 0;
  othersAtMeasure = std::max(othersAtMeasure, OtherWebKitProcesses(tree, &unreadableAfter));

  const long ticksPerS = sysconf(_SC_CLK_TCK);
  const int idleS = 30;
  const long long before = TreeTicks(prog.pid());
  const auto threadsBefore = ThreadTicks(tree);
  std::this_thread::sleep_for(std::chrono::seconds(idleS));
  const long long after = TreeTicks(prog.pid());
  long long idleRuns = 0;
  for (const auto& [name, use] : ThreadTicks(tree)) {
    auto it = threadsBefore.find(name);
    const auto was = it == threadsBefore.end() ? std::pair<long long, long long>{0, 0} : it->second;
    idleRuns += use.second - was.second;
    if (use.second > was.second)
      std::fprintf(stderr, "footprint: idle thread %s %lld us %lld runs\n", name.c_str(),
                   (use.first - was.first) / 1000, use.second - was.second);
  }
  const double idlePercent = 100.0 * static_cast<double>(after - before) / (static_cast<double>(ticksPerS) * idleS);
  prog.Stop();

  std::printf("footprint_processes: %zu\n", tree.size());
  std::printf("start_to_window_ms: %.0f\n", startMs);
  std::printf("pss_mb_main_page: %.1f\n", pss);
  std::printf("private_mb_main_page: %.1f\n", uss);
  std::printf("uss_mb_main_page: %.1f\n", uss);
  std::printf("other_webkit_processes_at_start: %d\n", othersAtStart);
  std::printf("other_webkit_processes_at_measure: %d\n", othersAtMeasure);
  std::printf("unreadable_processes_at_measure: %d\n", unreadable);
  // Only a size taken alone is comparable with the goal (see the top).
  if (othersAtMeasure == 0) std::printf("pss_mb_main_page_no_other_webkit: %.1f\n", pss);
  if (framesRead) {
    std::printf("pss_mb_main_page_alone: %.1f\n", aloneSum);
    std::printf("pss_mb_main_page_alone_method: 1\n");
  } else if (othersAtMeasure == 0) {
    std::printf("pss_mb_main_page_alone: %.1f\n", pss);
    std::printf("pss_mb_main_page_alone_method: 2\n");
  } else {
    std::fprintf(stderr,
                 "footprint: page frames unreadable and %d other WebKit process(es) ran while measuring: "
                 "no pss_mb_main_page_alone\n",
                 othersAtMeasure);
  }
  std::printf("idle_cpu_percent: %.2f\n", idlePercent);
  std::printf("idle_thread_wakeups_per_s: %.1f\n", static_cast<double>(idleRuns) / idleS);
  for (const auto& [kind, mb] : byProcess) std::printf("pss_mb_main_page_%s: %.1f\n", kind.c_str(), mb);
  for (const auto& [kind, mb] : aloneByProcess) std::printf("pss_mb_main_page_alone_%s: %.1f\n", kind.c_str(), mb);
  for (const auto& [kind, mb] : ussByProcess) std::printf("uss_mb_main_page_%s: %.1f\n", kind.c_str(), mb);
  return 0;
}
