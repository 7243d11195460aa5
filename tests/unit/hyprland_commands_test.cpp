// Commands on the program's own window through a fake Hyprland compositor:
// the exact texts it receives in both command syntaxes, when commands are
// skipped, and the choice of the Hyprland backend at start-up.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/linux/shell/hyprland.h"
#include "platform/os_shell.h"
#include "tests/support/fake_hyprland.h"

using pmrtest::FakeHyprland;
using pmrtest::HyprClientList;
using pmrtest::HyprFixture;
using pmrtest::HyprWithField;
using pmrtest::RunInChild;
using Requests = std::vector<std::string>;

namespace {

const std::string kSel = "address:0x5631a8907ae0";

// A compositor holding one window of the asking process (the real 0.55.2
// client object with that pid) that applies float, pin, move and resize commands to
// it, so that later "j/clients" replies show their effect.
struct OwnWindowCompositor {
  FakeHyprland fake;
  bool floating = false;
  bool pinned = false;
  int x = 2581, y = 2172, w = 2518, h = 657;
  std::string refuse;  // requests containing this text are answered with an error

  OwnWindowCompositor() {
    fake.SetHandler([this](const std::string& request, std::string& reply) { return Handle(request, reply); });
  }

  std::string Clients() const {
    std::string c = HyprFixture("hyprland-clients-0.55.2-grouped-window.json");
    c = HyprWithField(c, "pid", std::to_string(fake.PeerPid()));
    c = HyprWithField(c, "floating", floating ? "true" : "false");
    c = HyprWithField(c, "pinned", pinned ? "true" : "false");
    c = HyprWithField(c, "at", "[" + std::to_string(x) + ", " + std::to_string(y) + "]");
    c = HyprWithField(c, "size", "[" + std::to_string(w) + ", " + std::to_string(h) + "]");
    return HyprClientList({c});
  }

  bool Handle(const std::string& request, std::string& reply) {
    if (!refuse.empty() && request.find(refuse) != std::string::npos) {
      reply = "No such window found";
      return true;
    }
    if (request == "j/clients") {
      reply = Clients();
      return true;
    }
    if (request.rfind("dispatch ", 0) != 0) return false;
    std::string cmd = request.substr(9);
    int a = 0, b = 0;
    if (cmd.find("setfloating ") == 0 || cmd.find("hl.dsp.window.float(") == 0) floating = true;
    if (cmd.find("pin ") == 0) pinned = !pinned;
    if (cmd.find("action = \"enable\", window") != std::string::npos && cmd.find(".pin(") != std::string::npos)
      pinned = true;
    if (cmd.find("action = \"disable\", window") != std::string::npos) pinned = false;
    if (std::sscanf(cmd.c_str(), "movewindowpixel exact %d %d", &a, &b) == 2 ||
        std::sscanf(cmd.c_str(), "hl.dsp.window.move({ x = %d, y = %d", &a, &b) == 2)
      x = a, y = b;
    if (std::sscanf(cmd.c_str(), "resizewindowpixel exact %d %d", &a, &b) == 2 ||
        std::sscanf(cmd.c_str(), "hl.dsp.window.resize({ x = %d, y = %d", &a, &b) == 2)
      w = a, h = b;
    reply = "ok";
    return true;
  }

  HyprLink Link(bool lua) { return HyprLink{fake.SocketPath(), lua}; }
};

std::string Lua(const std::string& form) { return "dispatch " + form; }

}  // namespace

