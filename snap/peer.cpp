// Peer sockets: naming, the server thread, requests, the peer check and the
// notification queue.
#include "snap/peer.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "base/data_dir.h"
#include "platform/os_input.h"

namespace {

constexpr size_t kSocketPathRoom = 107;  // sun_path less the terminator

std::function<std::string(const std::string&)> g_PeerHandler;
int g_PeerFd = -1;
int g_PeerStopFd = -1;  // readable once the server is asked to stop
std::atomic<bool> g_PeerRunning{false};
std::thread g_PeerThread;
// Serialises start and stop against each other.
std::mutex g_PeerControl;

std::deque<std::pair<int, std::string>> g_NotifyQueue;
std::mutex g_NotifyLock;
bool g_NotifySending = false;

void SetTimeouts(int fd, int ms) {
  timeval tv{};
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool FillAddress(const std::string& path, sockaddr_un& addr) {
  if (path.size() > kSocketPathRoom) return false;
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.data(), path.size());
  return true;
}

void ServePeer(int fd) {
  SetTimeouts(fd, 1000);
  if (!PeerIsUs(fd)) return;
  std::string request;
  char buf[512];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    request.append(buf, static_cast<size_t>(n));
    if (request.size() > kPeerMessageMax) return;  // oversized: dropped unanswered
  }
  if (request.empty() || !g_PeerHandler) return;
  std::string answer = g_PeerHandler(request);
  if (!answer.empty() && answer.size() <= kPeerMessageMax) {
    ssize_t ignored = send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    (void)ignored;
  }
}

// Sleeps until a peer connects or the server is stopped: an idle window
// costs no wake-ups.
void PeerLoop() {
  while (g_PeerRunning.load()) {
    pollfd p[2] = {{g_PeerFd, POLLIN, 0}, {g_PeerStopFd, POLLIN, 0}};
    int r = poll(p, 2, -1);
    if (r <= 0 || !(p[0].revents & POLLIN)) continue;
    int fd = accept4(g_PeerFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ServePeer(fd);
    close(fd);
  }
}

void SendNotifications() {
  std::unique_lock<std::mutex> lock(g_NotifyLock);
  while (!g_NotifyQueue.empty()) {
    auto [pid, message] = std::move(g_NotifyQueue.front());
    g_NotifyQueue.pop_front();
    lock.unlock();
    PeerRequest(pid, message, nullptr, 500);
    lock.lock();
  }
  g_NotifySending = false;
}

}  // namespace

uint64_t PeerPathHash(std::string_view text) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  return h;
}

std::string PeerSocketPrefix() {
  const std::string dir = OsDataDir();
  std::string prefix = dir + "/win-";
  if (prefix.size() + 16 > kSocketPathRoom)
    prefix = "/tmp/pmr-" + std::to_string(getuid()) + "-" + std::to_string(PeerPathHash(dir)) + "-win-";
  return prefix;
}

std::string PeerSocketPath(int pid) { return PeerSocketPrefix() + std::to_string(pid) + ".sock"; }

std::string ExecutablePathOf(int pid) { return ExecutableOf(pid); }

bool PeerIsUs(int socket) {
  ucred cred{};
  socklen_t len = sizeof cred;
  if (getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred) return false;
  if (cred.uid != getuid() || cred.pid <= 0) return false;
  static const std::string self = ExecutablePathOf(getpid());  // thread-safe once per process
  if (self.empty()) return false;
  return ExecutablePathOf(cred.pid) == self;
}

bool OsStartPeerServer(std::function<std::string(const std::string&)> handler) {
  std::lock_guard<std::mutex> control(g_PeerControl);
  if (g_PeerRunning.load()) return true;
  const std::string path = PeerSocketPath(getpid());
  sockaddr_un addr;
  if (!FillAddress(path, addr)) return false;
  unlink(path.c_str());
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  mode_t old = umask(077);
  int bound = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  umask(old);
  if (bound != 0 || chmod(path.c_str(), 0600) != 0 || listen(fd, 8) != 0) {
    if (bound == 0) unlink(path.c_str());
    close(fd);
    return false;
  }
  const int stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopFd < 0) {
    unlink(path.c_str());
    close(fd);
    return false;
  }
  g_PeerHandler = std::move(handler);
  g_PeerFd = fd;
  g_PeerStopFd = stopFd;
  g_PeerRunning.store(true);
  g_PeerThread = std::thread(PeerLoop);
  return true;
}

