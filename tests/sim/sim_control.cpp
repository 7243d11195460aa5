#include "tests/sim/sim_control.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace pmrsim {
namespace {

std::vector<std::string> SplitTabs(const std::string& s) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t t = s.find('\t', start);
    out.push_back(s.substr(start, t == std::string::npos ? std::string::npos : t - start));
    if (t == std::string::npos) return out;
    start = t + 1;
  }
}

std::vector<int> SplitInts(const std::string& s) {
  std::vector<int> out;
  std::istringstream in(s);
  std::string f;
  while (std::getline(in, f, ','))
    if (!f.empty()) out.push_back(std::atoi(f.c_str()));
  return out;
}

std::string EventsText(const std::vector<input_event>& events) {
  std::string s;
  for (const input_event& e : events)
    s += " " + std::to_string(e.type) + " " + std::to_string(e.code) + " " + std::to_string(e.value);
  return s;
}

}  // namespace

SimControl::~SimControl() { Disconnect(); }

bool SimControl::Connect(const std::string& socketPath, int timeoutMs) {
  Disconnect();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      fd_ = fd;
      return Ok("ping").has_value();
    }
    if (fd >= 0) close(fd);
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void SimControl::Disconnect() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  pending_.clear();
}

std::vector<std::string> SimControl::Command(const std::string& line) {
  std::vector<std::string> lines;
  if (fd_ < 0) return lines;
  std::string req = line + "\n";
  size_t off = 0;
  while (off < req.size()) {
    ssize_t w = send(fd_, req.data() + off, req.size() - off, MSG_NOSIGNAL);
    if (w <= 0) {
      Disconnect();
      return lines;
    }
    off += w;
  }
  char chunk[65536];
  for (;;) {
    size_t nl;
    while ((nl = pending_.find('\n')) != std::string::npos) {
      std::string l = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      if (l == "end") return lines;
      lines.push_back(l);
    }
    ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) {
      Disconnect();
      return {};
    }
    pending_.append(chunk, n);
  }
}

std::optional<std::string> SimControl::Ok(const std::string& line) {
  std::vector<std::string> r = Command(line);
  if (r.empty() || r[0].rfind("ok", 0) != 0) return std::nullopt;
  return r[0].size() > 3 ? r[0].substr(3) : std::string();
}

bool SimControl::Go() { return Ok("go").has_value(); }

std::string SimControl::AddEvemu(const std::string& evemuPath, const std::string& phys) {
  return Ok("add " + (phys.empty() ? std::string("-") : phys) + " " + evemuPath).value_or("");
}

std::string SimControl::AddKeyboard(const std::string& phys, const std::string& name) {
  return Ok("addbasic keyboard " + (phys.empty() ? std::string("-") : phys) + " " + name).value_or("");
}

std::string SimControl::AddMouse(const std::string& phys, const std::string& name, bool hiRes) {
  return Ok(std::string("addbasic ") + (hiRes ? "hiresmouse " : "mouse ") +
            (phys.empty() ? std::string("-") : phys) + " " + name)
      .value_or("");
}

bool SimControl::Emit(const std::string& node, const std::vector<input_event>& events) {
  return Ok("emit " + node + EventsText(events)).has_value();
}

bool SimControl::EmitLost(const std::string& node, const std::vector<input_event>& events) {
  return Ok("emitlost " + node + EventsText(events)).has_value();
}

bool SimControl::Key(const std::string& node, int code, int value) { return Emit(node, KeyFrame(code, value)); }

bool SimControl::Tap(const std::string& node, int code) { return Key(node, code, 1) && Key(node, code, 0); }

bool SimControl::Replay(const std::string& node, const std::string& evemuPath) {
  return Ok("replay " + node + " " + evemuPath).has_value();
}

bool SimControl::Unplug(const std::string& node) { return Ok("unplug " + node).has_value(); }

bool SimControl::SetAccess(const std::string& node, bool read, bool write) {
  return Ok("access " + node + " " + (read ? "1" : "0") + " " + (write ? "1" : "0")).has_value();
}

bool SimControl::SetUinputAccess(bool allowed) {
  return Ok(std::string("uinput-access ") + (allowed ? "1" : "0")).has_value();
}

bool SimControl::GrabByOther(const std::string& node, bool grab) {
  return Ok("grab-other " + node + (grab ? " 1" : " 0")).has_value();
}

bool SimControl::SetReadFault(const std::string& node, const std::string& fault) {
  return Ok("fault " + node + " " + fault).has_value();
}

bool SimControl::FailUinputCreate(const std::string& phys) { return Ok("fail-create " + phys).has_value(); }

bool SimControl::DesktopWriteLed(const std::string& node, int code, int value) {
  return Ok("led " + node + " " + std::to_string(code) + " " + std::to_string(value)).has_value();
}

bool SimControl::SetClientBufferSize(size_t events) {
  return Ok("buffer " + std::to_string(events)).has_value();
}

std::vector<SeenEvent> SimControl::Desktop(uint64_t since) {
  std::vector<SeenEvent> out;
  std::vector<std::string> r = Command("desktop " + std::to_string(since));
  for (size_t i = 1; i < r.size(); ++i) {
    std::vector<std::string> f = SplitTabs(r[i]);
    if (f.size() < 9) continue;
    SeenEvent s;
    s.seq = std::strtoull(f[0].c_str(), nullptr, 10);
    s.ns = std::strtoll(f[1].c_str(), nullptr, 10);
    s.node = f[2];
    s.ev.type = static_cast<__u16>(std::atoi(f[3].c_str()));
    s.ev.code = static_cast<__u16>(std::atoi(f[4].c_str()));
    s.ev.value = std::atoi(f[5].c_str());
    s.origin = f[6] == "write" ? Origin::Write : f[6] == "removal" ? Origin::Removal : Origin::Device;
    s.phys = f[7];
    s.name = f[8];
    out.push_back(std::move(s));
  }
  return out;
}

