// Reading Hyprland's replies: the pointer position, the client under a
// point, and the program's own window, from real `hyprctl -j` output and
// from damaged copies of it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/linux/shell/hyprland.h"
#include "tests/support/fake_hyprland.h"

using pmrtest::FakeHyprland;
using pmrtest::HyprClientList;
using pmrtest::HyprFixture;
using pmrtest::HyprWithField;

namespace {

// One client object of Hyprland 0.55.2 (real reply; pid 1206301,
// address 0x5631a8907ae0, at [2581, 2172], size [2518, 657], tiled).
std::string Client0552() { return HyprFixture("hyprland-clients-0.55.2-grouped-window.json"); }

struct ClientFields {
  std::string address = "\"0x5631a8907ae0\"";
  int pid = 1206301;
  int x = 2581, y = 2172, w = 2518, h = 657;
  int focus = 1;
  const char* mapped = "true";
  const char* hidden = "false";
  const char* floating = "false";
  const char* pinned = "false";
  int fullscreen = 0;
};

std::string Client(const ClientFields& f) {
  std::string c = Client0552();
  c = HyprWithField(c, "address", f.address);
  c = HyprWithField(c, "pid", std::to_string(f.pid));
  c = HyprWithField(c, "at", "[" + std::to_string(f.x) + ", " + std::to_string(f.y) + "]");
  c = HyprWithField(c, "size", "[" + std::to_string(f.w) + ", " + std::to_string(f.h) + "]");
  c = HyprWithField(c, "focusHistoryID", std::to_string(f.focus));
  c = HyprWithField(c, "mapped", f.mapped);
  c = HyprWithField(c, "hidden", f.hidden);
  c = HyprWithField(c, "floating", f.floating);
  c = HyprWithField(c, "pinned", f.pinned);
  c = HyprWithField(c, "fullscreen", std::to_string(f.fullscreen));
  return c;
}

std::string Without(std::string text, const std::string& key) {
  size_t at = text.find("\"" + key + "\": ");
  if (at == std::string::npos) return text;
  size_t end = text.find('\n', at);
  return text.erase(at, end - at + 1);
}

}  // namespace

TEST(HyprCursorPos, ParsesThePlainReply) {
  // The plain reply is "X, Y" with integers in layout coordinates
  // (format "{}, {}" of cursorPosRequest in Hyprland's src/ipc/s1/Commands.cpp,
  // quoted in iconidentify/chonkstep issue #170).
  struct Case {
    const char* reply;
    bool ok;
    double x, y;
  };
  const Case cases[] = {
      {"1011, 533", true, 1011, 533},
      {"-1920, 40", true, -1920, 40},
      {"0, 0", true, 0, 0},
      {"1011,533", true, 1011, 533},
      {"1011, 533\n", true, 1011, 533},
      {"1011, ", false, 0, 0},
      {"1011", false, 0, 0},
      {"{\"x\": 1011, \"y\": 533}", false, 0, 0},  // the j/ form is not asked for
      {"unknown request", false, 0, 0},
      {"", false, 0, 0},
      {"99999999999, 5", false, 0, 0},
  };
  for (const Case& c : cases) {
    double x = -7, y = -7;
    EXPECT_EQ(HyprParseCursorPos(c.reply, x, y), c.ok) << c.reply;
    if (c.ok) {
      EXPECT_EQ(x, c.x) << c.reply;
      EXPECT_EQ(y, c.y) << c.reply;
    } else {
      EXPECT_EQ(x, -7) << "outputs touched on failure: " << c.reply;
    }
  }
}