TEST(HyprCommands, SendExactTextsInBothSyntaxes) {
  const std::string floatClassic = "dispatch setfloating " + kSel;
  const std::string floatLua = Lua("hl.dsp.window.float({ action = \"enable\", window = \"" + kSel + "\" })");
  struct Case {
    const char* name;
    bool lua;
    bool floating, pinned;  // the window before the command
    std::function<bool(const HyprLink&)> command;
    bool result;
    Requests sent;
  };
  const Case cases[] = {
      {"move, tiled, classic", false, false, false, [](const HyprLink& l) { return HyprMoveFrame(l, 100, -20); },
       true, {"j/clients", floatClassic, "dispatch movewindowpixel exact 100 -20," + kSel}},
      {"move, tiled, lua", true, false, false, [](const HyprLink& l) { return HyprMoveFrame(l, 100, -20); }, true,
       {"j/clients", floatLua, Lua("hl.dsp.window.move({ x = 100, y = -20, window = \"" + kSel + "\" })")}},
      {"move, floating, classic", false, true, false, [](const HyprLink& l) { return HyprMoveFrame(l, 0, 5); }, true,
       {"j/clients", "dispatch movewindowpixel exact 0 5," + kSel}},
      {"resize, floating, classic", false, true, false,
       [](const HyprLink& l) { return HyprResizeFrame(l, 800, 600); }, true,
       {"j/clients", "dispatch resizewindowpixel exact 800 600," + kSel}},
      {"resize, floating, lua", true, true, false, [](const HyprLink& l) { return HyprResizeFrame(l, 800, 600); },
       true, {"j/clients", Lua("hl.dsp.window.resize({ x = 800, y = 600, window = \"" + kSel + "\" })")}},
      {"resize, tiled: nothing sent", false, false, false,
       [](const HyprLink& l) { return HyprResizeFrame(l, 800, 600); }, false, {"j/clients"}},
      {"resize, tiled, lua: nothing sent", true, false, false,
       [](const HyprLink& l) { return HyprResizeFrame(l, 800, 600); }, false, {"j/clients"}},
      {"pin, tiled, classic", false, false, false, [](const HyprLink& l) { return HyprSetPinned(l, true); }, true,
       {"j/clients", floatClassic, "dispatch pin " + kSel}},
      {"pin, tiled, lua", true, false, false, [](const HyprLink& l) { return HyprSetPinned(l, true); }, true,
       {"j/clients", floatLua, Lua("hl.dsp.window.pin({ action = \"enable\", window = \"" + kSel + "\" })")}},
      {"unpin, classic toggles", false, true, true, [](const HyprLink& l) { return HyprSetPinned(l, false); }, true,
       {"j/clients", "dispatch pin " + kSel}},
      {"unpin, lua", true, true, true, [](const HyprLink& l) { return HyprSetPinned(l, false); }, true,
       {"j/clients", Lua("hl.dsp.window.pin({ action = \"disable\", window = \"" + kSel + "\" })")}},
      {"pin, already pinned", false, true, true, [](const HyprLink& l) { return HyprSetPinned(l, true); }, true,
       {"j/clients"}},
      {"unpin, not pinned, lua", true, true, false, [](const HyprLink& l) { return HyprSetPinned(l, false); }, true,
       {"j/clients"}},
      {"square, classic", false, false, false, [](const HyprLink& l) { return HyprSetRounded(l, false); }, true,
       {"j/clients", "dispatch setprop " + kSel + " rounding 0"}},
      {"rounded, classic", false, false, false, [](const HyprLink& l) { return HyprSetRounded(l, true); }, true,
       {"j/clients", "dispatch setprop " + kSel + " rounding unset"}},
      {"square, lua", true, false, false, [](const HyprLink& l) { return HyprSetRounded(l, false); }, true,
       {"j/clients",
        Lua("hl.dsp.window.set_prop({ prop = \"rounding\", value = \"0\", window = \"" + kSel + "\" })")}},
      {"rounded, lua", true, true, false, [](const HyprLink& l) { return HyprSetRounded(l, true); }, true,
       {"j/clients",
        Lua("hl.dsp.window.set_prop({ prop = \"rounding\", value = \"unset\", window = \"" + kSel + "\" })")}},
  };
  for (const Case& c : cases) {
    OwnWindowCompositor hypr;
    hypr.floating = c.floating;
    hypr.pinned = c.pinned;
    EXPECT_EQ(c.command(hypr.Link(c.lua)), c.result) << c.name;
    EXPECT_EQ(hypr.fake.Requests(), c.sent) << c.name;
  }
}

TEST(HyprCommands, FailuresOfTheCompositor) {
  struct Case {
    const char* name;
    const char* refuse;
    std::function<bool(const HyprLink&)> command;
    Requests sent;
  };
  const Case cases[] = {
      {"move stops when floating fails", "setfloating",
       [](const HyprLink& l) { return HyprMoveFrame(l, 1, 2); }, {"j/clients", "dispatch setfloating " + kSel}},
      {"pin stops when floating fails", "setfloating", [](const HyprLink& l) { return HyprSetPinned(l, true); },
       {"j/clients", "dispatch setfloating " + kSel}},
      {"move refused", "movewindowpixel", [](const HyprLink& l) { return HyprMoveFrame(l, 1, 2); },
       {"j/clients", "dispatch setfloating " + kSel, "dispatch movewindowpixel exact 1 2," + kSel}},
      {"no window list", "j/clients", [](const HyprLink& l) { return HyprMoveFrame(l, 1, 2); }, {"j/clients"}},
      {"rounding without a window list", "j/clients", [](const HyprLink& l) { return HyprSetRounded(l, true); },
       {"j/clients"}},
  };
  for (const Case& c : cases) {
    OwnWindowCompositor hypr;
    hypr.refuse = c.refuse;
    EXPECT_FALSE(c.command(hypr.Link(false))) << c.name;
    EXPECT_EQ(hypr.fake.Requests(), c.sent) << c.name;
  }
  // A window of another process is not ours to move.
  FakeHyprland other;
  other.SetReply("j/clients", "[" + HyprFixture("hyprland-clients-0.55.2-grouped-window.json") + "]");
  EXPECT_FALSE(HyprMoveFrame(HyprLink{other.SocketPath(), false}, 1, 2));
  EXPECT_EQ(other.Requests(), Requests{"j/clients"});
}

