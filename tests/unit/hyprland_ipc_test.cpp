// The Hyprland IPC plumbing: where the socket is looked for, one request per
// connection with the reply cap, and which command syntax a version gets.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/linux/shell/hyprland.h"
#include "tests/support/fake_hyprland.h"

using pmrtest::FakeHyprland;
using pmrtest::HyprFixture;
using pmrtest::HyprWithField;

namespace {

// Sets or clears environment variables for the life of the object.
class EnvGuard {
 public:
  void Set(const char* name, const char* value) {
    Remember(name);
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~EnvGuard() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second.first)
        setenv(it->first.c_str(), it->second.second.c_str(), 1);
      else
        unsetenv(it->first.c_str());
    }
  }

 private:
  void Remember(const char* name) {
    const char* old = std::getenv(name);
    saved_.push_back({name, {old != nullptr, old ? old : ""}});
  }
  std::vector<std::pair<std::string, std::pair<bool, std::string>>> saved_;
};

// A socket file at dir/hypr/<signature>/.socket.sock (nobody listens).
std::string MakeSocketFile(const std::string& dir, const std::string& signature) {
  mkdir((dir + "/hypr").c_str(), 0700);
  mkdir((dir + "/hypr/" + signature).c_str(), 0700);
  std::string path = dir + "/hypr/" + signature + "/.socket.sock";
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", path.c_str());
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  close(fd);
  return path;
}

}  // namespace

TEST(HyprSocketPath, FollowsSignatureAndRuntimeDirectory) {
  char tmpl[] = "/tmp/pmr-hyprpath-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string runtime = tmpl;
  std::string inRuntime = MakeSocketFile(runtime, "sig_runtime");
  // The fallback directory is the real /tmp/hypr; use a signature nobody else has.
  std::string tmpSignature = "pmr_test_" + std::to_string(getpid());
  std::string inTmp = MakeSocketFile("/tmp", tmpSignature);
  MakeSocketFile(runtime, tmpSignature);  // both exist: the runtime one wins

  struct Case {
    const char* name;
    const char* signature;  // nullptr: unset
    const char* runtimeDir;  // nullptr: unset
    std::string expected;
  };
  const Case cases[] = {
      {"in the runtime directory", "sig_runtime", runtime.c_str(), inRuntime},
      {"runtime first when both exist", tmpSignature.c_str(), runtime.c_str(),
       runtime + "/hypr/" + tmpSignature + "/.socket.sock"},
      {"falls back to /tmp", tmpSignature.c_str(), "/nonexistent-runtime", inTmp},
      {"runtime unset falls back to /tmp", tmpSignature.c_str(), nullptr, inTmp},
      {"no socket anywhere", "sig_absent", runtime.c_str(), ""},
      {"signature unset", nullptr, runtime.c_str(), ""},
      {"signature empty", "", runtime.c_str(), ""},
      {"signature with a slash", "hypr/../sig_runtime", runtime.c_str(), ""},
      {"signature that is a path", "/sig_runtime", runtime.c_str(), ""},
  };
  for (const Case& c : cases) {
    EnvGuard env;
    env.Set("HYPRLAND_INSTANCE_SIGNATURE", c.signature);
    env.Set("XDG_RUNTIME_DIR", c.runtimeDir);
    EXPECT_EQ(HyprSocketPathFromEnvironment(), c.expected) << c.name;
  }
  unlink(inTmp.c_str());
  rmdir(("/tmp/hypr/" + tmpSignature).c_str());
  rmdir("/tmp/hypr");  // only succeeds when nothing else is in it
  std::system(("rm -rf " + runtime).c_str());
}

TEST(HyprRequest, SendsTheTextAndReturnsTheWholeReply) {
  FakeHyprland fake;
  std::string clients = HyprFixture("hyprland-clients-hyprpy-testdata.json");
  fake.SetReply("j/clients", clients);
  EXPECT_EQ(HyprRequestTo(fake.SocketPath(), "j/clients"), clients);
  EXPECT_EQ(HyprRequestTo(fake.SocketPath(), "dispatch pin address:0x325eca0"), "ok");
  EXPECT_EQ(HyprRequestTo(fake.SocketPath(), "nonsense"), "unknown request");
  EXPECT_EQ(fake.Requests(),
            (std::vector<std::string>{"j/clients", "dispatch pin address:0x325eca0", "nonsense"}));
}

