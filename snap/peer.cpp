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
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
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

using Clock = std::chrono::steady_clock;

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

// The socket directory: its path, the name prefix of the sockets in it and a
// handle kept open for the life of the process (paths too long for a socket
// address go through /proc/self/fd/<handle>).
struct Place {
  std::string dir;
  std::string namePrefix;
  int fd = -1;
};

// An open handle on path when it is a directory of this user that nobody
// else may write to; -1 otherwise. With exact, links are refused and the mode
// must be 0700.
int OpenPrivateDirectory(const std::string& path, bool exact) {
  if (path.empty() || path[0] != '/') return -1;
  const int fd = open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC | (exact ? O_NOFOLLOW : 0));
  if (fd < 0) return -1;
  struct stat st{};
  const bool ok = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
                  (exact ? (st.st_mode & 07777) == 0700 : (st.st_mode & 022) == 0);
  if (!ok) {
    close(fd);
    return -1;
  }
  return fd;
}

const Place& SocketPlace() {
  static const Place place = [] {
    Place p;
    const std::string data = OsDataDir();
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && (p.fd = OpenPrivateDirectory(runtime, true)) >= 0) {
      p.dir = runtime;
      p.namePrefix = "pmr-" + std::to_string(PeerPathHash(data)) + "-win-";
    } else if ((p.fd = OpenPrivateDirectory(data, false)) >= 0) {
      p.dir = data;
      p.namePrefix = "win-";
    }
    return p;
  }();
  return place;
}

std::string SocketName(int pid) { return SocketPlace().namePrefix + std::to_string(pid) + ".sock"; }

