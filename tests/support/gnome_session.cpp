#include "tests/support/gnome_session.h"

#include <unistd.h>

#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/linux/shell/session_bus.h"
#include "tests/support/process.h"

namespace pmrtest {

namespace {

constexpr const char* kRemoteDesktopBus = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* kSessionIface = "org.gnome.Mutter.RemoteDesktop.Session";
constexpr int kLinuxBtnLeft = 0x110;

}  // namespace

bool InGnomeSession() {
  const char* ctl = std::getenv("PMR_GNOME_CTL");
  return ctl && *ctl;
}

bool GnomeControl(const std::string& what) {
  const char* ctl = std::getenv("PMR_GNOME_CTL");
  if (!ctl || !*ctl) return false;
  return Run({ctl, "ctl", what}, nullptr, {}, 90) == 0;
}

GDBusConnection* TestSessionBus() { return LinuxNewSessionConnection(); }

bool GnomeEval(const std::string& script, std::string* result) {
  GDBusConnection* bus = TestSessionBus();
  if (!bus) return false;
  GVariant* reply = g_dbus_connection_call_sync(bus, "org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell", "Eval",
                                                g_variant_new("(s)", script.c_str()), G_VARIANT_TYPE("(bs)"),
                                                G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  g_object_unref(bus);
  if (!reply) return false;
  gboolean ok = FALSE;
  const gchar* text = nullptr;
  g_variant_get(reply, "(b&s)", &ok, &text);
  if (result) *result = text ? text : "";
  g_variant_unref(reply);
  return ok;
}

bool GnomeExtensionActive(const std::string& uuid) {
  std::string out;
  // ExtensionState.ENABLED is 1.
  return GnomeEval("Main.extensionManager.lookup('" + uuid + "')?.state === 1", &out) && out == "true";
}

bool GnomeWindowOfPidMapped(int pid) {
  std::string out;
  return GnomeEval("global.display.list_all_windows().some(w => w.get_pid() === " + std::to_string(pid) +
                       " && w.get_compositor_private()?.mapped === true)",
                   &out) &&
         out == "true";
}

GnomeRemotePointer::GnomeRemotePointer() {
  bus_ = TestSessionBus();
  if (!bus_) {
    error_ = "no session bus";
    return;
  }
  GError* err = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(bus_, kRemoteDesktopBus, "/org/gnome/Mutter/RemoteDesktop",
                                                "org.gnome.Mutter.RemoteDesktop", "CreateSession", nullptr,
                                                G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &err);
  if (!reply) {
    error_ = err ? err->message : "CreateSession failed";
    g_clear_error(&err);
    return;
  }
  const gchar* path = nullptr;
  g_variant_get(reply, "(&o)", &path);
  std::string session = path;
  g_variant_unref(reply);
  session_ = session;
  if (!Call("Start", nullptr)) session_.clear();
}

GnomeRemotePointer::~GnomeRemotePointer() {
  if (!session_.empty()) {
    if (leftHeld_) LeftButton(false);
    Call("Stop", nullptr);
  }
  if (bus_) g_object_unref(bus_);
}

bool GnomeRemotePointer::Call(const char* method, GVariant* args) {
  if (session_.empty()) {
    if (args) g_variant_unref(g_variant_ref_sink(args));
    return false;
  }
  GError* err = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(bus_, kRemoteDesktopBus, session_.c_str(), kSessionIface, method, args,
                                                nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &err);
  if (!reply) {
    error_ = std::string(method) + ": " + (err ? err->message : "failed");
    g_clear_error(&err);
    return false;
  }
  g_variant_unref(reply);
  return true;
}

bool GnomeRemotePointer::MoveBy(double dx, double dy) {
  return Call("NotifyPointerMotionRelative", g_variant_new("(dd)", dx, dy));
}

bool GnomeRemotePointer::MoveTo(double x, double y) {
  std::string at;
  if (!GnomeEval("global.get_pointer().slice(0, 2).join(' ')", &at)) {
    error_ = "pointer position unknown: " + at;
    return false;
  }
  double cx = 0, cy = 0;
  if (std::sscanf(at.c_str(), "\"%lf %lf\"", &cx, &cy) != 2) {
    error_ = "pointer position unreadable: " + at;
    return false;
  }
  return MoveBy(x - cx, y - cy);
}

bool GnomeRemotePointer::Key(unsigned keysym) {
  return Call("NotifyKeyboardKeysym", g_variant_new("(ub)", keysym, TRUE)) &&
         Call("NotifyKeyboardKeysym", g_variant_new("(ub)", keysym, FALSE));
}

bool GnomeRemotePointer::LeftButton(bool down) {
  if (!Call("NotifyPointerButton", g_variant_new("(ib)", kLinuxBtnLeft, down ? TRUE : FALSE))) return false;
  leftHeld_ = down;
  return true;
}

namespace {

// The dialog's frame "x y w h", or "" when it is not open.
std::string ScreenShareDialogFrame() {
  std::string out;
  if (!GnomeEval("(global.display.list_all_windows().filter(w => w.get_wm_class() === 'xdg-desktop-portal-gnome' && "
                 "w.get_title() === 'Screen Share' && w.get_compositor_private()?.mapped)"
                 ".map(w => { const r = w.get_frame_rect(); "
                 "return [r.x, r.y, r.width, r.height].join(' '); })[0]) || ''",
                 &out))
    return "";
  if (out.size() >= 2 && out.front() == '"') out = out.substr(1, out.size() - 2);
  return out;
}

}  // namespace

bool GnomeScreenShareDialogOpen() { return !ScreenShareDialogFrame().empty(); }

}  // namespace pmrtest
