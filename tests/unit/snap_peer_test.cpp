// Peer sockets between windows: naming, the wire limits, the peer check
// against other users and other programs, listing, and the notification
// queue. The test program doubles as the other window: started with
// PMR_PEER_ROLE it acts as a client or a server of its own.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "base/data_dir.h"
#include "snap/peer.h"
#include "tests/support/process.h"
#include "tests/support/scoped_thread.h"

namespace {

std::string SelfExe() { return ExecutablePathOf(getpid()); }

// Roles of a child copy of this program.
//  client:<pid>:<message>  one PeerRequest, prints "ok:<reply>" or "fail"
//  echo                    serves requests, printing each on a line; answers "got:<request>"
//  mute                    listens on its socket and never accepts
//  where                   serves like echo, first printing its socket path or "failed"
int RunRole(const std::string& role) {
  if (role.rfind("client:", 0) == 0) {
    size_t colon = role.find(':', 7);
    int pid = std::atoi(role.substr(7, colon - 7).c_str());
    std::string reply;
    bool ok = PeerRequest(pid, role.substr(colon + 1), &reply, 2000);
    std::printf("%s%s\n", ok ? "ok:" : "fail", ok ? reply.c_str() : "");
    return 0;
  }
  if (role == "echo" || role == "where") {
    bool started = OsStartPeerServer([](const std::string& request) {
      std::printf("%s\n", request.c_str());
      std::fflush(stdout);
      return "got:" + request;
    });
    const std::string ready = role == "where" ? PeerSocketPath(getpid()) : "ready";
    std::printf("%s\n", started ? ready.c_str() : "failed");
    std::fflush(stdout);
    char c;
    while (read(0, &c, 1) > 0) {
    }
    OsStopPeerServer();
    return 0;
  }
  if (role == "mute") {
    std::string path = PeerSocketPath(getpid());
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0) return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    char c;
    while (read(0, &c, 1) > 0) {
    }
    unlink(path.c_str());
    return 0;
  }
  return 2;
}

// Every copy of the program shares one temporary data directory, inherited
// through XDG_DATA_HOME; a child with a role runs it and exits before any test.
const bool kRoleDone = [] {
  if (const char* role = std::getenv("PMR_PEER_ROLE")) std::exit(RunRole(role));
  if (!std::getenv("PMR_PEER_TEST_HOME")) {
    // Sockets go to the runtime directory when there is a private one; these
    // tests choose it per child, and keep this process in its data directory.
    unsetenv("XDG_RUNTIME_DIR");
    std::string home = pmrtest::MakeTempDir("peer");
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    setenv("PMR_PEER_TEST_HOME", home.c_str(), 1);
  }
  return true;
}();

struct Child {
  pmrtest::ChildProcess proc;
  int stdinFd = -1;
};

// Starts a copy in a role whose stdin is a pipe held by the test (closing it
// ends echo and mute children).
Child StartRole(const std::string& role, const std::vector<std::string>& prefix = {}) {
  int in[2], out[2];
  EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
  EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
  std::vector<std::string> argv = prefix;
  argv.push_back(SelfExe());
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    setenv("PMR_PEER_ROLE", role.c_str(), 1);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  Child c;
  c.proc.pid = pid;
  c.proc.stdoutFd = out[0];
  c.stdinFd = in[1];
  return c;
}

// One line of a child's output, or "" after the child closed it or 10 s passed.
std::string ReadLine(int fd) {
  std::string line;
  char c;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0) return line;
    if (read(fd, &c, 1) != 1 || c == '\n') return line;
    line += c;
  }
}

void Finish(Child& c) {
  if (c.stdinFd >= 0) close(c.stdinFd);
  c.stdinFd = -1;
  pmrtest::WaitFor(c.proc, 10);
  if (c.proc.stdoutFd >= 0) close(c.proc.stdoutFd);
}

// Connects straight to a socket path and sends raw bytes; returns what came
// back, or "<refused>" when the connect failed.
std::string RawExchange(const std::string& path, const std::string& bytes) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return "<refused>";
  }
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  shutdown(fd, SHUT_WR);
  std::string got;
  char buf[1024];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
  close(fd);
  return got;
}

class PeerServer : public ::testing::Test {
 protected:
  void SetUp() override {
    calls = 0;
    ASSERT_TRUE(OsStartPeerServer([this](const std::string& r) {
      ++calls;
      return "pong:" + r;
    }));
  }
  void TearDown() override { OsStopPeerServer(); }
  std::atomic<int> calls{0};
};