TEST(HyprCommands, FrameAndMaximizedState) {
  OwnWindowCompositor hypr;
  hypr.x = -1280, hypr.y = 0, hypr.w = 1280, hypr.h = 1024;
  int x = 0, y = 0, w = 0, h = 0;
  ASSERT_TRUE(HyprGetFrame(hypr.Link(false), x, y, w, h));
  EXPECT_EQ(std::vector<int>({x, y, w, h}), std::vector<int>({-1280, 0, 1280, 1024}));

  // "fullscreen" is Hyprland's mode: 1 is maximized, 2 fullscreen.
  for (int mode : {0, 1, 2, 3}) {
    FakeHyprland fake;
    std::string c = HyprFixture("hyprland-clients-0.55.2-grouped-window.json");
    c = HyprWithField(HyprWithField(c, "pid", std::to_string(getpid())), "fullscreen", std::to_string(mode));
    fake.SetReply("j/clients", "[" + c + "]");
    bool maximized = mode != 1;
    ASSERT_TRUE(HyprIsMaximized(HyprLink{fake.SocketPath(), true}, maximized)) << mode;
    EXPECT_EQ(maximized, mode == 1) << mode;
  }
  FakeHyprland empty;
  empty.SetReply("j/clients", "[]");
  bool maximized = true;
  EXPECT_FALSE(HyprIsMaximized(HyprLink{empty.SocketPath(), false}, maximized));
  EXPECT_FALSE(HyprGetFrame(HyprLink{empty.SocketPath(), false}, x, y, w, h));
  EXPECT_EQ(x, -1280);  // untouched
}

TEST(HyprCommands, PrepareWindowFloatsSizesAndPlaces) {
  const std::string floatClassic = "dispatch setfloating " + kSel;
  struct Case {
    const char* name;
    bool lua;
    bool floating;
    int w, h, x, y;
    Requests sent;
    int endX, endY, endW, endH;
  };
  const Case cases[] = {
      {"tiled: float, size, place", false, false, 800, 600, 100, 50,
       {"j/clients", floatClassic, "j/clients", "dispatch resizewindowpixel exact 800 600," + kSel, "j/clients",
        "dispatch movewindowpixel exact 100 50," + kSel},
       100, 50, 800, 600},
      {"tiled, lua", true, false, 800, 600, 100, 50,
       {"j/clients", Lua("hl.dsp.window.float({ action = \"enable\", window = \"" + kSel + "\" })"), "j/clients",
        Lua("hl.dsp.window.resize({ x = 800, y = 600, window = \"" + kSel + "\" })"), "j/clients",
        Lua("hl.dsp.window.move({ x = 100, y = 50, window = \"" + kSel + "\" })")},
       100, 50, 800, 600},
      {"floating already: keeps its size", false, true, 800, 600, 100, 50,
       {"j/clients", "j/clients", "dispatch movewindowpixel exact 100 50," + kSel}, 100, 50, 2518, 657},
      {"no position", false, false, 800, 600, INT_MIN, INT_MIN,
       {"j/clients", floatClassic, "j/clients", "dispatch resizewindowpixel exact 800 600," + kSel}, 2581, 2172,
       800, 600},
      {"only x is no position", false, false, 800, 600, 5, INT_MIN,
       {"j/clients", floatClassic, "j/clients", "dispatch resizewindowpixel exact 800 600," + kSel}, 2581, 2172,
       800, 600},
      {"no size", false, false, 0, 600, 10, 20,
       {"j/clients", floatClassic, "j/clients", "dispatch movewindowpixel exact 10 20," + kSel}, 10, 20, 2518, 657},
  };
  for (const Case& c : cases) {
    OwnWindowCompositor hypr;
    hypr.floating = c.floating;
    HyprPrepareWindow(hypr.Link(c.lua), c.w, c.h, c.x, c.y);
    EXPECT_EQ(hypr.fake.Requests(), c.sent) << c.name;
    EXPECT_TRUE(hypr.floating) << c.name;
    EXPECT_EQ(std::vector<int>({hypr.x, hypr.y, hypr.w, hypr.h}), std::vector<int>({c.endX, c.endY, c.endW, c.endH}))
        << c.name;
  }
  OwnWindowCompositor refusing;
  refusing.refuse = "setfloating";
  HyprPrepareWindow(refusing.Link(false), 800, 600, 1, 2);
  EXPECT_EQ(refusing.fake.Requests(), (Requests{"j/clients", floatClassic}));
}

