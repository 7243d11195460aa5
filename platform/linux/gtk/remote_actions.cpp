// The program's actions on the session bus (org.freedesktop.Application and
// org.gtk.Actions under the application id) and the client the command line
// uses. Requests are answered on the main loop; each is served only after
// the bus daemon confirmed that the caller runs as this program's user.
#include <gio/gio.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <string>

#include "platform/linux/gtk/state_refresh.h"
#include "platform/os_remote.h"
#include "platform/os_window.h"

namespace {

constexpr const char* kNodeXml =
    "<node>"
    " <interface name='org.freedesktop.Application'>"
    "  <method name='Activate'><arg type='a{sv}' name='platform_data' direction='in'/></method>"
    "  <method name='Open'><arg type='as' name='uris' direction='in'/>"
    "   <arg type='a{sv}' name='platform_data' direction='in'/></method>"
    "  <method name='ActivateAction'><arg type='s' name='action_name' direction='in'/>"
    "   <arg type='av' name='parameter' direction='in'/><arg type='a{sv}' name='platform_data' direction='in'/></method>"
    " </interface>"
    " <interface name='org.gtk.Actions'>"
    "  <method name='List'><arg type='as' name='list' direction='out'/></method>"
    "  <method name='Describe'><arg type='s' name='action_name' direction='in'/>"
    "   <arg type='(bgav)' name='description' direction='out'/></method>"
    "  <method name='DescribeAll'><arg type='a{s(bgav)}' name='descriptions' direction='out'/></method>"
    "  <method name='Activate'><arg type='s' name='action_name' direction='in'/>"
    "   <arg type='av' name='parameter' direction='in'/><arg type='a{sv}' name='platform_data' direction='in'/></method>"
    "  <method name='SetState'><arg type='s' name='action_name' direction='in'/>"
    "   <arg type='v' name='value' direction='in'/><arg type='a{sv}' name='platform_data' direction='in'/></method>"
    "  <signal name='Changed'><arg type='as' name='removals'/><arg type='a{sb}' name='enable_changes'/>"
    "   <arg type='a{sv}' name='state_changes'/><arg type='a{s(bgav)}' name='additions'/></signal>"
    " </interface>"
    "</node>";

constexpr int kClientTimeoutMs = 25000;

std::string ObjectPath(const std::string& id) {
  std::string path = "/";
  for (char c : id) path += c == '.' ? '/' : (c == '-' ? '_' : c);
  return path;
}

const char* TypeString(RemoteValue::Kind kind) {
  return kind == RemoteValue::kBool ? "b" : (kind == RemoteValue::kText ? "s" : "");
}

GVariant* ToVariant(const RemoteValue& v) {
  if (v.kind == RemoteValue::kBool) return g_variant_new_boolean(v.flag);
  return g_variant_new_string(v.text.c_str());
}

// The value inside `v` when it has the kind asked for.
bool FromVariant(GVariant* v, RemoteValue::Kind kind, RemoteValue& out) {
  if (kind == RemoteValue::kBool && g_variant_is_of_type(v, G_VARIANT_TYPE_BOOLEAN)) {
    out = RemoteValue::Bool(g_variant_get_boolean(v));
    return true;
  }
  if (kind == RemoteValue::kText && g_variant_is_of_type(v, G_VARIANT_TYPE_STRING)) {
    out = RemoteValue::Text(g_variant_get_string(v, nullptr));
    return true;
  }
  return false;
}

struct Server {
  RemoteHandlers handlers;
  GDBusConnection* bus = nullptr;
  GDBusNodeInfo* node = nullptr;
  std::string path;
  guint objectIds[2] = {0, 0};
  guint ownerId = 0;
  pmrgtk::StateRefresh refresh;
  std::map<std::string, RemoteValue> announced;  // the states last announced
};
Server* g_Server = nullptr;

const RemoteAction* FindAction(const std::string& name) {
  for (const RemoteAction& a : g_Server->handlers.actions)
    if (a.name == name) return &a;
  return nullptr;
}

// (bgav) of one action.
GVariant* Describe(const RemoteAction& a) {
  GVariantBuilder state;
  g_variant_builder_init(&state, G_VARIANT_TYPE("av"));
  if (a.state != RemoteValue::kNone && g_Server->handlers.state)
    g_variant_builder_add(&state, "v", ToVariant(g_Server->handlers.state(a.name)));
  return g_variant_new("(bg@av)", a.enabled, TypeString(a.parameter), g_variant_builder_end(&state));
}

void ReturnError(GDBusMethodInvocation* invocation, const char* name, const std::string& message) {
  g_dbus_method_invocation_return_dbus_error(invocation, name, message.c_str());
}

// Activate (from either interface): the action, its parameter array.
void ServeActivate(GDBusMethodInvocation* invocation, const std::string& name, GVariant* params) {
  const RemoteAction* a = FindAction(name);
  if (!a) return ReturnError(invocation, "org.freedesktop.DBus.Error.InvalidArgs", "Unknown action '" + name + "'.");
  if (!a->enabled)
    return ReturnError(invocation, "org.freedesktop.DBus.Error.InvalidArgs", "The action '" + name + "' cannot be activated.");
  RemoteValue parameter;
  const gsize n = g_variant_n_children(params);
  if (a->parameter == RemoteValue::kNone) {
    if (n != 0)
      return ReturnError(invocation, "org.freedesktop.DBus.Error.InvalidArgs",
                         "The action '" + name + "' takes no parameter.");
  } else {
    GVariant* boxed = n == 1 ? g_variant_get_child_value(params, 0) : nullptr;
    GVariant* inner = boxed ? g_variant_get_variant(boxed) : nullptr;
    const bool ok = inner && FromVariant(inner, a->parameter, parameter);
    if (inner) g_variant_unref(inner);
    if (boxed) g_variant_unref(boxed);
    if (!ok)
      return ReturnError(invocation, "org.freedesktop.DBus.Error.InvalidArgs",
                         std::string("The action '") + name + "' takes one parameter of type " +
                             TypeString(a->parameter) + ".");
  }
  const std::string refused = g_Server->handlers.activate(name, parameter);
  if (!refused.empty()) return ReturnError(invocation, "org.freedesktop.DBus.Error.Failed", refused);
  g_dbus_method_invocation_return_value(invocation, nullptr);
  OsRemoteRefresh();
}

void ServeSetState(GDBusMethodInvocation* invocation, const std::string& name, GVariant* value) {
  const RemoteAction* a = FindAction(name);
  if (!a) return ReturnError(invocation, "org.freedesktop.DBus.Error.InvalidArgs", "Unknown action '" + name + "'.");
  RemoteValue state;
  if (a->state == RemoteValue::kNone || !a->enabled || !FromVariant(value, a->state, state))
    return ReturnError(invocation, "org.freedesktop.DBus.Error.InvalidArgs",
                       "The state of '" + name + "' cannot be set to that value.");
  const std::string refused = g_Server->handlers.setState(name, state);
  if (!refused.empty()) return ReturnError(invocation, "org.freedesktop.DBus.Error.Failed", refused);
  g_dbus_method_invocation_return_value(invocation, nullptr);
  OsRemoteRefresh();
}

void Serve(GDBusMethodInvocation* invocation) {
  if (!g_Server) return ReturnError(invocation, "org.freedesktop.DBus.Error.Failed", "The program is stopping.");
  const std::string iface = g_dbus_method_invocation_get_interface_name(invocation);
  const std::string method = g_dbus_method_invocation_get_method_name(invocation);
  GVariant* args = g_dbus_method_invocation_get_parameters(invocation);
  if (iface == "org.freedesktop.Application") {
    if (method == "Activate") {
      if (g_Server->handlers.activateApp) g_Server->handlers.activateApp();
      g_dbus_method_invocation_return_value(invocation, nullptr);
    } else if (method == "ActivateAction") {
      const char* name = nullptr;
      GVariant* params = nullptr;
      g_variant_get(args, "(&s@av@a{sv})", &name, &params, nullptr);
      ServeActivate(invocation, name, params);
      g_variant_unref(params);
    } else {
      // Files reach the program only through its single-instance hand-over.
      ReturnError(invocation, "org.freedesktop.DBus.Error.NotSupported", "Files are not opened over the bus.");
    }
    return;
  }
  if (method == "List") {
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("as"));
    for (const RemoteAction& a : g_Server->handlers.actions) g_variant_builder_add(&b, "s", a.name.c_str());
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(as)", &b));
  } else if (method == "Describe") {
    const char* name = nullptr;
    g_variant_get(args, "(&s)", &name);
    const RemoteAction* a = FindAction(name);
    if (!a) return ReturnError(invocation, "org.freedesktop.DBus.Error.InvalidArgs", std::string("Unknown action '") + name + "'.");
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(@(bgav))", Describe(*a)));
  } else if (method == "DescribeAll") {
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{s(bgav)}"));
    for (const RemoteAction& a : g_Server->handlers.actions)
      g_variant_builder_add(&b, "{s@(bgav)}", a.name.c_str(), Describe(a));
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(a{s(bgav)})", &b));
  } else if (method == "Activate") {
    const char* name = nullptr;
    GVariant* params = nullptr;
    g_variant_get(args, "(&s@av@a{sv})", &name, &params, nullptr);
    ServeActivate(invocation, name, params);
    g_variant_unref(params);
  } else if (method == "SetState") {
    const char* name = nullptr;
    GVariant* value = nullptr;
    g_variant_get(args, "(&s@v@a{sv})", &name, &value, nullptr);
    GVariant* inner = g_variant_get_variant(value);
    ServeSetState(invocation, name, inner);
    g_variant_unref(inner);
    g_variant_unref(value);
  }
}

