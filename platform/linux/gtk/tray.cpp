// The tray icon through libayatana-appindicator (a StatusNotifierItem with
// its menu exported over com.canonical.dbusmenu), the watch for a tray host,
// and closing the main window into the tray.
#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>

#include <string>

#include "platform/linux/gtk/gtk_internal.h"
#include "platform/linux/gtk/state_refresh.h"
#include "platform/os_tray.h"
#include "platform/os_window.h"

namespace pmrgtk {
bool g_QuitRequested = false;
}  // namespace pmrgtk

namespace {

constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";

struct MenuEntry {
  const char* action;
  const char* label;
  bool check;
};
constexpr MenuEntry kEntries[] = {
    {"clicker", "Auto clicker", true}, {"spammer", "Key spammer", true}, {"record", "Record", true},
    {"play", "Play", true},           {"hotkeys", "Hotkeys", true},     {"show-window", "Show window", false},
    {"quit", "Quit", false},
};
constexpr size_t kEntryCount = sizeof kEntries / sizeof kEntries[0];

struct Tray {
  TrayHandlers handlers;
  GtkWindow* window = nullptr;
  AppIndicator* indicator = nullptr;
  GtkWidget* items[kEntryCount] = {};
  gulong itemHandlers[kEntryCount] = {};
  gulong deleteHandler = 0;
  pmrgtk::StateRefresh refresh;
  guint watch = 0;
  guint hostSignals[2] = {0, 0};
  GDBusConnection* bus = nullptr;
  bool hostPresent = false;
  bool hiddenToTray = false;
  bool haveState = false;
  TrayState shown;
};
Tray* g_Tray = nullptr;

void OnItemActivate(GtkMenuItem*, gpointer data) {
  if (!g_Tray) return;
  const size_t i = GPOINTER_TO_SIZE(data);
  if (g_Tray->handlers.menu) g_Tray->handlers.menu(kEntries[i].action);
}

// Shows `state` in the icon, the title and the check marks (without the
// marks' own activation running).
void Show(const TrayState& state) {
  const bool flags[] = {state.clicking, state.spamming, state.recording, state.playing, state.hotkeysWork};
  for (size_t i = 0; i < 5; ++i) {
    GtkCheckMenuItem* item = GTK_CHECK_MENU_ITEM(g_Tray->items[i]);
    if (gtk_check_menu_item_get_active(item) == flags[i]) continue;
    g_signal_handler_block(item, g_Tray->itemHandlers[i]);
    gtk_check_menu_item_set_active(item, flags[i]);
    g_signal_handler_unblock(item, g_Tray->itemHandlers[i]);
  }
  std::string what;
  if (state.recording) what = "recording";
  else if (state.playing) what = "playing";
  else if (state.clicking && state.spamming) what = "clicking and spamming keys";
  else if (state.clicking) what = "clicking";
  else if (state.spamming) what = "spamming keys";
  else what = "idle";
  if (!state.hotkeysWork) what += ", hotkeys off";
  const std::string title = "Pellomar: " + what;
  app_indicator_set_icon_full(g_Tray->indicator, TrayIconName(state).c_str(), title.c_str());
  app_indicator_set_title(g_Tray->indicator, title.c_str());
}

void Refresh() {
  if (!g_Tray || !g_Tray->handlers.state) return;
  const TrayState now = g_Tray->handlers.state();
  if (g_Tray->haveState && now == g_Tray->shown) return;
  g_Tray->haveState = true;
  g_Tray->shown = now;
  Show(now);
}

void ShowWindowAgain() {
  if (!g_Tray->hiddenToTray) return;
  g_Tray->hiddenToTray = false;
  if (g_Tray->window) OsBringToFront(g_Tray->window);
}

// Closing keeps the program in the tray when asked and possible.
gboolean OnDelete(GtkWidget* widget, GdkEvent*, gpointer) {
  if (!g_Tray || pmrgtk::g_QuitRequested || !g_Tray->hostPresent || !g_Tray->handlers.keepRunningWhenClosed ||
      !g_Tray->handlers.keepRunningWhenClosed())
    return FALSE;
  gtk_widget_hide(widget);
  g_Tray->hiddenToTray = true;
  return TRUE;
}

void SetHostPresent(bool present) {
  g_Tray->hostPresent = present;
  // Without a tray the hidden window would be out of reach.
  if (!present) ShowWindowAgain();
}

void OnHostProperty(GObject* source, GAsyncResult* result, gpointer) {
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
  if (!g_Tray) {
    if (reply) g_variant_unref(reply);
    return;
  }
  bool present = false;
  if (reply) {
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    present = g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value);
    g_variant_unref(value);
    g_variant_unref(reply);
  }
  SetHostPresent(present);
}

void AskHostPresent() {
  g_dbus_connection_call(g_Tray->bus, kWatcherName, kWatcherPath, "org.freedesktop.DBus.Properties", "Get",
                         g_variant_new("(ss)", kWatcherName, "IsStatusNotifierHostRegistered"),
                         G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, nullptr, OnHostProperty,
                         nullptr);
}