// ---- the backend choice, in a fresh process each --------------------------

namespace {

// Environment of a Wayland session without X11; wayland false also clears
// WAYLAND_DISPLAY.
void WaylandSession(bool wayland) {
  unsetenv("DISPLAY");
  unsetenv("PMR_POINTER_BACKEND");
  unsetenv("XDG_CURRENT_DESKTOP");
  unsetenv("XDG_SESSION_TYPE");
  if (wayland)
    setenv("WAYLAND_DISPLAY", "wayland-pmr-test-none", 1);
  else
    unsetenv("WAYLAND_DISPLAY");
}

std::string VersionReply(const char* tag) {
  return HyprWithField(HyprFixture("hyprland-version-0.44.0.json"), "tag", std::string("\"") + tag + "\"");
}

}  // namespace

TEST(HyprBackend, ChosenWhenTheSocketExists) {
  struct Case {
    const char* tag;
    bool lua;
  };
  for (const Case& c : {Case{"v0.55.2", false}, Case{"v0.56.0", true}, Case{"v1.0", true}}) {
    OwnWindowCompositor hypr;
    hypr.fake.SetReply("j/version", VersionReply(c.tag));
    hypr.fake.SetReply("cursorpos", "1011, 533");
    int rc = RunInChild([&] {
      WaylandSession(true);
      hypr.fake.ExportEnvironment();
      LinuxPointerInit();
      if (LinuxPointerBackend() != PointerBackend::kHyprland) return 10;
      LinuxPointerInit();  // later calls do nothing
      double x = 0, y = 0;
      bool left = true;
      if (!LinuxPointerPosition(x, y) || x != 1011 || y != 533) return 11;
      if (LinuxPointerState(x, y, left)) return 12;  // no button state from Hyprland
      if (LinuxWindowPidAt(2600, 2200) != static_cast<int>(getpid())) return 13;
      if (LinuxWindowPidAt(10, 10) != 0) return 14;
      if (!LinuxShellSetAbove(true)) return 15;
      if (!LinuxShellSetRounded(false)) return 16;
      bool maximized = true;
      if (!LinuxShellIsMaximized(maximized) || maximized) return 17;
      return 0;
    });
    EXPECT_EQ(rc, 0) << c.tag;
    std::string pin = c.lua ? Lua("hl.dsp.window.pin({ action = \"enable\", window = \"" + kSel + "\" })")
                            : "dispatch pin " + kSel;
    std::string flt = c.lua ? Lua("hl.dsp.window.float({ action = \"enable\", window = \"" + kSel + "\" })")
                            : "dispatch setfloating " + kSel;
    std::string round =
        c.lua ? Lua("hl.dsp.window.set_prop({ prop = \"rounding\", value = \"0\", window = \"" + kSel + "\" })")
              : "dispatch setprop " + kSel + " rounding 0";
    Requests expected = {"j/version"};
    if (c.lua) expected.push_back(kHyprWindowRule);
    for (const std::string& r : Requests{"cursorpos", "j/clients", "j/clients", "j/clients", flt, pin, "j/clients",
                                         round, "j/clients"})
      expected.push_back(r);
    EXPECT_EQ(hypr.fake.Requests(), expected) << c.tag;
  }
  EXPECT_EQ(std::string(kHyprWindowRule),
            "eval hl.window_rule({ name = \"pellomar\", match = { class = \"^pellomar-(pro|free|beta)$\" }, "
            "float = true })");
}