// The bus daemon's answer about the caller's user: serve the request only
// for this program's own user.
void OnCallerUser(GObject* source, GAsyncResult* result, gpointer data) {
  GDBusMethodInvocation* invocation = G_DBUS_METHOD_INVOCATION(data);
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
  guint32 uid = 0;
  bool same = false;
  if (reply) {
    g_variant_get(reply, "(u)", &uid);
    same = uid == static_cast<guint32>(getuid());
    g_variant_unref(reply);
  }
  if (error) g_error_free(error);
  if (same)
    Serve(invocation);
  else
    ReturnError(invocation, "org.freedesktop.DBus.Error.AccessDenied", "Only the program's own user may call it.");
  g_object_unref(invocation);
}

void OnMethodCall(GDBusConnection* bus, const gchar* sender, const gchar*, const gchar*, const gchar*, GVariant*,
                  GDBusMethodInvocation* invocation, gpointer) {
  if (!sender) {
    ReturnError(invocation, "org.freedesktop.DBus.Error.AccessDenied", "Only the program's own user may call it.");
    return;
  }
  g_object_ref(invocation);
  g_dbus_connection_call(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "GetConnectionUnixUser", g_variant_new("(s)", sender), G_VARIANT_TYPE("(u)"),
                         G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, OnCallerUser, invocation);
}