uint64_t SimControl::DesktopSeq() { return std::strtoull(Ok("seq").value_or("0").c_str(), nullptr, 10); }

bool SimControl::WaitDesktop(const std::function<bool(const std::vector<SeenEvent>&)>& pred, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (pred(Desktop())) return true;
    if (std::chrono::steady_clock::now() >= deadline || !connected()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::vector<RemoteNode> SimControl::Nodes() {
  std::vector<RemoteNode> out;
  std::vector<std::string> r = Command("nodes");
  for (size_t i = 1; i < r.size(); ++i) {
    std::vector<std::string> f = SplitTabs(r[i]);
    if (f.size() < 12) continue;
    RemoteNode n;
    n.node = f[0];
    n.exists = f[1] == "1";
    n.fromUinput = f[2] == "1";
    n.grabbed = f[3] == "1";
    n.grabbedByOther = f[4] == "1";
    n.openCount = std::atoi(f[5].c_str());
    n.opensEver = std::atoi(f[6].c_str());
    unsigned b = 0, v = 0, p = 0, ver = 0;
    std::sscanf(f[7].c_str(), "%u:%u:%u:%u", &b, &v, &p, &ver);
    n.id = {static_cast<__u16>(b), static_cast<__u16>(v), static_cast<__u16>(p), static_cast<__u16>(ver)};
    n.keysDown = SplitInts(f[8]);
    n.ledsOn = SplitInts(f[9]);
    n.phys = f[10];
    n.name = f[11];
    n.grabChecked = f.size() > 12 && f[12] == "1";
    out.push_back(std::move(n));
  }
  return out;
}

std::optional<RemoteNode> SimControl::NodeByPhys(const std::string& phys) {
  std::vector<RemoteNode> all = Nodes();
  for (auto it = all.rbegin(); it != all.rend(); ++it)
    if (it->exists && it->phys == phys) return *it;
  return std::nullopt;
}

std::optional<RemoteNode> SimControl::NodeByName(const std::string& name) {
  std::vector<RemoteNode> all = Nodes();
  for (auto it = all.rbegin(); it != all.rend(); ++it)
    if (it->exists && it->name == name) return *it;
  return std::nullopt;
}

bool SimControl::WaitNodes(const std::function<bool(const std::vector<RemoteNode>&)>& pred, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (pred(Nodes())) return true;
    if (std::chrono::steady_clock::now() >= deadline || !connected()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::vector<std::vector<input_event>> SimControl::Writes(const std::string& node) {
  std::vector<std::vector<input_event>> out;
  std::vector<std::string> r = Command("writes " + node);
  for (size_t i = 1; i < r.size(); ++i) {
    std::istringstream in(r[i]);
    std::vector<input_event> w;
    int t, c, v;
    while (in >> t >> c >> v) w.push_back(Ev(t, c, v));
    out.push_back(std::move(w));
  }
  return out;
}

// ---------------------------------------------------------------------------

SimProgram::~SimProgram() {
  if (pid_ > 0) Stop(5000);
  if (!home_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(home_, ec);
  }
}

bool SimProgram::Start(const Options& options) {
  char tmpl[] = "/tmp/pmrsim-home-XXXXXX";
  if (!mkdtemp(tmpl)) return false;
  home_ = tmpl;
  for (const char* sub : {"/.local", "/.local/share", "/.config", "/.cache", "/run"})
    mkdir((home_ + sub).c_str(), 0700);
  const std::string sock = home_ + "/sim.sock";
  std::string exe = options.exe;
#ifdef PMR_SIM_BINARY_DIR
  if (exe.empty()) exe = std::string(PMR_SIM_BINARY_DIR) + "/pellomar";
#endif
  std::string preload;
#ifdef PMR_SIM_PRELOAD
  preload = PMR_SIM_PRELOAD;
#endif
  pid_ = fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    int err = ::open((home_ + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);
    if (err >= 0) dup2(err, 2);
    int out = ::open((home_ + "/stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out >= 0) dup2(out, 1);
    int nul = ::open("/dev/null", O_RDONLY);
    if (nul >= 0) dup2(nul, 0);
    setenv("HOME", home_.c_str(), 1);
    setenv("XDG_DATA_HOME", (home_ + "/.local/share").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home_ + "/.config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home_ + "/.cache").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (home_ + "/run").c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    setenv("PMR_SIM_SOCKET", sock.c_str(), 1);
    setenv("PMR_SIM_WAIT", options.waitForGo ? "1" : "0", 1);
    setenv("LD_PRELOAD", preload.c_str(), 1);
    for (const auto& [k, v] : options.env) setenv(k.c_str(), v.c_str(), 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(exe.c_str()));
    for (const std::string& a : options.args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  return control_.Connect(sock, 15000);
}

bool SimProgram::Running() {
  if (pid_ <= 0) return false;
  int st;
  pid_t r = waitpid(pid_, &st, WNOHANG);
  if (r == pid_) {
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    pid_ = -1;
    return false;
  }
  return true;
}

std::string SimProgram::Stderr() const {
  std::ifstream f(home_ + "/stderr.txt");
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

int SimProgram::Stop(int timeoutMs) {
  control_.Disconnect();
  if (pid_ <= 0) return status_;
  kill(pid_, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Running()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid_, SIGKILL);
      int st;
      waitpid(pid_, &st, 0);
      status_ = 128 + SIGKILL;
      pid_ = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return status_;
}

}  // namespace pmrsim
