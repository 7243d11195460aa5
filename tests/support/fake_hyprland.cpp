#include "tests/support/fake_hyprland.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace pmrtest {

FakeHyprland::FakeHyprland(const std::string& signature) : signature_(signature) {
  char dir[] = "/tmp/pmr-hypr-XXXXXX";
  if (!mkdtemp(dir)) throw std::runtime_error("mkdtemp failed");
  runtimeDir_ = dir;
  std::string hypr = runtimeDir_ + "/hypr";
  std::string instance = hypr + "/" + signature_;
  mkdir(hypr.c_str(), 0700);
  mkdir(instance.c_str(), 0700);
  socketPath_ = instance + "/.socket.sock";

  listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (listenFd_ < 0 || socketPath_.size() >= sizeof(addr.sun_path)) throw std::runtime_error("socket failed");
  std::memcpy(addr.sun_path, socketPath_.c_str(), socketPath_.size() + 1);
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(listenFd_, 16) != 0)
    throw std::runtime_error("bind/listen failed");
  if (pipe2(wakePipe_, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  thread_ = std::thread([this] { Serve(); });
}

FakeHyprland::~FakeHyprland() {
  char byte = 1;
  if (write(wakePipe_[1], &byte, 1) < 0) {
  }
  if (thread_.joinable()) thread_.join();
  close(listenFd_);
  close(wakePipe_[0]);
  close(wakePipe_[1]);
  unlink(socketPath_.c_str());
  rmdir((runtimeDir_ + "/hypr/" + signature_).c_str());
  rmdir((runtimeDir_ + "/hypr").c_str());
  rmdir(runtimeDir_.c_str());
}

void FakeHyprland::ExportEnvironment() const {
  setenv("XDG_RUNTIME_DIR", runtimeDir_.c_str(), 1);
  setenv("HYPRLAND_INSTANCE_SIGNATURE", signature_.c_str(), 1);
}

void FakeHyprland::SetReply(const std::string& request, std::string reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_[request] = std::move(reply);
}

void FakeHyprland::SetHandler(std::function<bool(const std::string&, std::string&)> handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  handler_ = std::move(handler);
}

void FakeHyprland::SetHangUp(bool hangUp) {
  std::lock_guard<std::mutex> lock(mutex_);
  hangUp_ = hangUp;
}

std::vector<std::string> FakeHyprland::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void FakeHyprland::ClearRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.clear();
}

void FakeHyprland::Serve() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    Answer(fd);
    close(fd);
  }
}

void FakeHyprland::Answer(int fd) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (hangUp_) return;
  }
  ucred cred{};
  socklen_t credSize = sizeof(cred);
  peerPid_ = getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &credSize) == 0 ? cred.pid : 0;
  // The client writes its request in one piece and then waits for the reply.
  std::string request;
  char buffer[8192];
  int waitMs = 5000;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0) break;
    ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n <= 0) break;
    request.append(buffer, static_cast<size_t>(n));
    waitMs = 20;
  }
  std::string reply;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    auto handler = handler_;
    bool handled = false;
    if (handler) {
      mutex_.unlock();
      handled = handler(request, reply);
      mutex_.lock();
    }
    if (!handled) {
      auto it = replies_.find(request);
      if (it != replies_.end())
        reply = it->second;
      else if (request.rfind("dispatch ", 0) == 0)
        reply = "ok";
      else
        reply = "unknown request";
    }
  }
  size_t sent = 0;
  while (sent < reply.size()) {
    ssize_t n = send(fd, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
}

std::string HyprFixture(const std::string& name) {
  std::ifstream in(std::string(PMR_FIXTURES_DIR) + "/shells/hyprland/" + name, std::ios::binary);
  if (!in) throw std::runtime_error("missing fixture " + name);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string HyprClientList(const std::vector<std::string>& clients) {
  std::string list = "[";
  for (size_t i = 0; i < clients.size(); ++i) {
    if (i) list += ",";
    list += clients[i];
  }
  return list + "]";
}

std::string HyprWithField(std::string text, const std::string& key, const std::string& value) {
  const std::string field = "\"" + key + "\": ";
  size_t at = text.find(field);
  while (at != std::string::npos) {
    size_t start = at + field.size();
    size_t end = start;
    if (end < text.size() && text[end] == '[') {
      end = text.find(']', end);
      end = end == std::string::npos ? text.size() : end + 1;
    } else if (end < text.size() && text[end] == '"') {
      end = text.find('"', end + 1);
      end = end == std::string::npos ? text.size() : end + 1;
    } else {
      end = text.find_first_of(",\n}", end);
      if (end == std::string::npos) end = text.size();
    }
    text.replace(start, end - start, value);
    at = text.find(field, start + value.size());
  }
  return text;
}

#if defined(__SANITIZE_THREAD__)
// RunInChild forks while the fake compositor's thread serves, and the child
// starts the program's own threads (bus connections). The child never touches
// the parent's threads or their locks, so ThreadSanitizer may go on in it.
extern "C" const char* __tsan_default_options() { return "die_after_fork=0"; }
#endif

int RunInChild(const std::function<int()>& body) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int rc = body();
    std::fflush(nullptr);
    _exit(rc);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace pmrtest
