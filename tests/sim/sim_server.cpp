#include "tests/sim/sim_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <sstream>

namespace pmrsim {
namespace {

ssize_t RawRead(int fd, void* buf, size_t n) { return syscall(SYS_read, fd, buf, n); }
ssize_t RawWrite(int fd, const void* buf, size_t n) { return syscall(SYS_write, fd, buf, n); }
int RawClose(int fd) { return static_cast<int>(syscall(SYS_close, fd)); }

const char* OriginName(Origin o) {
  switch (o) {
    case Origin::Device: return "device";
    case Origin::Write: return "write";
    case Origin::Removal: return "removal";
  }
  return "?";
}

std::string Rest(std::istringstream& in) {
  std::string rest;
  std::getline(in, rest);
  size_t b = rest.find_first_not_of(' ');
  return b == std::string::npos ? "" : rest.substr(b);
}

bool ReadEvents(std::istringstream& in, std::vector<input_event>& evs) {
  long t, c, v;
  while (in >> t) {
    if (!(in >> c >> v)) return false;
    evs.push_back(Ev(static_cast<int>(t), static_cast<int>(c), static_cast<int>(v)));
  }
  return true;
}

}  // namespace

void HandleCommand(Kernel& k, const std::string& line, std::vector<std::string>& out,
                   std::atomic<bool>* go) {
  std::istringstream in(line);
  std::string cmd;
  in >> cmd;
  auto ok = [&](const std::string& s = "") { out.push_back(s.empty() ? "ok" : "ok " + s); };
  auto err = [&](const std::string& s) { out.push_back("err " + s); };
  if (cmd == "ping") return ok("pong");
  if (cmd == "go") {
    if (go) go->store(true);
    return ok();
  }
  if (cmd == "add") {  // add <phys|-> <evemu path>
    std::string phys;
    in >> phys;
    std::string path = Rest(in);
    DeviceDesc d;
    std::string why;
    if (!LoadEvemu(path, d, &why)) return err(why);
    d.phys = phys == "-" ? "" : phys;
    return ok(k.AddDevice(d));
  }
  if (cmd == "addbasic") {  // addbasic keyboard|mouse|hiresmouse <phys|-> <name>
    std::string kind, phys;
    in >> kind >> phys;
    std::string name = Rest(in);
    DeviceDesc d;
    if (kind == "keyboard") d = BasicKeyboard(name.empty() ? "Sim Keyboard" : name);
    else if (kind == "mouse") d = BasicMouse(name.empty() ? "Sim Mouse" : name, false);
    else if (kind == "hiresmouse") d = BasicMouse(name.empty() ? "Sim Mouse" : name, true);
    else return err("unknown kind");
    d.phys = phys == "-" ? "" : phys;
    return ok(k.AddDevice(d));
  }
  if (cmd == "emit" || cmd == "emitlost") {  // emit <node> <type> <code> <value> ...
    std::string node;
    in >> node;
    std::vector<input_event> evs;
    if (!ReadEvents(in, evs)) return err("bad events");
    bool done = cmd == "emit" ? k.Emit(node, evs) : k.EmitLost(node, evs);
    return done ? ok() : err("no such node");
  }
  if (cmd == "replay") {  // replay <node> <evemu path>: the recorded stream, at once
    std::string node;
    in >> node;
    DeviceDesc d;
    std::string why;
    if (!LoadEvemu(Rest(in), d, &why)) return err(why);
    return k.Emit(node, d.events) ? ok(std::to_string(d.events.size())) : err("no such node");
  }
  if (cmd == "unplug") {
    std::string node;
    in >> node;
    return k.Unplug(node) ? ok() : err("no such node");
  }
  if (cmd == "access") {  // access <node> <read 0|1> <write 0|1>
    std::string node;
    int r = 1, w = 1;
    in >> node >> r >> w;
    return k.SetAccess(node, r, w) ? ok() : err("no such node");
  }
  if (cmd == "uinput-access") {
    int a = 1;
    in >> a;
    k.SetUinputAccess(a);
    return ok();
  }
  if (cmd == "grab-other") {
    std::string node;
    int g = 1;
    in >> node >> g;
    return k.GrabByOther(node, g) ? ok() : err("cannot");
  }
  if (cmd == "fault") {  // fault <node> none|one|truncated|eagain
    std::string node, f;
    in >> node >> f;
    ReadFault rf = f == "one" ? ReadFault::OneEventPerRead
                   : f == "truncated" ? ReadFault::Truncated
                   : f == "eagain" ? ReadFault::EagainForever
                                   : ReadFault::None;
    return k.SetReadFault(node, rf) ? ok() : err("no such node");
  }
  if (cmd == "fail-create") {  // fail-create <phys>|off
    std::string phys;
    in >> phys;
    if (phys == "off") k.FailUinputCreate(nullptr);
    else k.FailUinputCreate([phys](const UinputSetupInfo& i) { return i.phys == phys; });
    return ok();
  }
  if (cmd == "led") {  // led <node> <code> <value>: the desktop sets a light
    std::string node;
    int code = 0, value = 0;
    in >> node >> code >> value;
    return k.DesktopWriteLed(node, code, value) ? ok() : err("no such node");
  }
  if (cmd == "buffer") {  // buffer <events>
    size_t n = 0;
    in >> n;
    k.SetClientBufferSize(n);
    return ok();
  }
  if (cmd == "seq") return ok(std::to_string(k.DesktopSeq()));
  if (cmd == "desktop") {  // desktop [since]: seq ns node type code value origin phys name
    uint64_t since = 0;
    in >> since;
    std::vector<SeenEvent> seen = k.Desktop(since);
    ok(std::to_string(seen.size()));
    for (const SeenEvent& s : seen) {
      std::ostringstream l;
      l << s.seq << '\t' << s.ns << '\t' << s.node << '\t' << s.ev.type << '\t' << s.ev.code << '\t'
        << s.ev.value << '\t' << OriginName(s.origin) << '\t' << s.phys << '\t' << s.name;
      out.push_back(l.str());
    }
    return;
  }
  if (cmd == "nodes") {  // node exists uinput grabbed other open opens bus:vendor:product:version keys leds phys name checked
    std::vector<NodeInfo> nodes = k.Nodes(true);
    ok(std::to_string(nodes.size()));
    for (const NodeInfo& n : nodes) {
      std::ostringstream l;
      l << n.node << '\t' << n.exists << '\t' << n.fromUinput << '\t' << n.grabbed << '\t'
        << n.grabbedByOther << '\t' << n.openCount << '\t' << n.opensEver << '\t' << n.id.bustype
        << ':' << n.id.vendor << ':' << n.id.product << ':' << n.id.version << '\t';
      bool first = true;
      for (int c = 0; c < KEY_CNT; ++c)
        if (n.keyState.test(c)) l << (first ? "" : ",") << c, first = false;
      l << '\t';
      first = true;
      for (int c = 0; c < LED_CNT; ++c)
        if (n.ledState.test(c)) l << (first ? "" : ",") << c, first = false;
      l << '\t' << n.phys << '\t' << n.name << '\t' << n.grabChecked;
      out.push_back(l.str());
    }
    return;
  }
  if (cmd == "writes") {  // writes <node>: one line per write, "type code value ..."
    std::string node;
    in >> node;
    std::vector<NodeInfo> nodes = k.Nodes(true);
    const NodeInfo* found = nullptr;
    for (const NodeInfo& n : nodes)
      if (n.node == node) found = &n;  // the newest of that name
    if (!found) return err("no such node");
    ok(std::to_string(found->uinputWrites.size()));
    for (const auto& w : found->uinputWrites) {
      std::ostringstream l;
      for (size_t i = 0; i < w.size(); ++i)
        l << (i ? " " : "") << w[i].type << ' ' << w[i].code << ' ' << w[i].value;
      out.push_back(l.str());
    }
    return;
  }
  err("unknown command");
}

SimServer::SimServer(Kernel& k, std::string path) : k_(k), path_(std::move(path)) {}

SimServer::~SimServer() { Stop(); }

bool SimServer::Start() {
  listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) return false;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path_.size() >= sizeof addr.sun_path) return false;
  std::strcpy(addr.sun_path, path_.c_str());
  unlink(path_.c_str());
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listenFd_, 8) != 0) {
    RawClose(listenFd_);
    listenFd_ = -1;
    return false;
  }
  if (pipe2(stopPipe_, O_CLOEXEC) != 0) return false;
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void SimServer::Stop() {
  if (!thread_.joinable()) return;
  char b = 1;
  RawWrite(stopPipe_[1], &b, 1);
  thread_.join();
  RawClose(listenFd_);
  RawClose(stopPipe_[0]);
  RawClose(stopPipe_[1]);
  unlink(path_.c_str());
  // Sessions end when their peers disconnect; wait a little for them.
  for (int i = 0; i < 100 && sessions_.load(); ++i) usleep(10000);
}

bool SimServer::WaitGo(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!go_.load()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    usleep(2000);
  }
  return true;
}

void SimServer::Serve() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (fds[0].revents & POLLIN) {
      int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      sessions_++;
      std::thread([this, fd] {
        Session(fd);
        sessions_--;
      }).detach();
    }
  }
}

void SimServer::Session(int fd) {
  std::string buf;
  char chunk[4096];
  for (;;) {
    ssize_t n = RawRead(fd, chunk, sizeof chunk);
    if (n <= 0) break;
    buf.append(chunk, n);
    size_t nl;
    while ((nl = buf.find('\n')) != std::string::npos) {
      std::string line = buf.substr(0, nl);
      buf.erase(0, nl + 1);
      std::vector<std::string> out;
      HandleCommand(k_, line, out, &go_);
      std::string reply;
      for (const std::string& l : out) reply += l + "\n";
      reply += "end\n";
      size_t off = 0;
      while (off < reply.size()) {
        ssize_t w = RawWrite(fd, reply.data() + off, reply.size() - off);
        if (w <= 0) break;
        off += w;
      }
    }
  }
  RawClose(fd);
}

}  // namespace pmrsim
