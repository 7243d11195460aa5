// GNOME Shell helper backend: a small extension inside the shell serves an
// object on the shell's bus name that tells the pointer position, the window
// under a point, and places the caller's own window. This file is its D-Bus
// client, reports the helper's state and installs the extension files.
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/atomic_file.h"
#include "base/number_text.h"
#include "base/read_file.h"
#include "platform/linux/shell/gnome.h"
#include "platform/linux/shell/gnome_helper.h"
#include "platform/linux/shell/session_bus.h"
#include "platform/os_shell.h"

namespace {

constexpr int kCallTimeoutMs = 500;
constexpr int kPropertyTimeoutMs = 1000;
constexpr int kVersionAttempts = 5;  // the install asks a silent shell this often
constexpr size_t kMaxSourceBytes = 1 << 20;
constexpr size_t kMaxMarkerBytes = 64;
constexpr const char* kShellSchema = "org.gnome.shell";

// Our own connection to the session bus, made on first use and kept; made
// again when the bus closed it. A private connection never ends the process
// when the bus goes away.
std::mutex g_BusMutex;
GDBusConnection* g_Bus = nullptr;

GDBusConnection* SessionBus() {
  std::lock_guard<std::mutex> lock(g_BusMutex);
  if (g_Bus && g_dbus_connection_is_closed(g_Bus)) g_clear_object(&g_Bus);
  if (!g_Bus) g_Bus = LinuxNewSessionConnection();
  if (!g_Bus) return nullptr;
  return static_cast<GDBusConnection*>(g_object_ref(g_Bus));
}

GVariant* CallHelperOn(GDBusConnection* bus, const char* method, GVariant* args, const char* replyType,
                       GError** error) {
  return g_dbus_connection_call_sync(bus, kGnomeHelperBus, kGnomeHelperPath, kGnomeHelperIface, method, args,
                                     G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallTimeoutMs,
                                     nullptr, error);
}

// One call of the helper object; the reply (of the given type) or null. The
// helper answers registered callers only: a call it refuses (this
// connection has not registered with the running helper yet, or the helper
// was restarted since) registers and tries once more.
GVariant* CallHelper(const char* method, GVariant* args, const char* replyType) {
  GDBusConnection* bus = SessionBus();
  if (!bus) {
    if (args) g_variant_unref(g_variant_ref_sink(args));
    return nullptr;
  }
  if (args) g_variant_ref_sink(args);
  GError* error = nullptr;
  GVariant* reply = CallHelperOn(bus, method, args, replyType, &error);
  if (!reply && g_dbus_error_is_remote_error(error)) {
    gchar* name = g_dbus_error_get_remote_error(error);
    const bool refused = g_strcmp0(name, "org.freedesktop.DBus.Error.AccessDenied") == 0;
    g_free(name);
    if (refused) {
      if (GVariant* registered = CallHelperOn(bus, "Register", nullptr, "()", nullptr)) {
        g_variant_unref(registered);
        reply = CallHelperOn(bus, method, args, replyType, nullptr);
      }
    }
  }
  if (error) g_error_free(error);
  if (args) g_variant_unref(args);
  g_object_unref(bus);
  return reply;
}

// A property of an object on the shell's bus name, or null.
GVariant* ShellProperty(const char* path, const char* iface, const char* name) {
  GDBusConnection* bus = SessionBus();
  if (!bus) return nullptr;
  GVariant* reply = g_dbus_connection_call_sync(bus, "org.gnome.Shell", path, "org.freedesktop.DBus.Properties", "Get",
                                                g_variant_new("(ss)", iface, name), G_VARIANT_TYPE("(v)"),
                                                G_DBUS_CALL_FLAGS_NO_AUTO_START, kPropertyTimeoutMs, nullptr, nullptr);
  g_object_unref(bus);
  if (!reply) return nullptr;
  GVariant* value = nullptr;
  g_variant_get(reply, "(v)", &value);
  g_variant_unref(reply);
  return value;
}

// The shell's major version (0 when it cannot be read). False only while a
// shell owns its name but does not answer: a loaded machine can keep it busy
// past the time-out, and guessing then would install the variant its loader
// cannot read, a helper that never starts.
bool ReadShellMajor(int& major) {
  major = 0;
  GDBusConnection* bus = SessionBus();
  if (!bus) return true;
  bool answered = false;
  for (int attempt = 0; attempt < kVersionAttempts && !answered; ++attempt) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.gnome.Shell", "/org/gnome/Shell", "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", "org.gnome.Shell", "ShellVersion"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, kPropertyTimeoutMs, nullptr, &error);
    answered = reply || !g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT);
    if (error) g_error_free(error);
    if (!reply) continue;
    GVariant* v = nullptr;
    g_variant_get(reply, "(v)", &v);
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_STRING)) major = GnomeShellMajor(g_variant_get_string(v, nullptr));
    g_variant_unref(v);
    g_variant_unref(reply);
  }
  g_object_unref(bus);
  return answered;
}

