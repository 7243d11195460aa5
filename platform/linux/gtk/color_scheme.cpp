// The desktop's light or dark preference: the settings portal first, GTK's
// settings as the fallback. See platform/os_appearance.h.
#include <gio/gio.h>
#include <gtk/gtk.h>

#include <cstring>
#include <functional>
#include <string>

#include "platform/os_appearance.h"

namespace {

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kSettingsInterface = "org.freedesktop.portal.Settings";
constexpr const char* kAppearance = "org.freedesktop.appearance";
constexpr const char* kColorScheme = "color-scheme";

struct Watch {
  std::function<void(bool)> changed;
  // The portal's color-scheme: 0 no preference (also: no portal), 1 dark, 2 light.
  guint32 portalScheme = 0;
  // GTK's dark preference as the desktop gave it. The program sets that
  // setting itself to match its window to the page, so it is read once,
  // before that happens.
  bool gtkPreferDark = false;
  bool gtkThemeDark = false;
  bool last = false;
  GDBusConnection* bus = nullptr;
  guint signalId = 0;
  guint nameWatch = 0;
  GCancellable* cancel = nullptr;
};

Watch* g_Watch = nullptr;

bool Compute(const Watch& w) {
  if (w.portalScheme == 1) return true;
  if (w.portalScheme == 2) return false;
  return w.gtkPreferDark || w.gtkThemeDark;
}

void Reconsider() {
  if (!g_Watch) return;
  const bool now = Compute(*g_Watch);
  if (now == g_Watch->last) return;
  g_Watch->last = now;
  if (g_Watch->changed) g_Watch->changed(now);
}

bool ThemeNameIsDark(const char* name) {
  if (!name) return false;
  std::string n(name);
  for (char& c : n) c = static_cast<char>(g_ascii_tolower(c));
  for (const char* suffix : {"-dark", ":dark"}) {
    const size_t len = std::strlen(suffix);
    if (n.size() >= len && n.compare(n.size() - len, len, suffix) == 0) return true;
  }
  return false;
}

bool GtkThemeIsDark(GtkSettings* settings) {
  gchar* name = nullptr;
  g_object_get(settings, "gtk-theme-name", &name, nullptr);
  const bool dark = ThemeNameIsDark(name);
  g_free(name);
  // GTK_THEME overrides the setting for this program ("Adwaita:dark").
  return dark || ThemeNameIsDark(g_getenv("GTK_THEME"));
}

void OnGtkThemeName(GObject* settings, GParamSpec*, gpointer) {
  if (!g_Watch) return;
  g_Watch->gtkThemeDark = GtkThemeIsDark(GTK_SETTINGS(settings));
  Reconsider();
}

// The portal's value arrives wrapped in one variant (ReadOne) or two (Read).
void TakeSchemeValue(GVariant* value) {
  if (!g_Watch || !value) return;
  GVariant* v = g_variant_ref(value);
  while (v && g_variant_is_of_type(v, G_VARIANT_TYPE_VARIANT)) {
    GVariant* inner = g_variant_get_variant(v);
    g_variant_unref(v);
    v = inner;
  }
  if (v && g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32)) {
    const guint32 scheme = g_variant_get_uint32(v);
    g_Watch->portalScheme = scheme <= 2 ? scheme : 0;
    Reconsider();
  }
  if (v) g_variant_unref(v);
}

void OnRead(GObject* source, GAsyncResult* result, gpointer oneShot) {
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
  if (!reply) {
    const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
    g_error_free(error);
    // Portals before version 2 have only Read.
    if (!cancelled && oneShot && g_Watch && g_Watch->bus)
      g_dbus_connection_call(g_Watch->bus, kPortalName, kPortalPath, kSettingsInterface, "Read",
                             g_variant_new("(ss)", kAppearance, kColorScheme), G_VARIANT_TYPE("(v)"),
                             G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, g_Watch->cancel, OnRead, nullptr);
    return;
  }
  GVariant* value = g_variant_get_child_value(reply, 0);
  TakeSchemeValue(value);
  g_variant_unref(value);
  g_variant_unref(reply);
}

void OnSettingChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                      GVariant* parameters, gpointer) {
  if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssv)"))) return;
  const gchar* ns = nullptr;
  const gchar* key = nullptr;
  GVariant* value = nullptr;
  g_variant_get(parameters, "(&s&sv)", &ns, &key, &value);
  if (std::strcmp(ns, kAppearance) == 0 && std::strcmp(key, kColorScheme) == 0) TakeSchemeValue(value);
  g_variant_unref(value);
}

void OnPortalAppeared(GDBusConnection* bus, const gchar*, const gchar*, gpointer) {
  g_dbus_connection_call(bus, kPortalName, kPortalPath, kSettingsInterface, "ReadOne",
                         g_variant_new("(ss)", kAppearance, kColorScheme), G_VARIANT_TYPE("(v)"),
                         G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, g_Watch->cancel, OnRead, GINT_TO_POINTER(1));
}

void OnPortalVanished(GDBusConnection*, const gchar*, gpointer) {
  if (!g_Watch) return;
  g_Watch->portalScheme = 0;
  Reconsider();
}

void OnBus(GObject*, GAsyncResult* result, gpointer) {
  GDBusConnection* bus = g_bus_get_finish(result, nullptr);
  if (!bus) return;  // no session bus: GTK's settings alone
  if (!g_Watch) {
    g_object_unref(bus);
    return;
  }
  g_Watch->bus = bus;
  g_Watch->signalId = g_dbus_connection_signal_subscribe(
      bus, kPortalName, kSettingsInterface, "SettingChanged", kPortalPath, kAppearance,
      G_DBUS_SIGNAL_FLAGS_NONE, OnSettingChanged, nullptr, nullptr);
  // The portal is not started for this; it is read whenever it is on the bus.
  g_Watch->nameWatch = g_bus_watch_name_on_connection(bus, kPortalName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                                      OnPortalAppeared, OnPortalVanished, nullptr, nullptr);
}

}  // namespace

bool OsDesktopPrefersDark() { return g_Watch && g_Watch->last; }

void OsWatchDesktopColorScheme(std::function<void(bool dark)> changed) {
  if (g_Watch) return;
  g_Watch = new Watch();  // lives as long as the program
  g_Watch->changed = std::move(changed);
  if (GtkSettings* settings = gtk_settings_get_default()) {
    gboolean preferDark = FALSE;
    g_object_get(settings, "gtk-application-prefer-dark-theme", &preferDark, nullptr);
    g_Watch->gtkPreferDark = preferDark;
    g_Watch->gtkThemeDark = GtkThemeIsDark(settings);
    g_signal_connect(settings, "notify::gtk-theme-name", G_CALLBACK(OnGtkThemeName), nullptr);
  }
  g_Watch->last = Compute(*g_Watch);
  g_Watch->cancel = g_cancellable_new();
  g_bus_get(G_BUS_TYPE_SESSION, g_Watch->cancel, OnBus, nullptr);
}