TEST(HyprPidAt, MostRecentlyFocusedClientUnderThePointWins) {
  ClientFields a, b;
  a.pid = 111, a.x = 0, a.y = 0, a.w = 1000, a.h = 800, a.focus = 3;
  b.address = "\"0x5631a8920250\"", b.pid = 222, b.x = 500, b.y = 400, b.w = 1000, b.h = 800, b.focus = 1;
  std::string ab = HyprClientList({Client(a), Client(b)});
  ClientFields a2 = a, b2 = b;
  a2.focus = 0, b2.focus = 4;
  std::string abSwapped = HyprClientList({Client(a2), Client(b2)});
  struct Case {
    const std::string* reply;
    double x, y;
    int pid;
  };
  const Case cases[] = {
      {&ab, 600, 500, 222},          // overlap: b was focused last
      {&abSwapped, 600, 500, 111},   // overlap: now a was
      {&ab, 100, 100, 111},          // only a
      {&ab, 1400, 1100, 222},        // only b
      {&ab, 999.9, 399.9, 111},      // inside a's last pixel, left of and above b
      {&ab, 1000, 300, 0},           // right edge of a is outside
      {&ab, 1500, 1000, 0},          // right edge of b
      {&ab, -0.5, 10, 0},
      {&ab, 3000, 3000, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(HyprPidAtIn(*c.reply, c.x, c.y), c.pid) << c.x << "," << c.y;
}

TEST(HyprPidAt, RealRepliesAndDamagedOnes) {
  // The real 0.55.2 client covers [2581, 5099) x [2172, 2829).
  std::string one = HyprClientList({Client0552()});
  EXPECT_EQ(HyprPidAtIn(one, 2581, 2172), 1206301);
  EXPECT_EQ(HyprPidAtIn(one, 5098, 2828), 1206301);
  EXPECT_EQ(HyprPidAtIn(one, 5099, 2828), 0);
  // The 2023 schema has no focus history: no client can be told to be on
  // top, so none is named (all six share the same area on different workspaces).
  std::string old = HyprFixture("hyprland-clients-hyprpy-testdata.json");
  EXPECT_EQ(HyprPidAtIn(old, 500, 300), 0);

  // A client that lacks a field never takes its neighbour's.
  ClientFields a, b;
  a.pid = 111, a.x = 0, a.y = 0, a.w = 100, a.h = 100, a.focus = 0;
  b.pid = 222, b.x = 1000, b.y = 1000, b.w = 100, b.h = 100, b.focus = 5;
  EXPECT_EQ(HyprPidAtIn(HyprClientList({Without(Client(a), "pid"), Client(b)}), 50, 50), 0);
  EXPECT_EQ(HyprPidAtIn(HyprClientList({Without(Client(a), "size"), Client(b)}), 50, 50), 0);
  EXPECT_EQ(HyprPidAtIn(HyprClientList({Without(Client(a), "focusHistoryID"), Client(b)}), 50, 50), 0);
  EXPECT_EQ(HyprPidAtIn(HyprClientList({Without(Client(a), "pid"), Client(b)}), 1050, 1050), 222);

  // Every cut of a real reply: never a crash, never a pid that is not in it.
  std::string two = HyprClientList({Client(a), Client(b)});
  for (size_t n = 0; n <= two.size(); ++n) {
    std::string cut = two.substr(0, n);
    int at1 = HyprPidAtIn(cut, 50, 50);
    int at2 = HyprPidAtIn(cut, 1050, 1050);
    EXPECT_TRUE(at1 == 0 || at1 == 111) << n;
    EXPECT_TRUE(at2 == 0 || at2 == 222) << n;
  }
  EXPECT_EQ(HyprPidAtIn(two, 50, 50), 111);
  EXPECT_EQ(HyprPidAtIn("", 1, 1), 0);
  EXPECT_EQ(HyprPidAtIn("\"at\": [", 1, 1), 0);
  EXPECT_EQ(HyprPidAtIn("\"at\": [0, 0] \"size\": [99999999999, 5] \"pid\": 7", 1, 1), 0);
}

TEST(HyprOwnWindow, FindsTheFirstUsableWindowOfThisProcess) {
  const int me = 4242;
  ClientFields own;
  own.pid = me, own.x = -300, own.y = 20, own.w = 640, own.h = 480;
  own.floating = "true", own.pinned = "true", own.fullscreen = 1;
  HyprWindow w;
  ASSERT_TRUE(HyprOwnWindowIn(HyprClientList({Client(own)}), me, w));
  EXPECT_EQ(w.selector, "address:0x5631a8907ae0");
  EXPECT_EQ(w.x, -300);
  EXPECT_EQ(w.y, 20);
  EXPECT_EQ(w.width, 640);
  EXPECT_EQ(w.height, 480);
  EXPECT_TRUE(w.floating);
  EXPECT_TRUE(w.pinned);
  EXPECT_EQ(w.fullscreen, 1);

  // The real reply as it is: tiled, not pinned, not fullscreen.
  ASSERT_TRUE(HyprOwnWindowIn(HyprClientList({Client0552()}), 1206301, w));
  EXPECT_EQ(w.selector, "address:0x5631a8907ae0");
  EXPECT_EQ(w.x, 2581);
  EXPECT_EQ(w.height, 657);
  EXPECT_FALSE(w.floating);
  EXPECT_FALSE(w.pinned);
  EXPECT_EQ(w.fullscreen, 0);
  // The 2023 schema (fullscreen a boolean): firefox's first window.
  ASSERT_TRUE(HyprOwnWindowIn(HyprFixture("hyprland-clients-hyprpy-testdata.json"), 12032, w));
  EXPECT_EQ(w.selector, "address:0x3295d20");
  EXPECT_EQ(w.width, 1366);
  EXPECT_EQ(w.fullscreen, 0);
}

TEST(HyprOwnWindow, SkipsWindowsThatCannotBeUsed) {
  const int me = 4242;
  ClientFields good;
  good.pid = me;
  good.address = "\"0xabc\"";
  good.x = 7;
  struct Case {
    const char* name;
    std::string first;  // a client listed before the usable one
  };
  auto with = [&](auto change) {
    ClientFields f;
    f.pid = me;
    change(f);
    return Client(f);
  };
  const Case cases[] = {
      {"another process", with([](ClientFields& f) { f.pid = 4243; })},
      {"pid that only starts like ours", with([](ClientFields& f) { f.pid = 42420; })},
      {"hidden", with([](ClientFields& f) { f.hidden = "true"; })},
      {"unmapped", with([](ClientFields& f) { f.mapped = "false"; })},
      {"upper-case address", with([](ClientFields& f) { f.address = "\"0x5631A8907AE0\""; })},
      {"address without 0x", with([](ClientFields& f) { f.address = "\"5631a8907ae0\""; })},
      {"address 0x alone", with([](ClientFields& f) { f.address = "\"0x\""; })},
      {"address with a command", with([](ClientFields& f) { f.address = "\"0x1 ; exec rm\""; })},
      {"address with a comma", with([](ClientFields& f) { f.address = "\"0x1,class:x\""; })},
      {"no pid", Without(with([](ClientFields&) {}), "pid")},
      {"no mapped", Without(with([](ClientFields&) {}), "mapped")},
      {"no at", Without(with([](ClientFields&) {}), "at")},
      {"no size", Without(with([](ClientFields&) {}), "size")},
      {"at not numbers", HyprWithField(with([](ClientFields&) {}), "at", "[\"a\", 1]")},
  };
  for (const Case& c : cases) {
    HyprWindow w;
    EXPECT_FALSE(HyprOwnWindowIn(HyprClientList({c.first}), me, w)) << c.name;
    ASSERT_TRUE(HyprOwnWindowIn(HyprClientList({c.first, Client(good)}), me, w)) << c.name;
    EXPECT_EQ(w.selector, "address:0xabc") << c.name;
    EXPECT_EQ(w.x, 7) << c.name;
  }
  // A missing "hidden" is not hidden; a missing "fullscreen" is 0.
  HyprWindow w;
  ASSERT_TRUE(HyprOwnWindowIn(HyprClientList({Without(Without(Client(good), "hidden"), "fullscreen")}), me, w));
  EXPECT_EQ(w.fullscreen, 0);
}

TEST(HyprReplies, FieldsQuotedInsideTitlesAreText) {
  // Any program chooses its window title (a web page chooses the browser's),
  // and Hyprland prints it as a JSON string with its quotes escaped. Text
  // in a title that looks like fields must not pass for fields.
  ClientFields a;
  a.pid = 111, a.x = 0, a.y = 0, a.w = 100, a.h = 100, a.focus = 5;
  std::string spoofAt = HyprWithField(
      Client(a), "title", R"("\"at\": [0, 0], \"size\": [5000, 5000], \"pid\": 666, \"focusHistoryID\": 0")");
  EXPECT_EQ(HyprPidAtIn(HyprClientList({spoofAt}), 50, 50), 111);
  EXPECT_EQ(HyprPidAtIn(HyprClientList({spoofAt}), 1000, 1000), 0);

  const int me = 4242;
  ClientFields foreign;
  foreign.pid = 4243, foreign.address = "\"0xabc\"";
  std::string spoofOwn = HyprWithField(
      Client(foreign), "title",
      R"("\"address\": \"0xdead\", \"mapped\": true, \"pid\": 4242, \"at\": [1, 1], \"size\": [1, 1]")");
  HyprWindow w;
  EXPECT_FALSE(HyprOwnWindowIn(HyprClientList({spoofOwn}), me, w));
  ClientFields own;
  own.pid = me, own.address = "\"0x1234\"";
  ASSERT_TRUE(HyprOwnWindowIn(HyprClientList({spoofOwn, Client(own)}), me, w));
  EXPECT_EQ(w.selector, "address:0x1234");
  // A title ending in an escaped backslash closes normally.
  std::string backslash = HyprWithField(Client(own), "title", R"("C:\\")");
  ASSERT_TRUE(HyprOwnWindowIn(HyprClientList({backslash}), me, w));
  EXPECT_EQ(w.selector, "address:0x1234");

  // A commit message that quotes a version tag is not the tag.
  std::string version = HyprWithField(HyprFixture("hyprland-version-0.44.0.json"), "commit_message",
                                      R"("bump \"tag\": \"v9.0\"")");
  EXPECT_FALSE(HyprLuaForVersion(version));
}

TEST(HyprOwnWindow, DamagedRepliesFail) {
  const int me = 4242;
  ClientFields own;
  own.pid = me;
  std::string whole = HyprClientList({Client(own)});
  // The pid is the last field a window cannot do without: every cut before
  // its end fails, every cut after it finds the window.
  size_t pidEnd = whole.find("\"pid\": 4242") + std::string("\"pid\": 4242").size();
  for (size_t n = 0; n <= whole.size(); ++n) {
    HyprWindow w;
    EXPECT_EQ(HyprOwnWindowIn(whole.substr(0, n), me, w), n >= pidEnd) << n;
  }
  HyprWindow w;
  EXPECT_TRUE(HyprOwnWindowIn(whole, me, w));
  for (const char* reply : {"", "[]", "unknown request", "\"address\": \"", "\"address\": \"0x1"}) {
    EXPECT_FALSE(HyprOwnWindowIn(reply, me, w)) << reply;
  }
}

TEST(HyprOwnWindow, ReplyCutAtTheLimitLosesTheWindowsBehindIt) {
  // A compositor with a very long client list: the own window sits after the
  // first mebibyte, so the cut reply does not contain it.
  FakeHyprland fake;
  ClientFields other;
  other.pid = 1;
  std::string filler = Client(other);
  std::vector<std::string> clients;
  size_t total = 0;
  while (total < kHyprReplyLimit + 8192) {
    clients.push_back(filler);
    total += filler.size() + 1;
  }
  ClientFields own;
  own.pid = static_cast<int>(getpid());
  clients.push_back(Client(own));
  fake.SetReply("j/clients", HyprClientList(clients));
  HyprLink link{fake.SocketPath(), false};
  HyprWindow w;
  EXPECT_FALSE(HyprOwnWindow(link, w));
  // The same list without the filler finds it.
  fake.SetReply("j/clients", HyprClientList({Client(own)}));
  EXPECT_TRUE(HyprOwnWindow(link, w));
}
