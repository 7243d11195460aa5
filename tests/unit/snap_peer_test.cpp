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

namespace {

std::string SelfExe() { return ExecutablePathOf(getpid()); }

// Roles of a child copy of this program.
//  client:<pid>:<message>  one PeerRequest, prints "ok:<reply>" or "fail"
//  echo                    serves requests, printing each on a line; answers "got:<request>"
//  mute                    listens on its socket and never accepts
int RunRole(const std::string& role) {
  if (role.rfind("client:", 0) == 0) {
    size_t colon = role.find(':', 7);
    int pid = std::atoi(role.substr(7, colon - 7).c_str());
    std::string reply;
    bool ok = PeerRequest(pid, role.substr(colon + 1), &reply, 2000);
    std::printf("%s%s\n", ok ? "ok:" : "fail", ok ? reply.c_str() : "");
    return 0;
  }
  if (role == "echo") {
    bool started = OsStartPeerServer([](const std::string& request) {
      std::printf("%s\n", request.c_str());
      std::fflush(stdout);
      return "got:" + request;
    });
    std::printf("%s\n", started ? "ready" : "failed");
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

TEST(PeerNaming, LongDataDirectoryFallsBackToTmp) {
  std::string home = pmrtest::MakeTempDir("peerlong") + "/" + std::string(90, 'y');
  std::string dir = home + "/Pellomar";
  std::string want = "/tmp/pmr-" + std::to_string(getuid()) + "-" + std::to_string(PeerPathHash(dir)) + "-win-";
  ASSERT_GT(dir.size() + 5 + 16, 107u);
  // A window whose data directory is that long serves on the fallback path.
  Child echo = StartRole("echo", {"env", "XDG_DATA_HOME=" + home});
  ASSERT_EQ(ReadLine(echo.proc.stdoutFd), "ready");
  const std::string path = want + std::to_string(echo.proc.pid) + ".sock";
  struct stat st{};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  Finish(echo);
  EXPECT_NE(lstat(path.c_str(), &st), 0) << "removed at stop";
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
