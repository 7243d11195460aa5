// Whether the desktop session can be used: logind's session (active, not
// locked) and the screensavers of the session bus. The input layer hears of
// every change; the session-locked callback runs once per move to unusable.
#include <gio/gio.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/linux/gtk/gtk_internal.h"
#include "platform/os_input.h"

namespace pmrgtk {

SessionWatch g_Session;
void (*g_ReportSessionUsable)(bool usable) = LinuxInputSetSessionUsable;

namespace {

constexpr const char* kLogin1 = "org.freedesktop.login1";
constexpr int kCallTimeoutMs = 2000;

struct Subscription {
  GDBusConnection* connection;
  guint id;
};
std::vector<Subscription> g_Subscriptions;

std::string SessionPathFromLogind(GDBusConnection* bus) {
  std::string path;
  GVariant* reply = g_dbus_connection_call_sync(
      bus, kLogin1, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "GetSessionByPID",
      g_variant_new("(u)", static_cast<guint32>(getpid())), G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE,
      kCallTimeoutMs, nullptr, nullptr);
  if (reply) {
    const gchar* object = nullptr;
    g_variant_get(reply, "(&o)", &object);
    path = object ? object : "";
    g_variant_unref(reply);
    return path;
  }
  // Not a process of a session (started by the user manager, say): the
  // user's display session stands in.
  reply = g_dbus_connection_call_sync(bus, kLogin1, "/org/freedesktop/login1/user/self",
                                      "org.freedesktop.DBus.Properties", "Get",
                                      g_variant_new("(ss)", "org.freedesktop.login1.User", "Display"),
                                      G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, nullptr);
  if (!reply) return path;
  GVariant* value = nullptr;
  g_variant_get(reply, "(v)", &value);
  if (value && g_variant_is_of_type(value, G_VARIANT_TYPE("(so)"))) {
    const gchar* object = nullptr;
    g_variant_get(value, "(&s&o)", nullptr, &object);
    if (object && std::string(object) != "/") path = object;
  }
  if (value) g_variant_unref(value);
  g_variant_unref(reply);
  return path;
}

void ReadSessionProperties() {
  if (!g_Session.system || g_Session.sessionPath.empty()) return;
  GVariant* reply = g_dbus_connection_call_sync(
      g_Session.system, kLogin1, g_Session.sessionPath.c_str(), "org.freedesktop.DBus.Properties", "GetAll",
      g_variant_new("(s)", "org.freedesktop.login1.Session"), G_VARIANT_TYPE("(a{sv})"), G_DBUS_CALL_FLAGS_NONE,
      kCallTimeoutMs, nullptr, nullptr);
  if (!reply) return;
  GVariant* props = g_variant_get_child_value(reply, 0);
  gboolean value = FALSE;
  if (g_variant_lookup(props, "Active", "b", &value)) g_Session.active = value;
  if (g_variant_lookup(props, "LockedHint", "b", &value)) g_Session.locked = value;
  g_variant_unref(props);
  g_variant_unref(reply);
  ReevaluateSessionUsable();
}

void OnSessionSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* member, GVariant*,
                     gpointer) {
  if (g_strcmp0(member, "Lock") == 0) {
    g_Session.locked = true;
    ReevaluateSessionUsable();
  } else {
    ReadSessionProperties();
  }
}

void OnScreensaverSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GVariant* parameters, gpointer) {
  if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)"))) return;
  gboolean active = FALSE;
  g_variant_get(parameters, "(b)", &active);
  g_Session.screensaverActive = active;
  ReevaluateSessionUsable();
}

}  // namespace

void ReevaluateSessionUsable() {
  const bool usable = g_Session.active && !g_Session.locked && !g_Session.screensaverActive;
  if (g_Session.usable && !usable) {
    g_Session.usable = false;
    g_ReportSessionUsable(false);
    if (g_Hooks.sessionLocked) g_Hooks.sessionLocked();
  } else if (!g_Session.usable && usable) {
    g_Session.usable = true;
    g_ReportSessionUsable(true);
  }
}

void StartSessionWatch(GDBusConnection* system, GDBusConnection* session) {
  if (system) {
    std::string path = SessionPathFromLogind(system);
    if (!path.empty()) {
      g_Session.system = G_DBUS_CONNECTION(g_object_ref(system));
      g_Session.sessionPath = path;
      guint id = g_dbus_connection_signal_subscribe(system, kLogin1, nullptr, nullptr, path.c_str(), nullptr,
                                                    G_DBUS_SIGNAL_FLAGS_NONE, OnSessionSignal, nullptr, nullptr);
      g_Subscriptions.push_back({G_DBUS_CONNECTION(g_object_ref(system)), id});
      ReadSessionProperties();
    }
  }
  if (session) {
    for (const char* iface : {"org.freedesktop.ScreenSaver", "org.gnome.ScreenSaver", "org.cinnamon.ScreenSaver",
                              "org.mate.ScreenSaver"}) {
      guint id = g_dbus_connection_signal_subscribe(session, nullptr, iface, "ActiveChanged", nullptr, nullptr,
                                                    G_DBUS_SIGNAL_FLAGS_NONE, OnScreensaverSignal, nullptr, nullptr);
      g_Subscriptions.push_back({G_DBUS_CONNECTION(g_object_ref(session)), id});
    }
  }
}

void ResetSessionWatchForTest() {
  for (const Subscription& s : g_Subscriptions) {
    g_dbus_connection_signal_unsubscribe(s.connection, s.id);
    g_object_unref(s.connection);
  }
  g_Subscriptions.clear();
  if (g_Session.system) g_object_unref(g_Session.system);
  g_Session = SessionWatch{};
}

}  // namespace pmrgtk
