#pragma once
// A stand-in for the Hyprland compositor's IPC socket: it listens where the
// compositor would ($XDG_RUNTIME_DIR/hypr/<signature>/.socket.sock under a
// private runtime directory), answers each connection's single request from
// a table of replies, records every request, and closes the connection, as
// the compositor does.
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pmrtest {

class FakeHyprland {
 public:
  // Replies "ok" to every "dispatch …" request and "unknown request" to
  // anything without a reply of its own, as the compositor does.
  explicit FakeHyprland(const std::string& signature = "fakesig_1700000000_1");
  ~FakeHyprland();
  FakeHyprland(const FakeHyprland&) = delete;
  FakeHyprland& operator=(const FakeHyprland&) = delete;

  const std::string& RuntimeDir() const { return runtimeDir_; }
  const std::string& Signature() const { return signature_; }
  const std::string& SocketPath() const { return socketPath_; }

  // Sets XDG_RUNTIME_DIR and HYPRLAND_INSTANCE_SIGNATURE for this instance.
  void ExportEnvironment() const;

  // The reply to one exact request text.
  void SetReply(const std::string& request, std::string reply);
  // Decides replies before the table; returning false falls back to it.
  void SetHandler(std::function<bool(const std::string& request, std::string& reply)> handler);
  // Closes every connection at once, before reading the request.
  void SetHangUp(bool hangUp);

  // The pid of the process whose request is being answered (valid inside
  // the handler).
  int PeerPid() const { return peerPid_; }

  std::vector<std::string> Requests() const;
  void ClearRequests();

 private:
  void Serve();
  void Answer(int fd);

  std::string signature_, runtimeDir_, socketPath_;
  int listenFd_ = -1;
  int wakePipe_[2] = {-1, -1};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::map<std::string, std::string> replies_;
  std::function<bool(const std::string&, std::string&)> handler_;
  bool hangUp_ = false;
  int peerPid_ = 0;
  std::vector<std::string> requests_;
};

// A file of the Hyprland fixtures in tests/fixtures (real `hyprctl -j` replies).
std::string HyprFixture(const std::string& name);
// A client list (the "[…]" of j/clients) made of the given client objects.
std::string HyprClientList(const std::vector<std::string>& clients);
// Replaces the value of one "key": value field in every object of text.
std::string HyprWithField(std::string text, const std::string& key, const std::string& value);

// Runs body in a forked child and returns its exit status (-1 when it did
// not exit normally). For code that keeps per-process state.
int RunInChild(const std::function<int()>& body);

}  // namespace pmrtest