const GDBusInterfaceVTable kVTable = {OnMethodCall, nullptr, nullptr, {}};

void AnnounceChanges();

// ---- client ------------------------------------------------------------------

RemoteResult Call(const char* iface, const char* method, GVariant* args, const GVariantType* replyType,
                  GVariant** reply, std::string& message) {
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (!bus) {
    message = "There is no session bus to reach Pellomar on";
    if (error) {
      message += std::string(": ") + error->message;
      g_error_free(error);
    }
    message += ".";
    g_variant_unref(g_variant_ref_sink(args));
    return RemoteResult::kNotRunning;
  }
  const std::string id = OsBundleIdentifier();
  GVariant* r = g_dbus_connection_call_sync(bus, id.c_str(), ObjectPath(id).c_str(), iface, method, args, replyType,
                                            G_DBUS_CALL_FLAGS_NO_AUTO_START, kClientTimeoutMs, nullptr, &error);
  g_object_unref(bus);
  if (r) {
    if (reply)
      *reply = r;
    else
      g_variant_unref(r);
    return RemoteResult::kDone;
  }
  const bool absent = g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
                      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER);
  g_dbus_error_strip_remote_error(error);
  message = absent ? "Pellomar is not running." : error->message;
  g_error_free(error);
  return absent ? RemoteResult::kNotRunning : RemoteResult::kRefused;
}

GVariant* PlatformData() { return g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0); }

}  // namespace

