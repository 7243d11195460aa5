// The simulated input subsystem. Behaviour follows the kernel's evdev, input
// core and uinput drivers: per-descriptor grabs, per-reader buffers with
// SYN_DROPPED on overflow, frames delivered at SYN_REPORT, state filtering of
// written events, key releases when a device goes away.
#include "tests/sim/sim_kernel.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

namespace pmrsim {

PiMutex::PiMutex() {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setprotocol(&attr, PTHREAD_PRIO_INHERIT);
  pthread_mutex_init(&m_, &attr);
  pthread_mutexattr_destroy(&attr);
}
PiMutex::~PiMutex() { pthread_mutex_destroy(&m_); }
void PiMutex::lock() {
  if (pthread_mutex_lock(&m_) != 0) std::abort();
}
void PiMutex::unlock() {
  if (pthread_mutex_unlock(&m_) != 0) std::abort();
}
bool PiMutex::try_lock() { return pthread_mutex_trylock(&m_) == 0; }

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

namespace {

// Internal pipe traffic bypasses libc, which a preload library may redirect.
ssize_t RawRead(int fd, void* buf, size_t n) { return syscall(SYS_read, fd, buf, n); }
ssize_t RawWrite(int fd, const void* buf, size_t n) { return syscall(SYS_write, fd, buf, n); }
int RawClose(int fd) { return static_cast<int>(syscall(SYS_close, fd)); }

constexpr size_t kEv = sizeof(input_event);

template <size_t N>
int BitsToUser(const std::bitset<N>& bits, size_t maxBit, void* dst, size_t len) {
  size_t bytes = ((maxBit + 63) / 64) * 8;  // whole longs, as the kernel copies
  if (len > bytes) len = bytes;
  auto* out = static_cast<unsigned char*>(dst);
  for (size_t i = 0; i < len; ++i) {
    unsigned v = 0;
    for (int b = 0; b < 8; ++b) {
      size_t bit = i * 8 + b;
      if (bit < N && bits.test(bit)) v |= 1u << b;
    }
    out[i] = static_cast<unsigned char>(v);
  }
  return static_cast<int>(len);
}

int StrToUser(const std::string& s, void* dst, size_t len) {
  size_t n = s.size() + 1;
  if (n > len) n = len;
  std::memcpy(dst, s.c_str(), n);
  return static_cast<int>(n);
}

bool IsMtAxis(int code) { return code >= ABS_MT_SLOT && code <= ABS_MT_TOOL_Y; }

int Defuzz(int value, int old, int fuzz) {
  if (fuzz) {
    if (value > old - fuzz / 2 && value < old + fuzz / 2) return old;
    if (value > old - fuzz && value < old + fuzz) return (old * 3 + value) / 4;
    if (value > old - fuzz * 2 && value < old + fuzz * 2) return (old + value) / 2;
  }
  return value;
}

void Stamp(input_event& e) {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  e.input_event_sec = ts.tv_sec;
  e.input_event_usec = ts.tv_nsec / 1000;
}

}  // namespace

struct Kernel::Client {
  int rfd = -1;
  int wfd = -1;
  NodeRec* node = nullptr;
  int acc = O_RDONLY;
  bool nonblock = false;
  bool signalled = false;
  std::deque<input_event> q;
};

struct Kernel::Uinput {
  int rfd = -1;
  int wfd = -1;
  bool nonblock = false;
  bool signalled = false;
  int state = 0;  // 0 new, 1 set up, 2 created
  DeviceDesc d;
  int ffMax = 0;
  NodeRec* node = nullptr;
  std::deque<input_event> q;
  std::vector<std::pair<unsigned long, unsigned long>> calls;
};

struct Kernel::NodeRec {
  int number = 0;
  std::string name;
  DeviceDesc desc;
  bool exists = true;
  bool canRead = true;
  bool canWrite = true;
  std::bitset<KEY_CNT> keys;
  std::bitset<LED_CNT> leds;
  std::bitset<SW_CNT> sws;
  Client* grab = nullptr;
  bool otherGrab = false;
  bool grabKeysRead = false;  // the grab's holder read the key state since grabbing
  std::vector<Client*> clients;
  Uinput* owner = nullptr;
  bool fromUinput = false;
  bool lost = false;  // EmitLost in progress
  std::vector<input_event> vals;
  ReadFault fault = ReadFault::None;
  int opensEver = 0;
  std::vector<std::pair<unsigned long, unsigned long>> uinputCalls;
  std::vector<std::vector<input_event>> uinputWrites;
};

struct Kernel::Handle {
  std::unique_ptr<Client> client;
  std::unique_ptr<Uinput> uinput;
};

Kernel::Kernel(const std::string& parentDir) {
  std::string tmpl = (parentDir.empty() ? std::string("/tmp") : parentDir) + "/pmrsim-XXXXXX";
  if (!mkdtemp(tmpl.data())) {
    std::perror("pmrsim: mkdtemp");
    std::abort();
  }
  root_ = tmpl;
  mirror_ = root_ + "/input";
  mkdir(mirror_.c_str(), 0755);
  // What a real /dev/input holds besides the event nodes.
  mkdir((mirror_ + "/by-id").c_str(), 0755);
  mkdir((mirror_ + "/by-path").c_str(), 0755);
  int fd = ::open((mirror_ + "/mice").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
  if (fd >= 0) RawClose(fd);
}

Kernel::~Kernel() {
  std::lock_guard<PiMutex> lock(mu_);
  for (auto& [fd, h] : handles_) {
    if (h->client) {
      RawClose(h->client->rfd);
      if (h->client->wfd >= 0) RawClose(h->client->wfd);
    } else if (h->uinput) {
      RawClose(h->uinput->rfd);
      RawClose(h->uinput->wfd);
    }
  }
  handles_.clear();
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

bool Kernel::IsSimPath(const char* path) {
  if (!path) return false;
  return std::strcmp(path, "/dev/uinput") == 0 || std::strcmp(path, "/dev/input") == 0 ||
         std::strncmp(path, "/dev/input/", 11) == 0;
}

std::string Kernel::MapPath(const std::string& path) const {
  if (path == "/dev/input") return mirror_;
  if (path.rfind("/dev/input/", 0) == 0) return mirror_ + path.substr(10);
  return path;
}

// ---------------------------------------------------------------------------
// readiness pipes

void Kernel::SignalLocked(int wfd, bool& signalled) {
  if (signalled || wfd < 0) return;
  char b = 1;
  if (RawWrite(wfd, &b, 1) == 1) signalled = true;
}

void Kernel::UnsignalLocked(int rfd, bool& signalled) {
  if (!signalled) return;
  char b;
  RawRead(rfd, &b, 1);
  signalled = false;
}

// ---------------------------------------------------------------------------
// the input core

size_t Kernel::BufferSizeLocked(const NodeRec& n) const {
  if (bufferSize_) return bufferSize_;
  const DeviceDesc& d = n.desc;
  int slots = 0;
  if (d.abs.test(ABS_MT_SLOT)) {
    slots = d.absinfo[ABS_MT_SLOT].maximum + 1;
  } else if (d.abs.test(ABS_MT_TRACKING_ID)) {
    slots = std::clamp(d.absinfo[ABS_MT_TRACKING_ID].maximum - d.absinfo[ABS_MT_TRACKING_ID].minimum + 1, 2, 32);
  } else if (d.abs.test(ABS_MT_POSITION_X)) {
    slots = 2;
  }
  if (slots < 0) slots = 0;
  size_t events = slots + 1;
  if (d.ev.test(EV_ABS))
    for (int i = 0; i < ABS_CNT; ++i)
      if (d.abs.test(i)) events += IsMtAxis(i) ? slots : 1;
  if (d.ev.test(EV_REL)) events += d.rel.count();
  events += 7;
  size_t n2 = std::max<size_t>(events * 8, 64);
  size_t p = 1;
  while (p < n2) p <<= 1;
  return p;
}

void Kernel::PushLocked(Client& c, const input_event& ev) {
  if (c.q.size() >= BufferSizeLocked(*c.node)) {
    c.q.clear();
    input_event d = ev;
    d.type = EV_SYN;
    d.code = SYN_DROPPED;
    d.value = 0;
    c.q.push_back(d);
  }
  c.q.push_back(ev);
}

void Kernel::PushUinputLocked(Uinput& u, const input_event& ev) {
  input_event e = ev;
  Stamp(e);
  u.q.push_back(e);
  SignalLocked(u.wfd, u.signalled);
  changed_.notify_all();
}

void Kernel::PassLocked(NodeRec& n, std::vector<input_event>& vals, Origin origin, bool toClients) {
  for (input_event& e : vals) Stamp(e);
  if (n.grab) {
    if (!toClients) return;
    for (const input_event& e : vals) PushLocked(*n.grab, e);
    SignalLocked(n.grab->wfd, n.grab->signalled);
  } else if (!n.otherGrab) {
    for (Client* c : toClients ? n.clients : std::vector<Client*>{}) {
      for (const input_event& e : vals) PushLocked(*c, e);
      SignalLocked(c->wfd, c->signalled);
    }
    const int64_t ns = NowNs();
    for (const input_event& e : vals) {
      SeenEvent s;
      s.seq = ++seq_;
      s.ns = ns;
      if (keepDesktop_ || observer_) {
        s.node = n.name;
        s.name = n.desc.name;
        s.phys = n.desc.phys;
        s.ev = e;
        s.origin = origin;
      }
      if (observer_) observer_(s);
      if (keepDesktop_) desktop_.push_back(std::move(s));
    }
  }
  changed_.notify_all();
}

// One event through the input core. `filter` applies the kernel's rules for
// events that programs inject (unsupported codes, unchanged state, zero
// motion); hardware recordings already went through them once and only update
// the state here.
void Kernel::EventLocked(NodeRec& n, const input_event& in, bool filter, Origin origin) {
  input_event ev = in;
  const DeviceDesc& d = n.desc;
  bool pass = false, toDevice = false, flush = false;
  const int code = ev.code;
  if (filter && ev.type != EV_SYN && (ev.type >= EV_CNT || !d.ev.test(ev.type))) return;
  switch (ev.type) {
    case EV_SYN:
      if (code == SYN_REPORT) {
        pass = flush = true;
      } else if (code == SYN_CONFIG || code == SYN_MT_REPORT) {
        pass = true;
      } else {
        pass = !filter;
      }
      break;
    case EV_KEY:
      if (code < KEY_CNT && d.key.test(code)) {
        if (ev.value == 2) {
          pass = true;
        } else if (n.keys.test(code) != (ev.value != 0)) {
          n.keys.flip(code);
          pass = true;
        } else {
          pass = !filter;
        }
      } else {
        pass = !filter;
      }
      break;
    case EV_REL:
      pass = filter ? (code < REL_CNT && d.rel.test(code) && ev.value != 0) : true;
      break;
    case EV_ABS:
      if (code < ABS_CNT && d.abs.test(code)) {
        input_absinfo& a = n.desc.absinfo[code];
        if (!filter || IsMtAxis(code)) {
          a.value = ev.value;
          pass = true;
        } else {
          ev.value = Defuzz(ev.value, a.value, a.fuzz);
          if (ev.value != a.value) {
            a.value = ev.value;
            pass = true;
          }
        }
      } else {
        pass = !filter;
      }
      break;
    case EV_MSC:
      pass = filter ? (code < MSC_CNT && d.msc.test(code)) : true;
      break;
    case EV_LED:
      if (code < LED_CNT && d.led.test(code) && n.leds.test(code) != (ev.value != 0)) {
        n.leds.flip(code);
        pass = toDevice = true;
      } else {
        pass = !filter;
      }
      break;
    case EV_SND:
      pass = toDevice = code < SND_CNT && d.snd.test(code);
      break;
    case EV_SW:
      if (code < SW_CNT && d.sw.test(code) && n.sws.test(code) != (ev.value != 0)) {
        n.sws.flip(code);
        pass = true;
      } else {
        pass = !filter;
      }
      break;
    case EV_FF:
      toDevice = ev.value >= 0;
      break;
    default:
      pass = !filter;
      break;
  }
  if (toDevice && n.owner) PushUinputLocked(*n.owner, ev);
  if (!pass) return;
  n.vals.push_back(ev);
  if (flush) {
    if (n.vals.size() >= 2) {
      if (n.lost) {
        // Every reader overflowed: its queue restarts with SYN_DROPPED, and
        // the frame's end follows.
        for (Client* c : n.clients) {
          if (n.grab && n.grab != c) continue;
          if (!n.grab && n.otherGrab) continue;
          c->q.clear();
          input_event dr = ev;
          Stamp(dr);
          dr.code = SYN_DROPPED;
          c->q.push_back(dr);
          dr.code = SYN_REPORT;
          c->q.push_back(dr);
          SignalLocked(c->wfd, c->signalled);
        }
        PassLocked(n, n.vals, origin, false);
      } else {
        PassLocked(n, n.vals, origin, true);
      }
    }
    n.vals.clear();
  } else if (n.vals.size() >= 1024) {
    input_event syn = Ev(EV_SYN, SYN_REPORT, 0);
    n.vals.push_back(syn);
    PassLocked(n, n.vals, origin, !n.lost);
    n.vals.clear();
  }
}

void Kernel::RemoveNodeLocked(NodeRec& n) {
  if (!n.exists) return;
  // Like input_dev_release_keys: the keys still down are released first.
  bool any = false;
  for (int c = 0; c < KEY_CNT; ++c) {
    if (n.keys.test(c)) {
      EventLocked(n, Ev(EV_KEY, c, 0), true, Origin::Removal);
      any = true;
    }
  }
  if (any) EventLocked(n, Ev(EV_SYN, SYN_REPORT, 0), true, Origin::Removal);
  n.exists = false;
  n.grab = nullptr;
  n.otherGrab = false;
  for (Client* c : n.clients) {
    if (c->wfd >= 0) {
      RawClose(c->wfd);  // the reader sees POLLHUP
      c->wfd = -1;
    }
  }
  active_.erase(n.name);
  TouchMirror(n, false);
  changed_.notify_all();
}

void Kernel::TouchMirror(const NodeRec& n, bool create) {
  std::string path = mirror_ + "/" + n.name;
  if (!create) {
    ::unlink(path.c_str());
    return;
  }
  mode_t mode = (n.canRead ? 0440 : 0) | (n.canWrite ? 0220 : 0);
  int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, mode);
  if (fd >= 0) RawClose(fd);
}

// ---------------------------------------------------------------------------
// program side

bool Kernel::Owns(int fd) {
  std::lock_guard<PiMutex> lock(mu_);
  return handles_.count(fd) != 0;
}

int Kernel::Open(const char* path, int flags) {
  std::lock_guard<PiMutex> lock(mu_);
  const int acc = flags & O_ACCMODE;
  int p[2];
  auto makePipe = [&]() {
    if (pipe2(p, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    if (!(flags & O_CLOEXEC)) fcntl(p[0], F_SETFD, 0);
    return true;
  };
  if (path && std::strcmp(path, "/dev/uinput") == 0) {
    if (!uinputAccess_) {
      errno = EACCES;
      return -1;
    }
    if (!makePipe()) return -1;
    auto h = std::make_unique<Handle>();
    h->uinput = std::make_unique<Uinput>();
    h->uinput->rfd = p[0];
    h->uinput->wfd = p[1];
    h->uinput->nonblock = flags & O_NONBLOCK;
    handles_[p[0]] = std::move(h);
    return p[0];
  }
  if (!path || std::strncmp(path, "/dev/input/", 11) != 0) {
    errno = ENOENT;
    return -1;
  }
  NodeRec* n = FindLocked(path + 11);
  if (!n) {
    errno = ENOENT;
    return -1;
  }
  bool wantRead = acc == O_RDONLY || acc == O_RDWR;
  bool wantWrite = acc == O_WRONLY || acc == O_RDWR;
  if ((wantRead && !n->canRead) || (wantWrite && !n->canWrite)) {
    errno = EACCES;
    return -1;
  }
  if (!makePipe()) return -1;
  auto h = std::make_unique<Handle>();
  h->client = std::make_unique<Client>();
  Client* c = h->client.get();
  c->rfd = p[0];
  c->wfd = p[1];
  c->node = n;
  c->acc = acc;
  c->nonblock = flags & O_NONBLOCK;
  n->clients.push_back(c);
  n->opensEver++;
  handles_[p[0]] = std::move(h);
  changed_.notify_all();
  return p[0];
}

int Kernel::Close(int fd) {
  std::lock_guard<PiMutex> lock(mu_);
  auto it = handles_.find(fd);
  if (it == handles_.end()) {
    errno = EBADF;
    return -1;
  }
  std::unique_ptr<Handle> h = std::move(it->second);
  handles_.erase(it);
  if (Client* c = h->client.get()) {
    NodeRec* n = c->node;
    if (n->grab == c) n->grab = nullptr;
    n->clients.erase(std::remove(n->clients.begin(), n->clients.end(), c), n->clients.end());
    RawClose(c->rfd);
    if (c->wfd >= 0) RawClose(c->wfd);
  } else if (Uinput* u = h->uinput.get()) {
    if (u->state == 2 && u->node) {
      RemoveNodeLocked(*u->node);
      u->node->owner = nullptr;
    }
    RawClose(u->rfd);
    RawClose(u->wfd);
  }
  changed_.notify_all();
  return 0;
}

ssize_t Kernel::ReadClient(Handle& h, void* buf, size_t size, std::unique_lock<PiMutex>& lock) {
  Client& c = *h.client;
  if (c.acc == O_WRONLY) {
    errno = EBADF;
    return -1;
  }
  if (size != 0 && size < kEv) {
    errno = EINVAL;
    return -1;
  }
  for (;;) {
    NodeRec& n = *c.node;
    if (!n.exists) {
      errno = ENODEV;
      return -1;
    }
    if (size == 0) return 0;
    if (n.fault == ReadFault::EagainForever) {
      errno = EAGAIN;
      return -1;
    }
    if (!c.q.empty()) break;
    if (c.nonblock) {
      errno = EAGAIN;
      return -1;
    }
    const int rfd = c.rfd;
    changed_.wait(lock);
    if (!handles_.count(rfd)) {
      errno = EBADF;
      return -1;
    }
  }
  NodeRec& n = *c.node;
  size_t want = size / kEv;
  if (n.fault == ReadFault::OneEventPerRead) want = 1;
  size_t got = 0;
  auto* out = static_cast<input_event*>(buf);
  while (got < want && !c.q.empty()) {
    out[got++] = c.q.front();
    c.q.pop_front();
  }
  if (c.q.empty()) UnsignalLocked(c.rfd, c.signalled);
  if (n.fault == ReadFault::Truncated) return 13;
  return static_cast<ssize_t>(got * kEv);
}

ssize_t Kernel::Read(int fd, void* buf, size_t size) {
  std::unique_lock<PiMutex> lock(mu_);
  auto it = handles_.find(fd);
  if (it == handles_.end()) {
    errno = EBADF;
    return -1;
  }
  Handle& h = *it->second;
  if (h.client) return ReadClient(h, buf, size, lock);
  Uinput& u = *h.uinput;
  if (size != 0 && size < kEv) {
    errno = EINVAL;
    return -1;
  }
  if (u.q.empty()) {
    errno = EAGAIN;  // the program's uinput descriptors are non-blocking
    return -1;
  }
  size_t got = 0;
  auto* out = static_cast<input_event*>(buf);
  while (got < size / kEv && !u.q.empty()) {
    out[got++] = u.q.front();
    u.q.pop_front();
  }
  if (u.q.empty()) UnsignalLocked(u.rfd, u.signalled);
  return static_cast<ssize_t>(got * kEv);
}

ssize_t Kernel::Write(int fd, const void* buf, size_t size) {
  std::lock_guard<PiMutex> lock(mu_);
  auto it = handles_.find(fd);
  if (it == handles_.end()) {
    errno = EBADF;
    return -1;
  }
  Handle& h = *it->second;
  if (size != 0 && size < kEv) {
    errno = EINVAL;
    return -1;
  }
  const auto* evs = static_cast<const input_event*>(buf);
  const size_t count = size / kEv;
  NodeRec* n = nullptr;
  if (h.client) {
    if (h.client->acc == O_RDONLY) {
      errno = EBADF;
      return -1;
    }
    n = h.client->node;
    if (!n->exists) {
      errno = ENODEV;
      return -1;
    }
  } else {
    Uinput& u = *h.uinput;
    if (u.state != 2 || !u.node) {
      errno = EINVAL;
      return -1;
    }
    n = u.node;
    if (keepWrites_) n->uinputWrites.emplace_back(evs, evs + count);
  }
  for (size_t i = 0; i < count; ++i) EventLocked(*n, evs[i], true, Origin::Write);
  return static_cast<ssize_t>(count * kEv);
}

int Kernel::Ioctl(int fd, unsigned long request, unsigned long arg) {
  std::lock_guard<PiMutex> lock(mu_);
  auto it = handles_.find(fd);
  if (it == handles_.end()) {
    errno = EBADF;
    return -1;
  }
  Handle& h = *it->second;
  int r = h.client ? IoctlClientLocked(*h.client, request, arg) : IoctlUinputLocked(*h.uinput, request, arg);
  if (r < 0) {
    errno = -r;
    return -1;
  }
  return r;
}

int Kernel::IoctlClientLocked(Client& c, unsigned long request, unsigned long arg) {
  NodeRec& n = *c.node;
  if (!n.exists) return -ENODEV;
  void* p = reinterpret_cast<void*>(arg);
  const DeviceDesc& d = n.desc;
  if (_IOC_TYPE(request) != 'E') return -EINVAL;
  const unsigned nr = _IOC_NR(request);
  const size_t len = _IOC_SIZE(request);
  if (request == EVIOCGRAB) {
    if (arg) {
      if (n.grab || n.otherGrab) return -EBUSY;
      n.grab = &c;
      n.grabKeysRead = false;
    } else {
      if (n.grab != &c) return -EINVAL;
      n.grab = nullptr;
    }
    changed_.notify_all();
    return 0;
  }
  if (request == EVIOCGVERSION) {
    *static_cast<int*>(p) = EV_VERSION;
    return 0;
  }
  if (request == EVIOCGID) {
    std::memcpy(p, &d.id, sizeof d.id);
    return 0;
  }
  if (_IOC_DIR(request) != _IOC_READ) return -EINVAL;
  if (nr >= 0x40 && nr < 0x40 + ABS_CNT && len == sizeof(input_absinfo)) {
    int code = nr - 0x40;
    if (!d.abs.test(code)) return -EINVAL;
    std::memcpy(p, &d.absinfo[code], sizeof(input_absinfo));
    return 0;
  }
  if (nr >= 0x20 && nr < 0x20 + EV_CNT) {
    switch (nr - 0x20) {
      case 0: return BitsToUser(d.ev, EV_CNT, p, len);
      case EV_KEY: return BitsToUser(d.key, KEY_CNT, p, len);
      case EV_REL: return BitsToUser(d.rel, REL_CNT, p, len);
      case EV_ABS: return BitsToUser(d.abs, ABS_CNT, p, len);
      case EV_MSC: return BitsToUser(d.msc, MSC_CNT, p, len);
      case EV_LED: return BitsToUser(d.led, LED_CNT, p, len);
      case EV_SND: return BitsToUser(d.snd, SND_CNT, p, len);
      case EV_FF: return BitsToUser(d.ff, FF_CNT, p, len);
      case EV_SW: return BitsToUser(d.sw, SW_CNT, p, len);
      default: return -EINVAL;
    }
  }
  switch (nr) {
    case 0x06: return StrToUser(d.name, p, len);
    case 0x07:
      if (d.phys.empty()) return -ENOENT;
      return StrToUser(d.phys, p, len);
    case 0x08:
      if (d.uniq.empty()) return -ENOENT;
      return StrToUser(d.uniq, p, len);
    case 0x09: return BitsToUser(d.props, INPUT_PROP_CNT, p, len);
    case 0x18:
      if (n.grab == &c && !n.grabKeysRead) {
        n.grabKeysRead = true;
        changed_.notify_all();
      }
      return BitsToUser(n.keys, KEY_CNT, p, len);
    case 0x19: return BitsToUser(n.leds, LED_CNT, p, len);
    case 0x1b: return BitsToUser(n.sws, SW_CNT, p, len);
    default: return -EINVAL;
  }
}

int Kernel::IoctlUinputLocked(Uinput& u, unsigned long request, unsigned long arg) {
  void* p = reinterpret_cast<void*>(arg);
  const bool created = u.state == 2;
  auto setBit = [&](auto& bits, unsigned long max) -> int {
    u.calls.emplace_back(request, arg);
    if (created) return -EINVAL;
    if (arg > max) return -EINVAL;
    bits.set(arg);
    return 0;
  };
  switch (request) {
    case UI_SET_EVBIT: return setBit(u.d.ev, EV_MAX);
    case UI_SET_KEYBIT: return setBit(u.d.key, KEY_MAX);
    case UI_SET_RELBIT: return setBit(u.d.rel, REL_MAX);
    case UI_SET_ABSBIT: return setBit(u.d.abs, ABS_MAX);
    case UI_SET_MSCBIT: return setBit(u.d.msc, MSC_MAX);
    case UI_SET_LEDBIT: return setBit(u.d.led, LED_MAX);
    case UI_SET_SNDBIT: return setBit(u.d.snd, SND_MAX);
    case UI_SET_FFBIT: return setBit(u.d.ff, FF_MAX);
    case UI_SET_SWBIT: return setBit(u.d.sw, SW_MAX);
    case UI_SET_PROPBIT: return setBit(u.d.props, INPUT_PROP_MAX);
    case UI_SET_PHYS: {
      u.calls.emplace_back(request, 0);
      if (created) return -EINVAL;
      const char* s = static_cast<const char*>(p);
      if (!s) return -EFAULT;
      u.d.phys.assign(s, strnlen(s, 1024));
      return 0;
    }
    case UI_DEV_SETUP: {
      u.calls.emplace_back(request, 0);
      if (created) return -EINVAL;
      const auto* s = static_cast<const uinput_setup*>(p);
      if (!s || !s->name[0]) return -EINVAL;
      u.d.id = s->id;
      u.d.name.assign(s->name, strnlen(s->name, UINPUT_MAX_NAME_SIZE));
      u.ffMax = static_cast<int>(s->ff_effects_max);
      u.state = 1;
      return 0;
    }
    case UI_ABS_SETUP: {
      const auto* s = static_cast<const uinput_abs_setup*>(p);
      u.calls.emplace_back(request, s ? s->code : 0);
      if (created) return -EINVAL;
      if (!s) return -EFAULT;
      if (s->code > ABS_MAX) return -ERANGE;
      const input_absinfo& a = s->absinfo;
      if ((a.minimum != 0 || a.maximum != 0) && a.maximum < a.minimum) return -EINVAL;
      int range;
      if (!__builtin_sub_overflow(a.maximum, a.minimum, &range) && a.flat > range) return -EINVAL;
      if (s->code == ABS_MT_SLOT && a.maximum > 99) return -EINVAL;
      u.d.abs.set(s->code);
      u.d.absinfo[s->code] = a;
      return 0;
    }
    case UI_DEV_CREATE: {
      u.calls.emplace_back(request, 0);
      if (u.state != 1) return -EINVAL;
      if (u.d.ev.test(EV_FF) && u.ffMax == 0) return -EINVAL;
      UinputSetupInfo info{u.d.name, u.d.phys, u.d.id};
      if (failCreate_ && failCreate_(info)) return -ENOMEM;
      return CreateUinputNodeLocked(u);
    }
    case UI_DEV_DESTROY:
      u.calls.emplace_back(request, 0);
      if (u.state == 2 && u.node) {
        RemoveNodeLocked(*u.node);
        u.node->owner = nullptr;
        u.node = nullptr;
      }
      u.state = 0;
      return 0;
    case UI_GET_VERSION:
      *static_cast<unsigned*>(p) = UINPUT_VERSION;
      return 0;
    default:
      if (_IOC_TYPE(request) == 'U' && _IOC_NR(request) == 44 && u.node)
        return StrToUser("input" + std::to_string(u.node->number), p, _IOC_SIZE(request));
      return -EINVAL;
  }
}

int Kernel::CreateUinputNodeLocked(Uinput& u) {
  DeviceDesc d = u.d;
  d.ev.set(EV_SYN);
  if (d.ev.test(EV_ABS)) {
    for (int i = 0; i < ABS_CNT; ++i) {
      if (!d.abs.test(i)) continue;
      const input_absinfo& a = d.absinfo[i];
      if ((a.minimum != 0 || a.maximum != 0) && a.maximum < a.minimum) return -EINVAL;
      if (i == ABS_MT_SLOT && a.maximum > 99) return -EINVAL;
    }
  }
  int num = 0;
  for (;; ++num) {
    bool used = false;
    for (auto& [name, n] : active_)
      if (n->number == num) used = true;
    if (!used) break;
  }
  auto rec = std::make_unique<NodeRec>();
  rec->number = num;
  rec->name = "event" + std::to_string(num);
  rec->desc = d;
  rec->owner = &u;
  rec->fromUinput = true;
  rec->uinputCalls = u.calls;
  NodeRec* n = rec.get();
  all_.push_back(std::move(rec));
  active_[n->name] = n;
  u.node = n;
  u.state = 2;
  TouchMirror(*n, true);
  changed_.notify_all();
  return 0;
}

// ---------------------------------------------------------------------------
// test side

Kernel::NodeRec* Kernel::FindLocked(const std::string& node) {
  auto it = active_.find(node);
  return it == active_.end() ? nullptr : it->second;
}

std::string Kernel::AddDevice(const DeviceDesc& desc, bool read, bool write) {
  std::lock_guard<PiMutex> lock(mu_);
  int num = 0;
  for (;; ++num) {
    bool used = false;
    for (auto& [name, n] : active_)
      if (n->number == num) used = true;
    if (!used) break;
  }
  auto rec = std::make_unique<NodeRec>();
  rec->number = num;
  rec->name = "event" + std::to_string(num);
  rec->desc = desc;
  rec->desc.ev.set(EV_SYN);
  rec->desc.events.clear();
  rec->leds = desc.ledState;
  rec->sws = desc.swState;
  rec->canRead = read;
  rec->canWrite = write;
  NodeRec* n = rec.get();
  all_.push_back(std::move(rec));
  active_[n->name] = n;
  TouchMirror(*n, true);
  changed_.notify_all();
  return n->name;
}

bool Kernel::Emit(const std::string& node, const std::vector<input_event>& events) {
  std::lock_guard<PiMutex> lock(mu_);
  NodeRec* n = FindLocked(node);
  if (!n) return false;
  for (const input_event& e : events) EventLocked(*n, e, false, Origin::Device);
  return true;
}

bool Kernel::EmitLost(const std::string& node, const std::vector<input_event>& events) {
  std::lock_guard<PiMutex> lock(mu_);
  NodeRec* n = FindLocked(node);
  if (!n) return false;
  n->lost = true;
  for (const input_event& e : events) EventLocked(*n, e, false, Origin::Device);
  n->lost = false;
  return true;
}

bool Kernel::Unplug(const std::string& node) {
  std::lock_guard<PiMutex> lock(mu_);
  NodeRec* n = FindLocked(node);
  if (!n || n->fromUinput) return false;
  RemoveNodeLocked(*n);
  return true;
}

bool Kernel::SetAccess(const std::string& node, bool read, bool write) {
  std::lock_guard<PiMutex> lock(mu_);
  NodeRec* n = FindLocked(node);
  if (!n) return false;
  n->canRead = read;
  n->canWrite = write;
  mode_t mode = (read ? 0440 : 0) | (write ? 0220 : 0);
  ::chmod((mirror_ + "/" + n->name).c_str(), mode);
  return true;
}

void Kernel::SetUinputAccess(bool allowed) {
  std::lock_guard<PiMutex> lock(mu_);
  uinputAccess_ = allowed;
}

bool Kernel::GrabByOther(const std::string& node, bool grab) {
  std::lock_guard<PiMutex> lock(mu_);
  NodeRec* n = FindLocked(node);
  if (!n) return false;
  if (grab) {
    if (n->grab || n->otherGrab) return false;
    n->otherGrab = true;
  } else {
    n->otherGrab = false;
  }
  return true;
}

bool Kernel::SetReadFault(const std::string& node, ReadFault fault) {
  std::lock_guard<PiMutex> lock(mu_);
  NodeRec* n = FindLocked(node);
  if (!n) return false;
  n->fault = fault;
  // A node that is always readable keeps its readiness byte.
  if (fault == ReadFault::EagainForever)
    for (Client* c : n->clients) SignalLocked(c->wfd, c->signalled);
  return true;
}

void Kernel::FailUinputCreate(std::function<bool(const UinputSetupInfo&)> pred) {
  std::lock_guard<PiMutex> lock(mu_);
  failCreate_ = std::move(pred);
}

void Kernel::SetClientBufferSize(size_t events) {
  std::lock_guard<PiMutex> lock(mu_);
  bufferSize_ = events;
}

std::vector<SeenEvent> Kernel::Desktop(uint64_t sinceSeq) {
  std::lock_guard<PiMutex> lock(mu_);
  std::vector<SeenEvent> out;
  for (const SeenEvent& s : desktop_)
    if (s.seq > sinceSeq) out.push_back(s);
  return out;
}

uint64_t Kernel::DesktopSeq() {
  std::lock_guard<PiMutex> lock(mu_);
  return seq_;
}

void Kernel::SetDesktopLog(bool keep) {
  std::lock_guard<PiMutex> lock(mu_);
  keepDesktop_ = keep;
  if (!keep) desktop_.clear();
}

void Kernel::SetDesktopObserver(std::function<void(const SeenEvent&)> fn) {
  std::lock_guard<PiMutex> lock(mu_);
  observer_ = std::move(fn);
}

void Kernel::SetUinputWriteLog(bool keep) {
  std::lock_guard<PiMutex> lock(mu_);
  keepWrites_ = keep;
}

bool Kernel::DesktopWriteLed(const std::string& node, int code, int value) {
  std::lock_guard<PiMutex> lock(mu_);
  NodeRec* n = FindLocked(node);
  if (!n) return false;
  EventLocked(*n, Ev(EV_LED, code, value), true, Origin::Write);
  EventLocked(*n, Ev(EV_SYN, SYN_REPORT, 0), true, Origin::Write);
  return true;
}

bool Kernel::WaitDesktop(const std::function<bool(const std::vector<SeenEvent>&)>& pred, int timeoutMs) {
  // The predicate runs without the lock, so it may ask the kernel again.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    std::vector<SeenEvent> copy;
    uint64_t seq;
    {
      std::lock_guard<PiMutex> lock(mu_);
      copy = desktop_;
      seq = seq_;
    }
    if (pred(copy)) return true;
    std::unique_lock<PiMutex> lock(mu_);
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    changed_.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(20)),
                        [&] { return seq_ != seq; });
  }
}

NodeInfo Kernel::InfoLocked(const NodeRec& n) {
  NodeInfo i;
  i.node = n.name;
  i.name = n.desc.name;
  i.phys = n.desc.phys;
  i.id = n.desc.id;
  i.exists = n.exists;
  i.fromUinput = n.fromUinput;
  i.grabbed = n.grab != nullptr;
  i.grabbedByOther = n.otherGrab;
  i.grabChecked = n.grab != nullptr && n.grabKeysRead;
  i.openCount = static_cast<int>(n.clients.size());
  i.opensEver = n.opensEver;
  i.keyState = n.keys;
  i.ledState = n.leds;
  i.desc = n.desc;
  i.uinputCalls = n.uinputCalls;
  i.uinputWrites = n.uinputWrites;
  return i;
}

std::vector<NodeInfo> Kernel::Nodes(bool includeRemoved) {
  std::lock_guard<PiMutex> lock(mu_);
  std::vector<NodeInfo> out;
  for (auto& n : all_)
    if (includeRemoved || n->exists) out.push_back(InfoLocked(*n));
  return out;
}

std::optional<NodeInfo> Kernel::Node(const std::string& node) {
  std::lock_guard<PiMutex> lock(mu_);
  NodeRec* n = FindLocked(node);
  if (!n) return std::nullopt;
  return InfoLocked(*n);
}

std::optional<NodeInfo> Kernel::NodeByPhys(const std::string& phys, bool includeRemoved) {
  std::lock_guard<PiMutex> lock(mu_);
  for (auto it = all_.rbegin(); it != all_.rend(); ++it)
    if ((*it)->desc.phys == phys && (includeRemoved || (*it)->exists)) return InfoLocked(**it);
  return std::nullopt;
}

std::optional<NodeInfo> Kernel::NodeByName(const std::string& name, bool includeRemoved) {
  std::lock_guard<PiMutex> lock(mu_);
  for (auto it = all_.rbegin(); it != all_.rend(); ++it)
    if ((*it)->desc.name == name && (includeRemoved || (*it)->exists)) return InfoLocked(**it);
  return std::nullopt;
}

bool Kernel::WaitNodes(const std::function<bool(const std::vector<NodeInfo>&)>& pred, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (pred(Nodes(true))) return true;
    std::unique_lock<PiMutex> lock(mu_);
    if (changed_.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() +
                                                         std::chrono::milliseconds(20))) ==
            std::cv_status::timeout &&
        std::chrono::steady_clock::now() >= deadline) {
      lock.unlock();
      return pred(Nodes(true));
    }
  }
}

size_t Kernel::Unread(const std::string& node) {
  std::lock_guard<PiMutex> lock(mu_);
  NodeRec* n = FindLocked(node);
  size_t total = 0;
  if (n)
    for (Client* c : n->clients) total += c->q.size();
  return total;
}

bool Kernel::WaitDrained(const std::string& node, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    {
      std::lock_guard<PiMutex> lock(mu_);
      NodeRec* n = FindLocked(node);
      if (!n) return false;
      bool empty = true;
      for (Client* c : n->clients) empty &= c->q.empty();
      if (empty) return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

int Kernel::OpenDescriptors() {
  std::lock_guard<PiMutex> lock(mu_);
  return static_cast<int>(handles_.size());
}

}  // namespace pmrsim
