// The tray icon on a real tray host: waybar's tray on a headless sway, on a
// private session bus, with the real program under the simulated input
// subsystem. The item appears with the watcher, its icon follows the auto
// clicker started and stopped by hotkey, its menu starts the clicker
// (com.canonical.dbusmenu Event, as the host sends it on a click), and with
// "keep running in the tray" closing the window hides it while a tray shows
// the item, and quits once no tray does.
#include <gtest/gtest.h>  // before Xlib, whose macros clash with it
#include <linux/input-event-codes.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <thread>

#include "tests/sim/sim_control.h"
#include "tests/support/fake_login1.h"
#include "tests/support/process.h"
#include "tests/support/sway_session.h"
#include "tests/support/tray_host.h"
// Last: Xlib's macros (None) clash with the simulation's names.
#include <X11/Xlib.h>
#include "tests/support/x11_session.h"

namespace {

bool WaitUntil(const std::function<bool()>& cond, int ms) { return pmrtest::X11Session::WaitFor(cond, ms); }

std::string RunOn(const std::vector<std::string>& argv, const std::string& bus, int* status = nullptr) {
  std::string out;
  int rc = pmrtest::Run(argv, &out, {"DBUS_SESSION_BUS_ADDRESS=" + bus}, 30);
  if (status) *status = rc;
  return out;
}

// The program's visible top-level windows.
std::string VisibleWindow() {
  std::string out;
  pmrtest::Run({"xdotool", "search", "--onlyvisible", "--name", "^Pellomar \\(Free"}, &out, {}, 10);
  std::smatch m;
  return std::regex_search(out, m, std::regex("(^|\n)([0-9]+)\n")) ? std::string(m[2]) : std::string();
}

// Asks a window to close as a window manager's close button does. The id may
// name a window the program has dropped since it was looked up: the error that
// brings is ignored (Xlib's default handler would end the test), and callers
// ask again until the window is gone.
void RequestClose(const std::string& id) {
  Display* dpy = XOpenDisplay(nullptr);
  ASSERT_NE(dpy, nullptr);
  {
    pmrtest::XErrorsIgnored ignored(dpy);
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = std::stoul(id);
    ev.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(dpy, ev.xclient.window, False, NoEventMask, &ev);
  }
  XCloseDisplay(dpy);
}

TEST(Tray, ItemFollowsStateObeysItsMenuAndKeepsTheProgramWhenClosed) {
  pmrtest::PrivateBus bus;
  ASSERT_TRUE(bus.Start("tray"));
  pmrtest::SwaySession sway;
  ASSERT_TRUE(sway.Start()) << "headless sway";
  pmrtest::WaybarTray tray;
  ASSERT_TRUE(tray.Start(sway, bus.Address())) << "waybar with its tray registers as the host";
  const std::string addr = bus.Address();

  pmrsim::SimProgram prog;
  pmrsim::SimProgram::Options o;
  o.env = {{"DBUS_SESSION_BUS_ADDRESS", addr},
           {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/system-bus"},
           {"NO_AT_BRIDGE", "1"}};
  ASSERT_TRUE(prog.Start(o));
  // Keep running in the tray, as the settings switch stores it.
  mkdir((prog.home() + "/.local").c_str(), 0700);
  mkdir((prog.home() + "/.local/share").c_str(), 0700);
  mkdir(prog.dataDir().c_str(), 0700);
  { std::ofstream(prog.dataDir() + "/appsettings.txt") << "keepInTray=1\n"; }
  pmrsim::SimControl& sim = prog.control();
  const std::string kbd = sim.AddKeyboard("usb-sim-kbd/input0");
  ASSERT_TRUE(sim.Go());

  // The item is registered with the host's watcher.
  std::string items;
  ASSERT_TRUE(WaitUntil(
      [&] {
        items = pmrtest::BusProperty(addr, "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                                     "org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems");
        return items.find("/org/ayatana/NotificationItem/") != std::string::npos;
      },
      90000))
      << items << prog.Stderr();
  std::smatch m;
  ASSERT_TRUE(std::regex_search(items, m, std::regex("'(:[0-9.]+)(/[^']+)'"))) << items;
  const std::string service = m[1], path = m[2];
  auto icon = [&] {
    return pmrtest::BusProperty(addr, service, path, "org.kde.StatusNotifierItem", "IconName");
  };
  EXPECT_TRUE(WaitUntil([&] { return icon() == "<'pellomar-tray-idle'>"; }, 20000)) << icon();
  EXPECT_NE(pmrtest::BusProperty(addr, service, path, "org.kde.StatusNotifierItem", "Id").find("app.pellomar.free"),
            std::string::npos);

  // F6 starts and stops the clicker; the icon follows.
  ASSERT_TRUE(sim.WaitNodes(
      [&](auto& nodes) {
        for (auto& n : nodes)
          if (n.node == kbd && n.exists && n.grabChecked) return true;
        return false;
      },
      60000));
  sim.Tap(kbd, KEY_F6);
  EXPECT_TRUE(WaitUntil([&] { return icon() == "<'pellomar-tray-clicking'>"; }, 20000)) << icon();
  sim.Tap(kbd, KEY_F6);
  EXPECT_TRUE(WaitUntil([&] { return icon() == "<'pellomar-tray-idle'>"; }, 20000)) << icon();

  // The menu entry "Auto clicker", clicked as the host reports a click.
  std::string menuPath = pmrtest::BusProperty(addr, service, path, "org.kde.StatusNotifierItem", "Menu");
  ASSERT_TRUE(std::regex_search(menuPath, m, std::regex("objectpath '([^']+)'"))) << menuPath;
  menuPath = m[1];
  const std::string layout = RunOn({"gdbus", "call", "--session", "--dest", service, "--object-path", menuPath,
                                  "--method", "com.canonical.dbusmenu.GetLayout", "--", "0", "-1", "[]"},
                                 addr);
  ASSERT_TRUE(std::regex_search(layout, m, std::regex("<\\(([0-9]+), \\{[^}]*'label': <'Auto clicker'>"))) << layout;
  const std::string id = m[1];
  int rc = -1;
  RunOn({"gdbus", "call", "--session", "--dest", service, "--object-path", menuPath, "--method",
       "com.canonical.dbusmenu.Event", id, "clicked", "<0>", "0"},
      addr, &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_TRUE(WaitUntil([&] { return icon() == "<'pellomar-tray-clicking'>"; }, 20000)) << icon();
  std::string status;
  EXPECT_TRUE(WaitUntil([&] {
    status = RunOn({pmrtest::ProgramPath(), "--status"}, addr);
    return status.find("\"clicker\":true") != std::string::npos;
  }, 20000)) << status;
  RunOn({pmrtest::ProgramPath(), "--stop-all"}, addr);
  EXPECT_TRUE(WaitUntil([&] { return icon() == "<'pellomar-tray-idle'>"; }, 20000)) << icon();

  // Closing the window keeps the program in the tray; the item brings it back.
  std::string window;
  ASSERT_TRUE(WaitUntil([&] { return !(window = VisibleWindow()).empty(); }, 30000));
  EXPECT_TRUE(WaitUntil(
      [&] {
        std::string w = VisibleWindow();
        if (w.empty()) return true;
        RequestClose(w);
        return false;
      },
      20000));
  EXPECT_TRUE(prog.Running());
  RunOn({pmrtest::ProgramPath(), "--status"}, addr, &rc);
  EXPECT_EQ(rc, 0);
  RunOn({"gdbus", "call", "--session", "--dest", "app.pellomar.free", "--object-path", "/app/pellomar/free",
       "--method", "org.freedesktop.Application.ActivateAction", "show-window", "[]", "{}"},
      addr, &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_TRUE(WaitUntil([&] { return !(window = VisibleWindow()).empty(); }, 20000));

  // Once no tray shows the item, closing quits.
  tray.Stop();
  EXPECT_TRUE(WaitUntil(
      [&] {
        return pmrtest::BusProperty(addr, "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                                    "org.kde.StatusNotifierWatcher", "IsStatusNotifierHostRegistered")
            .empty();
      },
      20000));
  // The program hears of it on its own bus connection; a close asked for
  // before that would still hide the window, so close until it ends.
  EXPECT_TRUE(WaitUntil(
      [&] {
        std::string w = VisibleWindow();
        if (!w.empty()) RequestClose(w);
        return !prog.Running();
      },
      30000));
  EXPECT_EQ(prog.Stop(), 0);
}

}  // namespace