bool OsRemoteStart(RemoteHandlers handlers) {
  if (g_Server) return true;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) return false;
  auto* s = new Server;
  s->handlers = std::move(handlers);
  s->bus = bus;
  s->node = g_dbus_node_info_new_for_xml(kNodeXml, nullptr);
  const std::string id = OsBundleIdentifier();
  s->path = ObjectPath(id);
  for (int i = 0; i < 2; ++i)
    s->objectIds[i] = g_dbus_connection_register_object(bus, s->path.c_str(), s->node->interfaces[i], &kVTable,
                                                        nullptr, nullptr, nullptr);
  g_Server = s;
  for (const RemoteAction& a : s->handlers.actions)
    if (a.state != RemoteValue::kNone) s->announced[a.name] = s->handlers.state(a.name);
  s->ownerId = g_bus_own_name_on_connection(bus, id.c_str(), G_BUS_NAME_OWNER_FLAGS_NONE, nullptr, nullptr,
                                            nullptr, nullptr);
  s->refresh.Start(AnnounceChanges, s->handlers.lively);
  return true;
}

void OsRemoteRefresh(bool settling) {
  if (g_Server) g_Server->refresh.Kick(settling);
}

namespace {

void AnnounceChanges() {
  if (!g_Server || !g_Server->handlers.state) return;
  GVariantBuilder changes;
  g_variant_builder_init(&changes, G_VARIANT_TYPE("a{sv}"));
  bool any = false;
  for (const RemoteAction& a : g_Server->handlers.actions) {
    if (a.state == RemoteValue::kNone) continue;
    RemoteValue now = g_Server->handlers.state(a.name);
    RemoteValue& last = g_Server->announced[a.name];
    if (now == last) continue;
    last = now;
    g_variant_builder_add(&changes, "{sv}", a.name.c_str(), ToVariant(now));
    any = true;
  }
  if (!any) {
    g_variant_builder_clear(&changes);
    return;
  }
  g_dbus_connection_emit_signal(g_Server->bus, nullptr, g_Server->path.c_str(), "org.gtk.Actions", "Changed",
                                g_variant_new("(@as@a{sb}a{sv}@a{s(bgav)})", g_variant_new_strv(nullptr, 0),
                                              g_variant_new_array(G_VARIANT_TYPE("{sb}"), nullptr, 0), &changes,
                                              g_variant_new_array(G_VARIANT_TYPE("{s(bgav)}"), nullptr, 0)),
                                nullptr);
}

}  // namespace

void OsRemoteStop() {
  Server* s = g_Server;
  if (!s) return;
  g_Server = nullptr;
  s->refresh.Stop();
  if (s->ownerId) g_bus_unown_name(s->ownerId);
  for (guint id : s->objectIds)
    if (id) g_dbus_connection_unregister_object(s->bus, id);
  g_dbus_connection_flush_sync(s->bus, nullptr, nullptr);
  g_dbus_node_info_unref(s->node);
  g_object_unref(s->bus);
  delete s;
}

RemoteResult OsRemoteActivate(const std::string& name, const RemoteValue& parameter, std::string& message) {
  GVariantBuilder params;
  g_variant_builder_init(&params, G_VARIANT_TYPE("av"));
  if (parameter.kind != RemoteValue::kNone) g_variant_builder_add(&params, "v", ToVariant(parameter));
  return Call("org.freedesktop.Application", "ActivateAction",
              g_variant_new("(sav@a{sv})", name.c_str(), &params, PlatformData()), nullptr, nullptr, message);
}

RemoteResult OsRemoteSetState(const std::string& name, const RemoteValue& state, std::string& message) {
  return Call("org.gtk.Actions", "SetState",
              g_variant_new("(sv@a{sv})", name.c_str(), ToVariant(state), PlatformData()), nullptr, nullptr, message);
}

RemoteResult OsRemoteGetState(const std::string& name, RemoteValue& state, std::string& message) {
  GVariant* reply = nullptr;
  RemoteResult r = Call("org.gtk.Actions", "Describe", g_variant_new("(s)", name.c_str()),
                        G_VARIANT_TYPE("((bgav))"), &reply, message);
  if (r != RemoteResult::kDone) return r;
  GVariant* states = nullptr;
  gboolean enabled = FALSE;
  const char* type = nullptr;
  g_variant_get(reply, "((b&g@av))", &enabled, &type, &states);
  state = RemoteValue();
  if (g_variant_n_children(states) == 1) {
    GVariant* inner = nullptr;
    g_variant_get_child(states, 0, "v", &inner);
    if (!FromVariant(inner, RemoteValue::kText, state)) FromVariant(inner, RemoteValue::kBool, state);
    g_variant_unref(inner);
  }
  g_variant_unref(states);
  g_variant_unref(reply);
  return RemoteResult::kDone;
}