void OnWatcherAppeared(GDBusConnection*, const gchar*, const gchar*, gpointer) {
  if (g_Tray) AskHostPresent();
}
void OnWatcherVanished(GDBusConnection*, const gchar*, gpointer) {
  if (g_Tray) SetHostPresent(false);
}
void OnHostSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*, gpointer) {
  if (g_Tray) AskHostPresent();
}

// Appends `dir` to the default icon theme's search path unless it is there.
void AddIconSearchPathOnce(const std::string& dir) {
  GtkIconTheme* theme = gtk_icon_theme_get_default();
  if (!theme) return;
  gchar** paths = nullptr;
  gint count = 0;
  gtk_icon_theme_get_search_path(theme, &paths, &count);
  bool present = false;
  for (gint i = 0; i < count && !present; ++i) present = paths[i] && dir == paths[i];
  g_strfreev(paths);
  if (!present) gtk_icon_theme_append_search_path(theme, dir.c_str());
}

}  // namespace

std::string TrayIconName(const TrayState& s) {
  const char* what = s.recording   ? "recording"
                     : s.playing   ? "playing"
                     : s.clicking  ? "clicking"
                     : s.spamming  ? "spamming"
                     : !s.hotkeysWork ? "hotkeys-off"
                                      : "idle";
  return std::string("pellomar-tray-") + what;
}

void OsTrayStart(void* window, TrayHandlers handlers) {
  if (g_Tray) return;
  // The item lives on the session bus; without one there is nothing to show.
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) return;
  auto* t = new Tray;
  t->bus = bus;
  g_Tray = t;
  t->handlers = std::move(handlers);
  t->window = window ? GTK_WINDOW(window) : nullptr;
  // The item's id is the application id; its icons lie beside the program.
  const std::string iconDir = OsResourceDir() + "/" + pmrgtk::kWindowIconDir + "/tray";
  // Where no item host runs, the indicator falls back to a status icon and
  // adds the icon folder to the icon theme's search path, but its search for
  // the folder among the paths already there runs past the end of the list
  // when it is missing (a crash where the memory after the list is unmapped).
  // With the folder there already, the search ends on it.
  AddIconSearchPathOnce(iconDir);
  t->indicator = app_indicator_new(OsBundleIdentifier().c_str(), "pellomar-tray-idle",
                                   APP_INDICATOR_CATEGORY_APPLICATION_STATUS);
  app_indicator_set_icon_theme_path(t->indicator, iconDir.c_str());
  GtkWidget* menu = gtk_menu_new();
  for (size_t i = 0; i < kEntryCount; ++i) {
    if (i == 5) gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
    t->items[i] = kEntries[i].check ? gtk_check_menu_item_new_with_label(kEntries[i].label)
                                    : gtk_menu_item_new_with_label(kEntries[i].label);
    t->itemHandlers[i] = g_signal_connect(t->items[i], "activate", G_CALLBACK(OnItemActivate), GSIZE_TO_POINTER(i));
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), t->items[i]);
  }
  gtk_widget_show_all(menu);
  app_indicator_set_menu(t->indicator, GTK_MENU(menu));
  app_indicator_set_status(t->indicator, APP_INDICATOR_STATUS_ACTIVE);
  t->refresh.Start(Refresh, t->handlers.lively);
  if (t->window) {
    g_object_add_weak_pointer(G_OBJECT(t->window), reinterpret_cast<gpointer*>(&t->window));
    t->deleteHandler = g_signal_connect(t->window, "delete-event", G_CALLBACK(OnDelete), nullptr);
  }
  {
    t->watch = g_bus_watch_name_on_connection(t->bus, kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                              OnWatcherAppeared, OnWatcherVanished, nullptr, nullptr);
    int n = 0;
    for (const char* member : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
      t->hostSignals[n++] = g_dbus_connection_signal_subscribe(t->bus, nullptr, kWatcherName, member, kWatcherPath,
                                                               nullptr, G_DBUS_SIGNAL_FLAGS_NONE, OnHostSignal,
                                                               nullptr, nullptr);
  }
}

void OsTrayStop() {
  Tray* t = g_Tray;
  if (!t) return;
  g_Tray = nullptr;
  t->refresh.Stop();
  if (t->window) {
    g_signal_handler_disconnect(t->window, t->deleteHandler);
    g_object_remove_weak_pointer(G_OBJECT(t->window), reinterpret_cast<gpointer*>(&t->window));
  }
  if (t->watch) g_bus_unwatch_name(t->watch);
  for (guint id : t->hostSignals)
    if (id) g_dbus_connection_signal_unsubscribe(t->bus, id);
  g_object_unref(t->bus);
  if (t->indicator) {
    app_indicator_set_status(t->indicator, APP_INDICATOR_STATUS_PASSIVE);
    g_object_unref(t->indicator);
  }
  delete t;
}

void OsTrayRefresh(bool settling) {
  if (g_Tray) g_Tray->refresh.Kick(settling);
}

bool OsTrayHostPresent() { return g_Tray && g_Tray->hostPresent; }
