// Injection devices, the left-button watch and the own-window test, against
// the simulated kernel.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/linux/input/input_state.h"
#include "platform/os_input.h"
#include "platform/os_keys.h"
#include "tests/sim/input_harness.h"

using namespace pmrsim;

namespace {

std::vector<std::pair<unsigned long, unsigned long>> CallsOf(const NodeInfo& n, unsigned long request) {
  std::vector<std::pair<unsigned long, unsigned long>> out;
  for (const auto& c : n.uinputCalls)
    if (c.first == request) out.push_back(c);
  return out;
}

std::vector<unsigned long> Args(const std::vector<std::pair<unsigned long, unsigned long>>& calls) {
  std::vector<unsigned long> a;
  for (const auto& c : calls) a.push_back(c.second);
  return a;
}

}  // namespace

TEST(Inject, DevicesAsTheDesktopSeesThem) {
  InputHarness h;
  ASSERT_TRUE(EnsureInjectDevice());
  auto inj = h.k().NodeByPhys("pmr-inject");
  auto ptr = h.k().NodeByPhys("pmr-pointer");
  ASSERT_TRUE(inj);
  ASSERT_TRUE(ptr);
  EXPECT_LT(std::stoi(inj->node.substr(5)), std::stoi(ptr->node.substr(5)));  // injection device first
  EXPECT_EQ(inj->name, "Pellomar virtual input");
  EXPECT_EQ(inj->id.bustype, BUS_VIRTUAL);
  EXPECT_EQ(inj->id.vendor, 0x504D);
  EXPECT_EQ(inj->id.product, 0x5201);
  EXPECT_EQ(inj->id.version, 1);
  EXPECT_EQ(Args(CallsOf(*inj, UI_SET_EVBIT)), (std::vector<unsigned long>{EV_KEY, EV_REL, EV_SYN}));
  std::vector<unsigned long> keys;
  for (int c = 1; c <= 766; ++c)
    if (EvdevToVk(c)) keys.push_back(c);
  ASSERT_GT(keys.size(), 100u);
  for (int b : {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE, BTN_SIDE, BTN_EXTRA}) keys.push_back(b);
  EXPECT_EQ(Args(CallsOf(*inj, UI_SET_KEYBIT)), keys);
  EXPECT_EQ(Args(CallsOf(*inj, UI_SET_RELBIT)),
            (std::vector<unsigned long>{REL_X, REL_Y, REL_WHEEL, REL_WHEEL_HI_RES, REL_HWHEEL, REL_HWHEEL_HI_RES}));
  EXPECT_FALSE(inj->desc.ev.test(EV_ABS));
  EXPECT_EQ(ptr->name, "Pellomar virtual pointer");
  EXPECT_EQ(ptr->id.product, 0x5202);
  EXPECT_EQ(ptr->id.vendor, 0x504D);
  EXPECT_EQ(Args(CallsOf(*ptr, UI_SET_EVBIT)), (std::vector<unsigned long>{EV_ABS, EV_KEY}));
  EXPECT_EQ(Args(CallsOf(*ptr, UI_SET_KEYBIT)), (std::vector<unsigned long>{BTN_LEFT}));
  EXPECT_EQ(Args(CallsOf(*ptr, UI_ABS_SETUP)), (std::vector<unsigned long>{ABS_X, ABS_Y}));
  for (int a : {ABS_X, ABS_Y}) {
    const input_absinfo& i = ptr->desc.absinfo[a];
    EXPECT_EQ(i.minimum, 0);
    EXPECT_EQ(i.maximum, 65535);
    EXPECT_EQ(i.fuzz + i.flat + i.resolution + i.value, 0);
  }
  // Created once for the life of the process.
  EXPECT_TRUE(EnsureInjectDevice());
  EXPECT_EQ(h.k().Nodes().size(), 2u);
}