bool HasText(const char* name, const char* text) {
  const char* v = std::getenv(name);
  return v && std::strstr(v, text) != nullptr;
}

// The shell's settings, when its schema is installed (null otherwise). Keys
// are checked before use: a missing key would abort the process.
GSettings* ShellSettings(GSettingsSchema** schemaOut) {
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  if (!source) return nullptr;
  GSettingsSchema* schema = g_settings_schema_source_lookup(source, kShellSchema, TRUE);
  if (!schema) return nullptr;
  GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
  *schemaOut = schema;
  return settings;
}

bool HasKey(GSettingsSchema* schema, const char* key, const char* type) {
  if (!g_settings_schema_has_key(schema, key)) return false;
  GSettingsSchemaKey* k = g_settings_schema_get_key(schema, key);
  bool ok = g_variant_type_equal(g_settings_schema_key_get_value_type(k), G_VARIANT_TYPE(type));
  g_settings_schema_key_unref(k);
  return ok;
}

std::vector<std::string> GetList(GSettings* settings, const char* key) {
  std::vector<std::string> list;
  gchar** values = g_settings_get_strv(settings, key);
  for (gchar** v = values; v && *v; ++v) list.emplace_back(*v);
  g_strfreev(values);
  return list;
}

bool SetList(GSettings* settings, const char* key, const std::vector<std::string>& list) {
  std::vector<const gchar*> values;
  for (const std::string& s : list) values.push_back(s.c_str());
  values.push_back(nullptr);
  return g_settings_set_strv(settings, key, values.data());
}

bool Contains(const std::vector<std::string>& list, const std::string& value) {
  for (const std::string& s : list)
    if (s == value) return true;
  return false;
}

bool MakeDirs(const std::string& path, mode_t mode) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    std::string part = path.substr(0, pos);
    if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

// ---- rules -------------------------------------------------------------------

std::string GnomeHelperDir() {
  const char* data = std::getenv("XDG_DATA_HOME");
  std::string base;
  if (data && *data) {
    base = data;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home ? home : "") + "/.local/share";
  }
  return base + "/gnome-shell/extensions/" + kGnomeHelperUuid;
}

int GnomeShellMajor(const std::string& version) {
  int major = 0;
  for (char c : version) {
    if (c < '0' || c > '9') break;
    if (major > 100000) return 0;
    major = major * 10 + (c - '0');
  }
  return major;
}

bool GnomeUsesLegacyExtension(int major) { return major >= 1 && major <= 44; }

bool GnomePatchLegacyShellJs(std::string& text) {
  static const std::string from = "export class PmrShell";
  size_t at = text.find(from);
  if (at == std::string::npos) return false;
  text.replace(at, from.size(), "var PmrShell = class PmrShell");
  return true;
}

std::vector<std::string> GnomeListWithout(const std::vector<std::string>& list, const std::string& uuid) {
  std::vector<std::string> out;
  for (const std::string& s : list)
    if (s != uuid) out.push_back(s);
  return out;
}

std::string GnomeHelperStateFrom(const GnomeHelperFacts& f) {
  if (!f.gnomeWayland) return "n/a";
  if (f.haveRunningVersion && f.runningVersion == kGnomeHelperVersion) return "active";
  if (f.userExtensionsDisabled) return "blocked";
  std::optional<int32_t> marker = ParseLeadingInt32(f.marker);
  if (marker && *marker == static_cast<int32_t>(kGnomeHelperVersion) && f.enabled)
    return f.haveRunningVersion ? "outdated" : "installed";
  return f.haveRunningVersion ? "outdated" : "missing";
}

// ---- client --------------------------------------------------------------------

bool GnomeSession() {
  static const bool session = [] {
    if (!HasText("XDG_CURRENT_DESKTOP", "GNOME")) return false;
    const char* type = std::getenv("XDG_SESSION_TYPE");
    if (type && std::strcmp(type, "wayland") == 0) return true;
    return std::getenv("WAYLAND_DISPLAY") != nullptr;
  }();
  return session;
}

bool GnomePointer(double& x, double& y, bool* leftDown) {
  GVariant* reply = CallHelper("GetPointer", nullptr, "(iiu)");
  if (!reply) return false;
  gint32 px = 0, py = 0;
  guint32 buttons = 0;
  g_variant_get(reply, "(iiu)", &px, &py, &buttons);
  g_variant_unref(reply);
  x = px;
  y = py;
  if (leftDown) *leftDown = (buttons & 1u) != 0;
  return true;
}

int GnomeWindowPidAt(double x, double y) {
  // Out-of-range points cannot be asked for; no window is there.
  if (!(x >= -2147483648.0 && x < 2147483648.0 && y >= -2147483648.0 && y < 2147483648.0)) return 0;
  GVariant* reply = CallHelper("WindowPidAt", g_variant_new("(ii)", static_cast<gint32>(x), static_cast<gint32>(y)),
                               "(i)");
  if (!reply) return 0;
  gint32 pid = 0;
  g_variant_get(reply, "(i)", &pid);
  g_variant_unref(reply);
  return pid;
}