// The address of a socket name in the socket directory.
bool FillAddress(const std::string& name, sockaddr_un& addr) {
  const Place& place = SocketPlace();
  if (place.fd < 0) return false;
  std::string path = place.dir + "/" + name;
  if (path.size() > kSocketPathRoom) path = "/proc/self/fd/" + std::to_string(place.fd) + "/" + name;
  if (path.size() > kSocketPathRoom) return false;
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.data(), path.size());
  return true;
}

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// Reads the request (ended by the client shutting down its side) within
// kPeerServeMs of the accept, and answers it. The connection is non-blocking.
void ServePeer(int fd) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(kPeerServeMs);
  if (!PeerIsUs(fd)) return;
  std::string request;
  char buf[512];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN) return;
      const int left = RemainingMs(deadline);
      if (left == 0 || !g_PeerRunning.load()) return;  // too slow: dropped unanswered
      pollfd p[2] = {{fd, POLLIN, 0}, {g_PeerStopFd, POLLIN, 0}};
      if (poll(p, 2, left) < 0 && errno != EINTR) return;
      continue;
    }
    request.append(buf, static_cast<size_t>(n));
    if (request.size() > kPeerMessageMax) return;  // oversized: dropped unanswered
  }
  if (request.empty() || !g_PeerHandler) return;
  std::string answer = g_PeerHandler(request);
  if (!answer.empty() && answer.size() <= kPeerMessageMax) {
    // At most 511 bytes into an empty socket buffer: it never has to wait.
    ssize_t ignored = send(fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
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
    int fd = accept4(g_PeerFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
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

// A connected, checked socket to pid's window with the message sent and the
// write side shut; -1 when any step fails. Never waits: a window whose queue
// of connections is full fails at once.
int ConnectAndSend(int pid, const std::string& message) {
  if (pid <= 0 || pid == getpid() || message.size() > kPeerMessageMax) return -1;
  sockaddr_un addr;
  if (!FillAddress(SocketName(pid), addr)) return -1;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || !PeerIsUs(fd) ||
      send(fd, message.data(), message.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(message.size())) {
    close(fd);
    return -1;
  }
  shutdown(fd, SHUT_WR);
  return fd;
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

std::string PeerSocketDirectory() { return SocketPlace().dir; }

std::string PeerSocketPrefix() {
  const Place& place = SocketPlace();
  return place.dir.empty() ? std::string() : place.dir + "/" + place.namePrefix;
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
  const Place& place = SocketPlace();
  const std::string name = SocketName(getpid());
  sockaddr_un addr;
  if (!FillAddress(name, addr)) return false;
  // Whatever holds our name in our own directory (a socket left by an
  // earlier process with our pid, a file, a link) is ours to replace.
  unlinkat(place.fd, name.c_str(), 0);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  mode_t old = umask(077);
  int bound = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  umask(old);
  if (bound != 0 || fchmodat(place.fd, name.c_str(), 0600, 0) != 0 || listen(fd, 8) != 0) {
    if (bound == 0) unlinkat(place.fd, name.c_str(), 0);
    close(fd);
    return false;
  }
  const int stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopFd < 0) {
    unlinkat(place.fd, name.c_str(), 0);
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
  unlinkat(SocketPlace().fd, SocketName(getpid()).c_str(), 0);
  close(g_PeerFd);
  g_PeerFd = -1;
  close(g_PeerStopFd);
  g_PeerStopFd = -1;
}

std::vector<std::optional<std::string>> PeerRequestAll(const std::vector<std::pair<int, std::string>>& requests,
                                                       int totalMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(totalMs < 0 ? 0 : totalMs);
  std::vector<std::optional<std::string>> results(requests.size());
  std::vector<int> fds(requests.size(), -1);
  std::vector<std::string> answers(requests.size());
  size_t open = 0;
  for (size_t i = 0; i < requests.size(); ++i)
    if ((fds[i] = ConnectAndSend(requests[i].first, requests[i].second)) >= 0) ++open;
  std::vector<pollfd> polls;
  std::vector<size_t> which;
  while (open > 0) {
    polls.clear();
    which.clear();
    for (size_t i = 0; i < fds.size(); ++i) {
      if (fds[i] < 0) continue;
      polls.push_back({fds[i], POLLIN, 0});
      which.push_back(i);
    }
    const int left = RemainingMs(deadline);
    if (left == 0) break;
    const int r = poll(polls.data(), polls.size(), left);
    if (r < 0 && errno != EINTR) break;
    for (size_t k = 0; r > 0 && k < polls.size(); ++k) {
      if (!polls[k].revents) continue;
      const size_t i = which[k];
      bool finished = false, ok = false;
      char buf[256];
      for (;;) {
        const ssize_t n = read(fds[i], buf, sizeof buf);
        if (n == 0) {
          finished = ok = true;
          break;
        }
        if (n < 0) {
          if (errno == EINTR) continue;
          finished = errno != EAGAIN;
          break;
        }
        if (answers[i].size() > kPeerMessageMax) {
          finished = true;
          break;
        }
        answers[i].append(buf, static_cast<size_t>(n));
      }
      if (!finished) continue;
      if (ok) results[i] = std::move(answers[i]);
      close(fds[i]);
      fds[i] = -1;
      --open;
    }
  }
  for (int fd : fds)
    if (fd >= 0) close(fd);
  return results;
}

bool PeerRequest(int pid, const std::string& message, std::string* reply, int timeoutMs) {
  if (reply) reply->clear();
  std::optional<std::string> answer = PeerRequestAll({{pid, message}}, timeoutMs)[0];
  if (!answer) return false;
  if (reply) *reply = std::move(*answer);
  return true;
}

std::vector<int> ListPeers() {
  std::vector<int> result;
  const Place& place = SocketPlace();
  if (place.fd < 0) return result;
  const int listFd = openat(place.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listFd < 0) return result;
  DIR* dir = fdopendir(listFd);
  if (!dir) {
    close(listFd);
    return result;
  }
  const std::string& namePrefix = place.namePrefix;
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
    struct stat st{};
    if (fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISLNK(st.st_mode) ||
        st.st_uid != getuid())
      continue;  // not one of ours: neither a window to ask nor ours to remove
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