TEST(HyprRequest, CutsRepliesBeyondOneMebibyte) {
  FakeHyprland fake;
  struct Case {
    size_t replySize;
    size_t minKept, maxKept;
  };
  const Case cases[] = {
      {kHyprReplyLimit, kHyprReplyLimit, kHyprReplyLimit},          // at the limit: whole
      {kHyprReplyLimit + 1, kHyprReplyLimit + 1, kHyprReplyLimit + 1},  // one more chunk is still appended
      {3 * 1024 * 1024, kHyprReplyLimit + 1, kHyprReplyLimit + 4096},  // stops reading
  };
  for (const Case& c : cases) {
    fake.SetReply("j/clients", std::string(c.replySize, 'x'));
    std::string reply = HyprRequestTo(fake.SocketPath(), "j/clients");
    EXPECT_GE(reply.size(), c.minKept) << c.replySize;
    EXPECT_LE(reply.size(), c.maxKept) << c.replySize;
  }
  // The compositor keeps answering after a client stopped reading.
  fake.SetReply("cursorpos", "12, 34");
  EXPECT_EQ(HyprRequestTo(fake.SocketPath(), "cursorpos"), "12, 34");
}

TEST(HyprRequest, FailsEmptyWithoutACompositor) {
  FakeHyprland fake;
  std::string longPath = "/tmp/" + std::string(103, 'p');  // 108 bytes: too long for the address
  ASSERT_EQ(longPath.size(), 108u);
  EXPECT_EQ(HyprRequestTo("", "j/clients"), "");
  EXPECT_EQ(HyprRequestTo(longPath, "j/clients"), "");
  EXPECT_EQ(HyprRequestTo(fake.RuntimeDir() + "/nobody-listens", "j/clients"), "");
  // A socket file nobody listens on.
  std::string dead = MakeSocketFile(fake.RuntimeDir(), "dead");
  EXPECT_EQ(HyprRequestTo(dead, "j/clients"), "");
  // A compositor that hangs up without reading; a request bigger than the
  // socket buffer makes the write fail, which must not kill the process.
  fake.SetHangUp(true);
  EXPECT_EQ(HyprRequestTo(fake.SocketPath(), "j/clients"), "");
  EXPECT_EQ(HyprRequestTo(fake.SocketPath(), std::string(4 * 1024 * 1024, 'r')), "");
  unlink(dead.c_str());
  rmdir((fake.RuntimeDir() + "/hypr/dead").c_str());
}

TEST(HyprLua, ChosenByTheVersionTag) {
  // Real `version -j` replies: 0.44.0 (empty tag) and a git build (empty tag,
  // no "version" field).
  const std::string v044 = HyprFixture("hyprland-version-0.44.0.json");
  const std::string git = HyprFixture("hyprland-version-git-main.json");
  // Tagged builds: the 0.44.0 reply with the tag a release build carries.
  // Tags are `git describe` output ("v0.46.0-27-g5f7ad767" is quoted from
  // `hyprctl version` in hyprwm/Hyprland issue #8827; the "tag" field of the
  // JSON form was added by hyprwm/Hyprland pull request #2821).
  auto tagged = [&](const char* tag) { return HyprWithField(v044, "tag", std::string("\"") + tag + "\""); };
  struct Case {
    std::string reply;
    bool lua;
  };
  const Case cases[] = {
      {tagged("v0.55.2"), false},
      {tagged("v0.55.0"), false},
      {tagged("v0.46.0-27-g5f7ad767"), false},
      {tagged("v0.56.0"), true},
      {tagged("v0.56.1-3-gabcdef0"), true},
      {tagged("v1.0"), true},
      {tagged("v1.0.0"), true},
      {tagged("v2.3.4"), true},
      {v044, false},
      {git, false},
      {tagged("0.56.0"), false},  // no "v": not a version tag
      {tagged("v1"), false},      // no minor version
      {tagged("vX.56"), false},
      {tagged("v99999999999.1"), false},  // out of range
      {"", false},
      {"unknown request", false},
      {"{\"tag\": \"v0.5", false},  // cut off
  };
  for (const Case& c : cases) EXPECT_EQ(HyprLuaForVersion(c.reply), c.lua) << c.reply.substr(0, 400);
}

TEST(HyprDispatch, SendsTheTextOfTheLinksSyntaxAndNeedsOk) {
  FakeHyprland fake;
  fake.SetHandler([](const std::string& request, std::string& reply) {
    if (request.find("refuse") == std::string::npos) return false;
    reply = "Invalid dispatcher";
    return true;
  });
  HyprLink classic{fake.SocketPath(), false};
  HyprLink lua{fake.SocketPath(), true};
  EXPECT_TRUE(HyprDispatch(classic, "pin address:0x1", "hl.dsp.window.pin()"));
  EXPECT_TRUE(HyprDispatch(lua, "pin address:0x1", "hl.dsp.window.pin()"));
  EXPECT_FALSE(HyprDispatch(classic, "refuse", "x"));
  EXPECT_FALSE(HyprDispatch(HyprLink{"", false}, "pin address:0x1", "x"));
  EXPECT_EQ(fake.Requests(), (std::vector<std::string>{"dispatch pin address:0x1", "dispatch hl.dsp.window.pin()",
                                                       "dispatch refuse"}));
}