TEST(Inject, ClicksAndKeysAreOneFrameEach) {
  InputHarness h;
  ASSERT_TRUE(EnsureInjectDevice());
  std::string node = h.k().NodeByPhys("pmr-inject")->node;
  struct Case {
    const char* what;
    std::function<void()> act;
    std::vector<Triple> frame;  // empty: nothing written
  };
  const Case cases[] = {
      {"left down", [] { OsMouseButton(0, true, 1); }, {{EV_KEY, BTN_LEFT, 1}, {EV_SYN, SYN_REPORT, 0}}},
      {"left up", [] { OsMouseButton(0, false, 2); }, {{EV_KEY, BTN_LEFT, 0}, {EV_SYN, SYN_REPORT, 0}}},
      {"right", [] { OsMouseButton(1, true, 1); }, {{EV_KEY, BTN_RIGHT, 1}, {EV_SYN, SYN_REPORT, 0}}},
      {"any other is middle", [] { OsMouseButton(7, true, 1); }, {{EV_KEY, BTN_MIDDLE, 1}, {EV_SYN, SYN_REPORT, 0}}},
      {"key A", [] { OsKeyVk(65, true); }, {{EV_KEY, KEY_A, 1}, {EV_SYN, SYN_REPORT, 0}}},
      {"Enter is the main Enter", [] { OsKeyVk(13, false); }, {{EV_KEY, KEY_ENTER, 0}, {EV_SYN, SYN_REPORT, 0}}},
      {"mouse VK code", [] { OsKeyVk(1, true); }, {}},
      {"unknown VK code", [] { OsKeyVk(7, true); }, {}},
      {"out of range", [] { OsKeyVk(-5, true); OsKeyVk(300, true); }, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    size_t before = h.k().Node(node)->uinputWrites.size();
    c.act();
    auto writes = h.k().Node(node)->uinputWrites;
    if (c.frame.empty()) {
      EXPECT_EQ(writes.size(), before);
    } else {
      ASSERT_EQ(writes.size(), before + 1);
      EXPECT_EQ(Triples(writes.back()), c.frame);
    }
  }
}

TEST(Inject, PointerPlacement) {
  // Scaling samples the pixel centre into 0..65535.
  struct Scale {
    int v, origin, extent, expected;
  };
  const Scale scales[] = {{0, 0, 1920, 17},      {1919, 0, 1920, 65518}, {-1, 0, 1920, 0},
                          {-5000, 0, 1920, 0},   {1920, 0, 1920, 65535}, {5000, 0, 1920, 65535},
                          {100, 100, 1, 32768},  {5, 0, 0, 0},           {5, 0, -3, 0},
                          {-1920, -1920, 3840, 8}, {INT32_MAX, INT32_MIN, INT32_MAX, 65535}};
  for (const Scale& s : scales) EXPECT_EQ(ScaleToAbs(s.v, s.origin, s.extent), s.expected) << s.v << " " << s.extent;

  InputHarness h;
  ASSERT_TRUE(EnsureInjectDevice());
  std::string node = h.k().NodeByPhys("pmr-pointer")->node;
  OsMoveMouseTo(0, 1079);
  OsMoveMouseTo(0, 1079);
  OsMoveMouseTo(1919, 0);
  auto writes = h.k().Node(node)->uinputWrites;
  ASSERT_EQ(writes.size(), 3u);
  const int y1079 = ScaleToAbs(1079, 0, 1080);
  EXPECT_EQ(Triples(writes[0]), (std::vector<Triple>{{EV_ABS, ABS_X, 17}, {EV_ABS, ABS_Y, y1079}, {EV_SYN, 0, 0}}));
  EXPECT_EQ(Triples(writes[1]), (std::vector<Triple>{{EV_ABS, ABS_X, 16},
                                                     {EV_SYN, 0, 0},
                                                     {EV_ABS, ABS_X, 17},
                                                     {EV_ABS, ABS_Y, y1079},
                                                     {EV_SYN, 0, 0}}));
  EXPECT_EQ(writes[2].size(), 3u);
  // The second placement at the same spot really moved the pointer there.
  auto seen = h.SeenFrom("pmr-pointer");
  EXPECT_EQ(seen.size(), 3u + 4u + 3u);
  // At 0 the nudge goes the other way.
  OsMoveMouseTo(-10, -10);
  OsMoveMouseTo(-10, -10);
  writes = h.k().Node(node)->uinputWrites;
  EXPECT_EQ(Triples(writes.back())[0], Triple(EV_ABS, ABS_X, 1));
  // No layout, or a locked session: nothing.
  size_t before = writes.size();
  h.hooks.haveLayout = false;
  OsMoveMouseTo(5, 5);
  h.hooks.haveLayout = true;
  LinuxInputSetSessionUsable(false);
  OsMoveMouseTo(5, 5);
  LinuxInputSetSessionUsable(true);
  EXPECT_EQ(h.k().Node(node)->uinputWrites.size(), before);
}

TEST(Inject, CursorPositionRoundsHalvesAwayFromZero) {
  InputHarness h;
  struct Case {
    bool have;
    double x, y;
    int ex, ey;
  };
  const Case cases[] = {{true, 10.5, -10.5, 11, -11}, {true, 2.49, 2.51, 2, 3}, {false, 7, 7, 0, 0}};
  for (const Case& c : cases) {
    h.hooks.havePosition = c.have;
    h.hooks.px = c.x;
    h.hooks.py = c.y;
    int x = -1, y = -1;
    LinuxInputSetSessionUsable(false);  // not gated
    OsCursorPosition(x, y);
    LinuxInputSetSessionUsable(true);
    EXPECT_EQ(x, c.ex);
    EXPECT_EQ(y, c.ey);
  }
}

TEST(Inject, WithoutUinputAccess) {
  InputHarness h;
  h.k().SetUinputAccess(false);
  EXPECT_FALSE(OsAccessibilityTrusted());
  EXPECT_FALSE(EnsureInjectDevice());
  OsMouseButton(0, true, 1);  // silently nothing
  OsKeyVk(65, true);
  OsMoveMouseTo(1, 1);
  EXPECT_TRUE(h.k().Nodes().empty());
  h.k().SetUinputAccess(true);
  EXPECT_TRUE(OsAccessibilityTrusted());
  EXPECT_EQ(h.k().OpenDescriptors(), 0);  // the check closes what it opened
  // A pointer device that fails once is not retried; the injection device works.
  h.k().FailUinputCreate([](const UinputSetupInfo& i) { return i.phys == "pmr-pointer"; });
  EXPECT_TRUE(EnsureInjectDevice());
  h.k().FailUinputCreate(nullptr);
  EXPECT_TRUE(EnsureInjectDevice());
  EXPECT_FALSE(h.k().NodeByPhys("pmr-pointer"));
  OsMoveMouseTo(1, 1);
  EXPECT_EQ(h.k().OpenDescriptors(), 1);
}

TEST(ButtonWatch, FollowsTheLeftButton) {
  InputHarness h;
  EXPECT_TRUE(LinuxButtonWatchReleased(nullptr));
  LinuxButtonWatchStop(nullptr);
  DeviceDesc m = BasicMouse("Mouse");
  m.phys = "usb-m";
  std::string mouse = h.Add(m);
  h.Add(BasicKeyboard());
  EXPECT_EQ(LinuxButtonWatchStart(), nullptr);  // not held
  // Held on the program's own devices does not count.
  ASSERT_TRUE(EnsureInjectDevice());
  OsMouseButton(0, true, 1);
  EXPECT_EQ(LinuxButtonWatchStart(), nullptr);
  OsMouseButton(0, false, 1);
  EXPECT_EQ(h.k().OpenDescriptors(), 2);
  h.k().Emit(mouse, {Ev(EV_KEY, BTN_LEFT, 1), Ev(EV_SYN, SYN_REPORT, 0)});
  LinuxButtonWatch* w = LinuxButtonWatchStart();
  ASSERT_NE(w, nullptr);
  EXPECT_FALSE(LinuxButtonWatchReleased(w));
  h.k().Emit(mouse, {Ev(EV_KEY, BTN_RIGHT, 1), Ev(EV_SYN, SYN_REPORT, 0)});
  EXPECT_FALSE(LinuxButtonWatchReleased(w));
  h.k().Emit(mouse, {Ev(EV_KEY, BTN_LEFT, 0), Ev(EV_SYN, SYN_REPORT, 0)});
  EXPECT_TRUE(LinuxButtonWatchReleased(w));
  EXPECT_TRUE(LinuxButtonWatchReleased(w));
  LinuxButtonWatchStop(w);
  EXPECT_EQ(h.k().OpenDescriptors(), 2);
}

// A grabbed mouse's buttons appear only on its twin, which is watched.
TEST(ButtonWatch, WatchesTwins) {
  InputHarness h;
  DeviceDesc m = BasicMouse("Mouse");
  m.phys = "usb-m";
  std::string mouse = h.Add(m);
  h.Add(BasicKeyboard());
  ASSERT_TRUE(OsStartInputTap());
  ASSERT_TRUE(h.WaitGrabbed(mouse));
  h.k().Emit(mouse, {Ev(EV_KEY, BTN_LEFT, 1), Ev(EV_SYN, SYN_REPORT, 0)});
  ASSERT_TRUE(h.WaitSeen([](const auto& s) { return !s.empty(); }));
  LinuxButtonWatch* w = LinuxButtonWatchStart();
  ASSERT_NE(w, nullptr);
  h.k().Emit(mouse, {Ev(EV_KEY, BTN_LEFT, 0), Ev(EV_SYN, SYN_REPORT, 0)});
  ASSERT_TRUE(h.WaitSeen([](const auto& s) { return s.size() >= 4; }));
  EXPECT_TRUE(LinuxButtonWatchReleased(w));
  LinuxButtonWatchStop(w);
}

TEST(OwnWindow, ByProcessAndExecutable) {
  InputHarness h;
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  EXPECT_EQ(ExecutableOf(getpid()), std::string(self, n));
  EXPECT_EQ(ExecutableOf(-1), "");
  EXPECT_EQ(ExecutableOf(999999999), "");
  // Another process of the same executable, and one of another.
  pid_t same = fork();
  if (same == 0) {
    pause();
    _exit(0);
  }
  pid_t other = fork();
  if (other == 0) {
    execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  // Both children are ready once the second one runs its own executable.
  const std::string selfExe(self, n);
  for (int i = 0; i < 6000 && (ExecutableOf(other).empty() || ExecutableOf(other) == selfExe); ++i) usleep(10000);
  EXPECT_NE(ExecutableOf(other), selfExe);
  struct Case {
    int pid;
    bool own;
  };
  const Case cases[] = {{0, false}, {-3, false}, {getpid(), true}, {same, true}, {other, false}, {999999999, false}};
  for (const Case& c : cases) {
    h.hooks.pidAt = c.pid;
    EXPECT_EQ(OsIsOwnWindowAt(1, 2), c.own) << c.pid;
  }
  kill(same, SIGKILL);
  kill(other, SIGKILL);
  waitpid(same, nullptr, 0);
  waitpid(other, nullptr, 0);
}
