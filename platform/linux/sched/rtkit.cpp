#include "platform/linux/sched/rtkit.h"

#include <gio/gio.h>

#include <cstdlib>
#include <string>

namespace {

constexpr const char* kName = "org.freedesktop.RealtimeKit1";
constexpr const char* kPath = "/org/freedesktop/RealtimeKit1";
constexpr int kCallTimeoutMs = 2000;

// A connection of our own for each request: the requests are few (one per
// time-critical thread), and a shared system bus connection would tie this to
// whatever bus the process first opened.
GDBusConnection* Connect() {
  const char* env = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
  const std::string address = env && env[0] ? env : "unix:path=/run/dbus/system_bus_socket";
  GError* error = nullptr;
  GDBusConnection* c = g_dbus_connection_new_for_address_sync(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  if (error) g_error_free(error);
  return c;
}

GVariant* Call(GDBusConnection* c, const char* iface, const char* method, GVariant* args, const char* replyType) {
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(c, kName, kPath, iface, method, args,
                                                replyType ? G_VARIANT_TYPE(replyType) : nullptr,
                                                G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallTimeoutMs, nullptr, &error);
  if (error) g_error_free(error);
  return reply;
}

bool ReadProperty(GDBusConnection* c, const char* name, int64_t& out) {
  GVariant* reply = Call(c, "org.freedesktop.DBus.Properties", "Get", g_variant_new("(ss)", "org.freedesktop.RealtimeKit1", name),
                         "(v)");
  if (!reply) return false;
  GVariant* inner = nullptr;
  g_variant_get(reply, "(v)", &inner);
  bool ok = true;
  if (g_variant_is_of_type(inner, G_VARIANT_TYPE_INT32))
    out = g_variant_get_int32(inner);
  else if (g_variant_is_of_type(inner, G_VARIANT_TYPE_INT64))
    out = g_variant_get_int64(inner);
  else
    ok = false;
  g_variant_unref(inner);
  g_variant_unref(reply);
  return ok;
}

bool Request(const char* method, GVariant* args) {
  GDBusConnection* c = Connect();
  if (!c) {
    g_variant_unref(g_variant_ref_sink(args));
    return false;
  }
  GVariant* reply = Call(c, kName, method, args, "()");
  const bool ok = reply != nullptr;
  if (reply) g_variant_unref(reply);
  g_object_unref(c);
  return ok;
}

}  // namespace

bool RtkitQueryLimits(RtkitLimits& out) {
  GDBusConnection* c = Connect();
  if (!c) return false;
  int64_t prio = 0, nice = 0, rttime = 0;
  const bool ok = ReadProperty(c, "MaxRealtimePriority", prio);
  if (ok) {
    ReadProperty(c, "MinNiceLevel", nice);
    ReadProperty(c, "RTTimeUSecMax", rttime);
    out.maxRealtimePriority = static_cast<int>(prio);
    out.minNiceLevel = static_cast<int>(nice);
    out.rtTimeUsecMax = rttime;
  }
  g_object_unref(c);
  return ok;
}

bool RtkitMakeThreadRealtime(pid_t tid, int priority) {
  return Request("MakeThreadRealtime", g_variant_new("(tu)", static_cast<guint64>(tid), static_cast<guint32>(priority)));
}

bool RtkitMakeThreadHighPriority(pid_t tid, int nice) {
  return Request("MakeThreadHighPriority", g_variant_new("(ti)", static_cast<guint64>(tid), static_cast<gint32>(nice)));
}