int CountEntries(const std::string& dir) {
  int n = 0;
  if (DIR* d = opendir(dir.c_str())) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}

TEST(PeerNaming, PrefixAndLongPathFallback) {
  EXPECT_EQ(PeerSocketPrefix(), OsDataDir() + "/win-");
  EXPECT_EQ(PeerSocketPath(42), OsDataDir() + "/win-42.sock");
  // The hash is FNV-1a: fixed values, the same in every process.
  EXPECT_EQ(PeerPathHash(""), 0xcbf29ce484222325ull);
  EXPECT_EQ(PeerPathHash("a"), 0xaf63dc4c8601ec8cull);
}

// The other user of the attack tests (an account every Debian system has).
constexpr uid_t kOtherUid = 65534;

// Pid the kernel hands out next (any later one is as good a guess).
int NextPid() {
  FILE* f = std::fopen("/proc/sys/kernel/ns_last_pid", "r");
  int last = 0;
  if (f) {
    if (std::fscanf(f, "%d", &last) != 1) last = 0;
    std::fclose(f);
  }
  return last + 1;
}

TEST(PeerNaming, LongDataDirectoryKeepsTheSocketsInIt) {
  // Such a path once sent the sockets to /tmp, where anyone can make a name.
  std::string home = pmrtest::MakeTempDir("peerlong") + "/" + std::string(90, 'y');
  std::string dir = home + "/Pellomar";
  ASSERT_GT(dir.size() + 5 + 16, 107u);
  const std::string tmpPrefix =
      "/tmp/pmr-" + std::to_string(getuid()) + "-" + std::to_string(PeerPathHash(dir)) + "-win-";
  Child echo = StartRole("where", {"env", "XDG_DATA_HOME=" + home});
  const std::string path = ReadLine(echo.proc.stdoutFd);
  EXPECT_EQ(path, dir + "/win-" + std::to_string(echo.proc.pid) + ".sock");
  struct stat st{};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_NE(lstat((tmpPrefix + std::to_string(echo.proc.pid) + ".sock").c_str(), &st), 0) << "nothing in /tmp";
  // Another window with the same data directory reaches it through the long path.
  Child client = StartRole("client:" + std::to_string(echo.proc.pid) + ":frame", {"env", "XDG_DATA_HOME=" + home});
  EXPECT_EQ(ReadLine(client.proc.stdoutFd), "ok:got:frame");
  Finish(client);
  EXPECT_EQ(ReadLine(echo.proc.stdoutFd), "frame");
  Finish(echo);
  EXPECT_NE(lstat(path.c_str(), &st), 0) << "removed at stop";
}