bool GnomeSetAbove(bool above) {
  if (!GnomeSession()) return false;
  GVariant* reply = CallHelper("SetAbove", g_variant_new("(b)", above ? TRUE : FALSE), "()");
  if (!reply) return false;
  g_variant_unref(reply);
  return true;
}

bool GnomeMoveFrame(int x, int y) {
  if (!GnomeSession()) return false;
  GVariant* reply = CallHelper("MoveFrame", g_variant_new("(ii)", x, y), "()");
  if (!reply) return false;
  g_variant_unref(reply);
  return true;
}

bool GnomeGetFrame(int& x, int& y, int& w, int& h) {
  if (!GnomeSession()) return false;
  GVariant* reply = CallHelper("GetFrame", nullptr, "(iiii)");
  if (!reply) return false;
  gint32 fx, fy, fw, fh;
  g_variant_get(reply, "(iiii)", &fx, &fy, &fw, &fh);
  g_variant_unref(reply);
  x = fx;
  y = fy;
  w = fw;
  h = fh;
  return true;
}

// ---- helper state and install -----------------------------------------------------

std::string LinuxGnomeHelperState() {
  GnomeHelperFacts facts;
  facts.gnomeWayland = GnomeSession();
  if (!facts.gnomeWayland) return GnomeHelperStateFrom(facts);
  if (GVariant* v = ShellProperty(kGnomeHelperPath, kGnomeHelperIface, "Version")) {
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32)) {
      facts.haveRunningVersion = true;
      facts.runningVersion = g_variant_get_uint32(v);
    }
    g_variant_unref(v);
  }
  if (facts.haveRunningVersion && facts.runningVersion == kGnomeHelperVersion) return GnomeHelperStateFrom(facts);
  GSettingsSchema* schema = nullptr;
  if (GSettings* settings = ShellSettings(&schema)) {
    if (HasKey(schema, "enabled-extensions", "as") && HasKey(schema, "disabled-extensions", "as")) {
      facts.enabled = Contains(GetList(settings, "enabled-extensions"), kGnomeHelperUuid) &&
                      !Contains(GetList(settings, "disabled-extensions"), kGnomeHelperUuid);
    }
    if (HasKey(schema, "disable-user-extensions", "b"))
      facts.userExtensionsDisabled = g_settings_get_boolean(settings, "disable-user-extensions");
    g_object_unref(settings);
    g_settings_schema_unref(schema);
  }
  facts.marker = ReadStateFile(GnomeHelperDir() + "/pmr-version", kMaxMarkerBytes);
  return GnomeHelperStateFrom(facts);
}

bool LinuxGnomeInstallHelper(const std::string& resourceDir) {
  const std::string source = resourceDir + "/linux-ui/gnome-extension";
  std::string shellJs = ReadStateFile(source + "/shell.js", kMaxSourceBytes);

  int major = 0;
  if (!ReadShellMajor(major)) return false;
  const bool legacy = GnomeUsesLegacyExtension(major);
  std::string extensionJs =
      ReadStateFile(source + (legacy ? "/legacy/extension.js" : "/esm/extension.js"), kMaxSourceBytes);
  std::string metadata = ReadStateFile(source + "/metadata.json", kMaxSourceBytes);
  if (shellJs.empty() || extensionJs.empty() || metadata.empty()) return false;
  if (legacy && !GnomePatchLegacyShellJs(shellJs)) return false;

  const std::string dir = GnomeHelperDir();
  if (!MakeDirs(dir, 0755)) return false;
  if (!WriteFileAtomically(dir + "/metadata.json", metadata) ||
      !WriteFileAtomically(dir + "/extension.js", extensionJs) || !WriteFileAtomically(dir + "/shell.js", shellJs) ||
      !WriteFileAtomically(dir + "/pmr-version", std::to_string(kGnomeHelperVersion)))
    return false;

  GSettingsSchema* schema = nullptr;
  GSettings* settings = ShellSettings(&schema);
  if (!settings) return false;
  bool ok = false;
  if (HasKey(schema, "enabled-extensions", "as") && HasKey(schema, "disabled-extensions", "as")) {
    std::vector<std::string> enabled = GnomeListWithout(GetList(settings, "enabled-extensions"), kGnomeHelperUuid);
    enabled.push_back(kGnomeHelperUuid);
    if (SetList(settings, "enabled-extensions", enabled))
      ok = SetList(settings, "disabled-extensions",
                   GnomeListWithout(GetList(settings, "disabled-extensions"), kGnomeHelperUuid));
    g_settings_sync();
  }
  g_object_unref(settings);
  g_settings_schema_unref(schema);
  return ok;
}