void OsStopPeerServer() {
  std::lock_guard<std::mutex> control(g_PeerControl);
  if (!g_PeerRunning.exchange(false)) return;
  const uint64_t one = 1;
  ssize_t ignored = write(g_PeerStopFd, &one, sizeof one);
  (void)ignored;
  if (g_PeerThread.joinable()) g_PeerThread.join();
  unlink(PeerSocketPath(getpid()).c_str());
  close(g_PeerFd);
  g_PeerFd = -1;
  close(g_PeerStopFd);
  g_PeerStopFd = -1;
}

bool PeerRequest(int pid, const std::string& message, std::string* reply, int timeoutMs) {
  if (reply) reply->clear();
  if (pid <= 0 || pid == getpid() || message.size() > kPeerMessageMax) return false;
  const std::string path = PeerSocketPath(pid);
  sockaddr_un addr;
  if (path.size() >= 108 || !FillAddress(path, addr)) return false;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  SetTimeouts(fd, timeoutMs < 0 ? 0 : timeoutMs);
  bool ok = false;
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && PeerIsUs(fd)) {
    ssize_t w = send(fd, message.data(), message.size(), MSG_NOSIGNAL);
    if (w == static_cast<ssize_t>(message.size())) {
      shutdown(fd, SHUT_WR);
      char buf[256];
      for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n == 0) {
          ok = true;
          break;
        }
        if (n < 0 || answer.size() > kPeerMessageMax) break;
        answer.append(buf, static_cast<size_t>(n));
      }
    }
  }
  close(fd);
  if (ok && reply) *reply = std::move(answer);
  return ok;
}

std::vector<int> ListPeers() {
  std::vector<int> result;
  const std::string prefix = PeerSocketPrefix();
  const size_t slash = prefix.rfind('/');
  const std::string dirPath = prefix.substr(0, slash);
  const std::string namePrefix = prefix.substr(slash + 1);
  DIR* dir = opendir(dirPath.c_str());
  if (!dir) return result;
  const int self = getpid();
  while (dirent* e = readdir(dir)) {
    std::string_view name = e->d_name;
    const std::string_view suffix = ".sock";
    if (name.size() < namePrefix.size() + 1 + suffix.size()) continue;
    if (name.substr(0, namePrefix.size()) != namePrefix) continue;
    if (name.substr(name.size() - suffix.size()) != suffix) continue;
    std::string_view digits = name.substr(namePrefix.size(), name.size() - namePrefix.size() - suffix.size());
    if (digits.empty() || digits.size() > 9) continue;
    int pid = 0;
    bool number = true;
    for (char c : digits) {
      if (c < '0' || c > '9') {
        number = false;
        break;
      }
      pid = pid * 10 + (c - '0');
    }
    if (!number || pid == self) continue;
    if (kill(pid, 0) == 0 || errno != ESRCH) {
      result.push_back(pid);
    } else {
      unlinkat(dirfd(dir), e->d_name, 0);
    }
  }
  closedir(dir);
  return result;
}

void AppendNotification(std::deque<std::pair<int, std::string>>& queue, int pid, const std::string& message) {
  for (const char* kind : {"glow|", "fx|a|"}) {
    if (message.rfind(kind, 0) != 0) continue;
    std::erase_if(queue, [&](const std::pair<int, std::string>& e) {
      return e.first == pid && e.second.rfind(kind, 0) == 0;
    });
  }
  queue.emplace_back(pid, message);
}

void Notify(int pid, const std::string& message) {
  std::lock_guard<std::mutex> lock(g_NotifyLock);
  AppendNotification(g_NotifyQueue, pid, message);
  if (!g_NotifySending) {
    g_NotifySending = true;
    try {
      std::thread(SendNotifications).detach();
    } catch (const std::system_error&) {
      g_NotifySending = false;  // no thread: the queue waits for the next message
    }
  }
}

bool NotifyQueueIdle() {
  std::lock_guard<std::mutex> lock(g_NotifyLock);
  return g_NotifyQueue.empty() && !g_NotifySending;
}