TEST(PeerNaming, RuntimeDirectoryOnlyWhenItIsPrivateAndOurs) {
  const std::string base = pmrtest::MakeTempDir("peerrun");
  const std::string good = base + "/good", open = base + "/open", theirs = base + "/theirs", link = base + "/link";
  ASSERT_EQ(mkdir(good.c_str(), 0700), 0);
  ASSERT_EQ(mkdir(open.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(theirs.c_str(), 0700), 0);
  ASSERT_EQ(symlink(good.c_str(), link.c_str()), 0);
  const bool root = getuid() == 0;
  if (root) {
    ASSERT_EQ(chown(theirs.c_str(), kOtherUid, kOtherUid), 0);
  }
  const std::string inData = OsDataDir() + "/win-";
  const std::string inRuntime = good + "/pmr-" + std::to_string(PeerPathHash(OsDataDir())) + "-win-";
  struct {
    std::string runtime, wantPrefix;
  } cases[] = {
      {good, inRuntime},
      {open, inData},                        // others may read it
      {link, inData},                        // a link: not a directory we checked
      {"relative/dir", inData},              // not absolute
      {base + "/missing", inData},
      {theirs, root ? inData : inRuntime},   // another user's (needs root to make)
  };
  for (const auto& c : cases) {
    Child echo = StartRole("where", {"env", "XDG_RUNTIME_DIR=" + c.runtime});
    const std::string path = ReadLine(echo.proc.stdoutFd);
    EXPECT_EQ(path, c.wantPrefix + std::to_string(echo.proc.pid) + ".sock") << c.runtime;
    struct stat st{};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << c.runtime;
    // A window of the same data directory and runtime directory finds it.
    Child client = StartRole("client:" + std::to_string(echo.proc.pid) + ":hi", {"env", "XDG_RUNTIME_DIR=" + c.runtime});
    EXPECT_EQ(ReadLine(client.proc.stdoutFd), "ok:got:hi") << c.runtime;
    Finish(client);
    Finish(echo);
  }
}

// Another user made the /tmp names of the next 400 pids before this user's
// window started: the window still serves, from a directory of its own.
TEST(PeerNaming, NamesMadeByAnotherUserDoNotStopTheServer) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to act as two other users";
  const uid_t user = kOtherUid, attacker = kOtherUid - 1;
  // The window's user needs a home of its own, and the attacker the names in /tmp.
  std::string home = pmrtest::MakeTempDir("peerfoe") + "/" + std::string(90, 'y');
  ASSERT_EQ(mkdir(home.c_str(), 0700), 0);
  ASSERT_EQ(chmod(home.substr(0, home.rfind('/')).c_str(), 0755), 0);
  ASSERT_EQ(chown(home.c_str(), user, user), 0);
  const std::string tmpPrefix =
      "/tmp/pmr-" + std::to_string(user) + "-" + std::to_string(PeerPathHash(home + "/Pellomar")) + "-win-";
  std::vector<std::string> planted;
  const int next = NextPid();
  for (int pid = next; pid < next + 400; ++pid) {
    std::string name = tmpPrefix + std::to_string(pid) + ".sock";
    int fd = open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) continue;
    close(fd);
    ASSERT_EQ(chown(name.c_str(), attacker, attacker), 0);
    planted.push_back(name);
  }
  pmrtest::OnExit cleanup([&] {
    for (const auto& n : planted) unlink(n.c_str());
  });
  Child echo = StartRole("where", {"setpriv", "--reuid=" + std::to_string(user), "--regid=" + std::to_string(user),
                                   "--clear-groups", "env", "XDG_DATA_HOME=" + home});
  const std::string path = ReadLine(echo.proc.stdoutFd);
  if (path.empty()) {
    Finish(echo);
    GTEST_SKIP() << "that user may not run this program here";
  }
  EXPECT_EQ(path, home + "/Pellomar/win-" + std::to_string(echo.proc.pid) + ".sock");
  struct stat st{};
  ASSERT_EQ(lstat(path.c_str(), &st), 0) << path;
  EXPECT_EQ(st.st_uid, user);
  Finish(echo);
}