TEST(HyprBackend, PrepareWindowThroughTheBackend) {
  OwnWindowCompositor hypr;
  hypr.fake.SetReply("j/version", VersionReply("v0.55.2"));
  int rc = RunInChild([&] {
    WaylandSession(true);
    hypr.fake.ExportEnvironment();
    // Prepares without an explicit initialisation first.
    LinuxShellPrepareWindow(640, 480, -10, 20);
    if (LinuxPointerBackend() != PointerBackend::kHyprland) return 10;
    int x = 0, y = 0, w = 0, h = 0;
    if (!LinuxShellGetFrame(x, y, w, h) || x != -10 || y != 20 || w != 640 || h != 480) return 11;
    if (!LinuxShellResizeFrame(300, 200) || !LinuxShellMoveFrame(7, 8)) return 12;
    return 0;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(hypr.fake.Requests(),
            (Requests{"j/version", "j/clients", "dispatch setfloating " + kSel, "j/clients",
                      "dispatch resizewindowpixel exact 640 480," + kSel, "j/clients",
                      "dispatch movewindowpixel exact -10 20," + kSel, "j/clients", "j/clients",
                      "dispatch resizewindowpixel exact 300 200," + kSel, "j/clients",
                      "dispatch movewindowpixel exact 7 8," + kSel}));
}

TEST(HyprBackend, NotChosen) {
  struct Case {
    const char* name;
    bool wayland;
    std::function<void(const FakeHyprland&)> env;
  };
  const Case cases[] = {
      {"signature with a slash", true,
       [](const FakeHyprland& f) {
         f.ExportEnvironment();
         setenv("HYPRLAND_INSTANCE_SIGNATURE", ("../hypr/" + f.Signature()).c_str(), 1);
       }},
      {"signature with a slash, no Wayland", false,
       [](const FakeHyprland& f) {
         f.ExportEnvironment();
         setenv("HYPRLAND_INSTANCE_SIGNATURE", ("x/" + f.Signature()).c_str(), 1);
       }},
      {"portal forced", true,
       [](const FakeHyprland& f) {
         f.ExportEnvironment();
         setenv("PMR_POINTER_BACKEND", "portal", 1);
       }},
      {"portal forced, no Wayland", false,
       [](const FakeHyprland& f) {
         f.ExportEnvironment();
         setenv("PMR_POINTER_BACKEND", "portal", 1);
       }},
      {"no signature", true, [](const FakeHyprland& f) { setenv("XDG_RUNTIME_DIR", f.RuntimeDir().c_str(), 1); }},
      // (A GNOME session picks the GNOME helper backend whether or not the
      // helper runs: tests/e2e/gnome.)
      {"a KDE session falls through", true,
       [](const FakeHyprland& f) {
         setenv("XDG_RUNTIME_DIR", f.RuntimeDir().c_str(), 1);
         setenv("XDG_CURRENT_DESKTOP", "KDE", 1);
         setenv("XDG_SESSION_TYPE", "wayland", 1);
       }},
  };
  for (const Case& c : cases) {
    FakeHyprland fake;
    int rc = RunInChild([&] {
      WaylandSession(c.wayland);
      unsetenv("HYPRLAND_INSTANCE_SIGNATURE");
      c.env(fake);
      LinuxPointerInit();
      double x = 0, y = 0;
      int fx, fy, fw, fh;
      bool maximized = false;
      if (LinuxPointerPosition(x, y) || LinuxWindowPidAt(1, 1) != 0 || LinuxShellGetFrame(fx, fy, fw, fh) ||
          LinuxShellMoveFrame(1, 1) || LinuxShellSetAbove(true) || LinuxShellSetRounded(true) ||
          LinuxShellResizeFrame(1, 1) || LinuxShellIsMaximized(maximized))
        return 20;
      LinuxShellPrepareWindow(10, 10, 0, 0);
      return static_cast<int>(LinuxPointerBackend());
    });
    EXPECT_EQ(rc, static_cast<int>(PointerBackend::kNone)) << c.name;
    EXPECT_TRUE(fake.Requests().empty()) << c.name;
  }
}

TEST(LayoutBox, NoneWithoutMonitors) {
  int rc = RunInChild([] {
    WaylandSession(false);
    unsetenv("HYPRLAND_INSTANCE_SIGNATURE");
    LinuxPointerInit();
    int x = 5, y = 6, w = 7, h = 8;
    if (LinuxLayoutBox(x, y, w, h)) return 1;
    return x == 5 && y == 6 && w == 7 && h == 8 ? 0 : 2;
  });
  EXPECT_EQ(rc, 0);
}