TEST_F(PeerServer, SocketIsPrivateAndAnswersASameProgramClient) {
  struct stat st{};
  ASSERT_EQ(lstat(PeerSocketPath(getpid()).c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  struct stat dir{};
  ASSERT_EQ(stat(OsDataDir().c_str(), &dir), 0);
  EXPECT_EQ(dir.st_mode & 0777, 0700u);
  // Starting again keeps the running server and its handler.
  EXPECT_TRUE(OsStartPeerServer([](const std::string&) { return std::string("other"); }));

  const std::string max(kPeerMessageMax, 'm');
  struct {
    std::string message, want;
  } cases[] = {
      {"frame", "ok:pong:frame"},
      {max, "ok:"},  // 511 bytes arrive; the 516-byte answer is too long to write
      {std::string(kPeerMessageMax - 5, 'm'), "ok:pong:" + std::string(kPeerMessageMax - 5, 'm')},
      {std::string(kPeerMessageMax + 1, 'm'), "fail"},  // never sent
  };
  int expectCalls = 0;
  for (const auto& c : cases) {
    Child child = StartRole("client:" + std::to_string(getpid()) + ":" + c.message);
    std::string line = ReadLine(child.proc.stdoutFd);
    Finish(child);
    EXPECT_EQ(line, c.want) << c.message.size() << " bytes";
    if (c.want != "fail") ++expectCalls;
  }
  EXPECT_EQ(calls.load(), expectCalls);
}

TEST_F(PeerServer, RefusesOtherUsersAndOtherPrograms) {
  // Let another user reach the socket at all, so that the credential check
  // itself is what refuses it.
  std::string home = std::getenv("XDG_DATA_HOME");
  for (std::string p = OsDataDir(); p.size() >= home.size(); p = p.substr(0, p.rfind('/')))
    chmod(p.c_str(), 0755);
  chmod(PeerSocketPath(getpid()).c_str(), 0666);
  const std::string target = std::to_string(getpid());

  if (getuid() == 0) {
    Child other = StartRole("client:" + target + ":frame",
                            {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    // "fail", or nothing when that user may not even run this program here.
    const std::string line = ReadLine(other.proc.stdoutFd);
    EXPECT_NE(line.rfind("ok:", 0), 0u) << line;
    Finish(other);
  } else {
    GTEST_LOG_(INFO) << "not root: the other-user client is not run";
  }
  std::string out;
  std::string script = "import socket\ns=socket.socket(socket.AF_UNIX)\ns.connect('" + PeerSocketPath(getpid()) +
                       "')\ntry:\n  s.sendall(b'frame')\n  s.shutdown(socket.SHUT_WR)\n  print(repr(s.recv(600)))\nexcept OSError:\n  print('closed')\n";
  EXPECT_EQ(pmrtest::Run({"python3", "-c", script}, &out), 0);
  EXPECT_TRUE(out == "b''\n" || out == "closed\n") << out;
  EXPECT_EQ(calls.load(), 0);
  chmod(OsDataDir().c_str(), 0700);
  chmod(PeerSocketPath(getpid()).c_str(), 0600);
}

TEST_F(PeerServer, RawRequestsAtTheLimits) {
  const std::string path = PeerSocketPath(getpid());
  // This process is the same program as the server, so raw clients pass the check.
  struct {
    std::string bytes, want;
    int calls;
  } cases[] = {
      {"", "", 0},                                          // empty: nothing
      {std::string(kPeerMessageMax + 1, 'x'), "", 0},       // oversized: dropped
      {std::string(5000, 'x'), "", 0},                      // far oversized
      {std::string("\x00\xff\x01|", 4), std::string("pong:\x00\xff\x01|", 9), 1},  // bytes pass as they are
      {std::string(kPeerMessageMax, 'x'), "", 1},           // served; answer too long
  };
  int total = 0;
  for (const auto& c : cases) {
    EXPECT_EQ(RawExchange(path, c.bytes), c.want) << c.bytes.size() << " bytes";
    total += c.calls;
    EXPECT_EQ(calls.load(), total) << c.bytes.size() << " bytes";
  }
}

TEST(PeerRequestTest, RefusedArguments) {
  std::string reply = "stale";
  EXPECT_FALSE(PeerRequest(0, "frame", &reply, 100));
  EXPECT_EQ(reply, "");
  EXPECT_FALSE(PeerRequest(-5, "frame", nullptr, 100));
  EXPECT_FALSE(PeerRequest(getpid(), "frame", nullptr, 100));
  EXPECT_FALSE(PeerRequest(999999999, "frame", nullptr, 100));  // no socket
}

TEST(PeerRequestTest, ASilentPeerCostsOnlyTheTimeout) {
  Child mute = StartRole("mute");
  ASSERT_EQ(ReadLine(mute.proc.stdoutFd), "ready");
  auto start = std::chrono::steady_clock::now();
  std::string reply = "x";
  EXPECT_FALSE(PeerRequest(mute.proc.pid, "frame", &reply, 400));
  double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(reply, "");
  EXPECT_GE(took, 0.35);
  EXPECT_LT(took, 5.0);  // bounded by the timeout, not by the peer
  Finish(mute);
}

TEST(PeerRequestTest, RoundTripWithAnotherWindow) {
  Child echo = StartRole("echo");
  ASSERT_EQ(ReadLine(echo.proc.stdoutFd), "ready");
  std::string reply;
  ASSERT_TRUE(PeerRequest(echo.proc.pid, "frame", &reply, 2000));
  EXPECT_EQ(reply, "got:frame");
  EXPECT_EQ(ReadLine(echo.proc.stdoutFd), "frame");
  // The other window is listed; this one is not.
  auto peers = ListPeers();
  EXPECT_NE(std::find(peers.begin(), peers.end(), echo.proc.pid), peers.end());
  EXPECT_EQ(std::find(peers.begin(), peers.end(), getpid()), peers.end());
  // Notifications arrive in queue order; a repeated move is sent twice.
  Notify(echo.proc.pid, "moveTo|1|2");
  Notify(echo.proc.pid, "moveTo|1|2");
  Notify(echo.proc.pid, "snapCheck");
  EXPECT_EQ(ReadLine(echo.proc.stdoutFd), "moveTo|1|2");
  EXPECT_EQ(ReadLine(echo.proc.stdoutFd), "moveTo|1|2");
  EXPECT_EQ(ReadLine(echo.proc.stdoutFd), "snapCheck");
  Finish(echo);
  // Its socket went with it.
  struct stat st{};
  EXPECT_NE(lstat(PeerSocketPath(echo.proc.pid).c_str(), &st), 0);
}

TEST(PeerList, SkipsOddNamesAndRemovesDeadSockets) {
  pid_t dead = fork();
  if (dead == 0) _exit(0);
  waitpid(dead, nullptr, 0);
  const std::string dir = OsDataDir();
  const std::string names[] = {"win-" + std::to_string(dead) + ".sock", "win-abc.sock", "win-1234567890.sock",
                               "win-.sock", "win-" + std::to_string(getpid()) + ".sock", "other-12.sock"};
  for (const auto& n : names) close(open((dir + "/" + n).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
  auto peers = ListPeers();
  EXPECT_EQ(std::find(peers.begin(), peers.end(), dead), peers.end());
  EXPECT_EQ(std::find(peers.begin(), peers.end(), getpid()), peers.end());
  struct stat st{};
  EXPECT_NE(lstat((dir + "/" + names[0]).c_str(), &st), 0) << "stale socket removed";
  for (size_t i = 1; i < std::size(names); ++i)
    EXPECT_EQ(lstat((dir + "/" + names[i]).c_str(), &st), 0) << names[i] << " left alone";
  for (size_t i = 1; i < std::size(names); ++i) unlink((dir + "/" + names[i]).c_str());
  // A live process (pid 1 always is) is listed and keeps its file.
  close(open((dir + "/win-1.sock").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
  peers = ListPeers();
  EXPECT_NE(std::find(peers.begin(), peers.end(), 1), peers.end());
  EXPECT_EQ(lstat((dir + "/win-1.sock").c_str(), &st), 0);
  unlink((dir + "/win-1.sock").c_str());
}

// Names in the socket directory that are not this user's sockets: a link to
// a real window's socket, a file of another user. Neither is asked nor removed.
TEST(PeerList, SkipsLinksAndOtherUsersEntries) {
  Child echo = StartRole("echo");
  ASSERT_EQ(ReadLine(echo.proc.stdoutFd), "ready");
  const std::string dir = OsDataDir();
  const std::string real = PeerSocketPath(echo.proc.pid);
  pid_t dead = fork();
  if (dead == 0) _exit(0);
  waitpid(dead, nullptr, 0);
  const bool root = getuid() == 0;
  struct Entry {
    std::string name;
    bool link, foreign;
  } entries[] = {
      {"win-1.sock", true, false},                        // a live pid, a link to a live window
      {"win-" + std::to_string(dead) + ".sock", true, false},  // a dead pid: the link stays too
      {"win-2.sock", false, true},                        // a live pid, another user's file
  };
  for (const auto& e : entries) {
    const std::string path = dir + "/" + e.name;
    if (e.link) {
      ASSERT_EQ(symlink(real.c_str(), path.c_str()), 0);
    } else {
      close(open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
      if (root) {
        ASSERT_EQ(lchown(path.c_str(), kOtherUid, kOtherUid), 0);
      }
    }
  }
  auto peers = ListPeers();
  EXPECT_NE(std::find(peers.begin(), peers.end(), echo.proc.pid), peers.end()) << "the real window";
  EXPECT_EQ(std::find(peers.begin(), peers.end(), 1), peers.end()) << "a link is no window";
  EXPECT_EQ(std::find(peers.begin(), peers.end(), dead), peers.end());
  if (root) {
    EXPECT_EQ(std::find(peers.begin(), peers.end(), 2), peers.end()) << "another user's entry";
  }
  for (const auto& e : entries) {
    struct stat st{};
    EXPECT_EQ(lstat((dir + "/" + e.name).c_str(), &st), 0) << e.name << " left alone";
    unlink((dir + "/" + e.name).c_str());
  }
  Finish(echo);
}

// The server serves one connection at a time: a client that connects and
// says nothing, or one that sends a byte now and then and never ends its
// request, is dropped after a short time and the next client is served.
TEST_F(PeerServer, ASilentOrDribblingClientDoesNotHoldTheServer) {
  const std::string path = PeerSocketPath(getpid());
  auto connectRaw = [&] {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    return fd;
  };
  std::atomic<bool> stop{false};
  const int silent = connectRaw();
  const int dribbler = connectRaw();
  pmrtest::OnExit closeAll([&] {
    close(silent);
    close(dribbler);
  });
  // One byte every 50 ms: it would take the whole test to reach 511 bytes.
  pmrtest::ScopedThread drip(
      [&] {
        while (!stop.load()) {
          if (send(dribbler, "x", 1, MSG_NOSIGNAL) != 1) return;
          for (int i = 0; i < 5 && !stop.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
      },
      [&] { stop = true; });
  for (int round = 0; round < 2; ++round) {
    Child client = StartRole("client:" + std::to_string(getpid()) + ":frame");
    EXPECT_EQ(ReadLine(client.proc.stdoutFd), "ok:pong:frame") << "round " << round;
    Finish(client);
  }
  EXPECT_EQ(calls.load(), 2) << "neither the silent nor the dribbling request reached the handler";
  // Both were dropped: their connections are closed by the server.
  char c;
  for (int fd : {silent, dribbler}) {
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 10000), 1);
    EXPECT_LE(read(fd, &c, 1), 0);
  }
}

TEST(PeerNotify, QueueRule) {
  std::deque<std::pair<int, std::string>> q;
  AppendNotification(q, 7, "glow|65280|0,0,1,10,1");
  AppendNotification(q, 8, "glow|65280|0,0,1,10,1");
  AppendNotification(q, 7, "fx|a|1|2|1|0|100|5");
  AppendNotification(q, 7, "moveTo|1|2");
  AppendNotification(q, 7, "moveTo|1|2");
  AppendNotification(q, 7, "fx|c|1|2|1|0|100|0|100");
  AppendNotification(q, 7, "glow|0");
  AppendNotification(q, 7, "fx|a|3|4|1|0|100|0");
  AppendNotification(q, 7, "glowing");  // not a glow message
  std::deque<std::pair<int, std::string>> want = {
      {8, "glow|65280|0,0,1,10,1"}, {7, "moveTo|1|2"}, {7, "moveTo|1|2"}, {7, "fx|c|1|2|1|0|100|0|100"},
      {7, "glow|0"},                {7, "fx|a|3|4|1|0|100|0"}, {7, "glowing"}};
  EXPECT_EQ(q, want);
}

TEST(PeerNotify, ThousandToADeadPeerLeaveNothingBehind) {
  auto waitIdle = [] {
    for (int i = 0; i < 6000 && !NotifyQueueIdle(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return NotifyQueueIdle();
  };
  ASSERT_TRUE(waitIdle());
  const int threads = CountEntries("/proc/self/task");
  const int fds = CountEntries("/proc/self/fd");
  pid_t dead = fork();
  if (dead == 0) _exit(0);
  waitpid(dead, nullptr, 0);
  for (int i = 0; i < 1000; ++i) Notify(dead, i % 2 ? "snapCheck" : "moveTo|" + std::to_string(i) + "|0");
  ASSERT_TRUE(waitIdle());
  // The detached sender has cleared its flag; wait for it to be gone too.
  for (int i = 0; i < 2000 && CountEntries("/proc/self/task") != threads; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(CountEntries("/proc/self/task"), threads);
  EXPECT_EQ(CountEntries("/proc/self/fd"), fds);
}

TEST(PeerServerLife, StopRemovesSocketAndRestartWorks) {
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(OsStartPeerServer([](const std::string&) { return std::string("x"); }));
    struct stat st{};
    EXPECT_EQ(lstat(PeerSocketPath(getpid()).c_str(), &st), 0);
    OsStopPeerServer();
    EXPECT_NE(lstat(PeerSocketPath(getpid()).c_str(), &st), 0);
  }
  OsStopPeerServer();  // a second stop does nothing
  // A stale file at our own path (left by an earlier process with our pid) is replaced.
  close(open(PeerSocketPath(getpid()).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
  ASSERT_TRUE(OsStartPeerServer([](const std::string&) { return std::string("x"); }));
  EXPECT_EQ(RawExchange(PeerSocketPath(getpid()), "hi"), "x");
  OsStopPeerServer();
}

}  // namespace
