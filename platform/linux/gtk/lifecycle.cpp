// The main window's life in the session: geometry saving, closing on
// termination signals, activation by a second start, files handed over from
// outside, the navigation filter of the page, alerts and links.
#include <fcntl.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "base/read_file.h"
#include "platform/linux/gtk/gtk_internal.h"
#include "platform/os_shell.h"

namespace pmrgtk {

LifecycleHooks g_Hooks;
GtkWindow* g_DestroyedMainWindow = nullptr;
std::vector<GtkDialog*> g_RunningDialogs;

namespace {

constexpr guint kGeometryDebounceMs = 400;
constexpr const char* kFilterKey = "pmr-navigation-filter";

gulong g_ConfigureHandler = 0, g_DeleteHandler = 0, g_DestroyHandler = 0;

gboolean OnGeometryTimer(gpointer) {
  g_Hooks.geometryTimer = 0;
  if (g_Hooks.geometry) g_Hooks.geometry();
  return G_SOURCE_REMOVE;
}

gboolean OnConfigure(GtkWidget*, GdkEvent*, gpointer) {
  if (g_Hooks.geometryTimer) g_source_remove(g_Hooks.geometryTimer);
  g_Hooks.geometryTimer = g_timeout_add(kGeometryDebounceMs, OnGeometryTimer, nullptr);
  return FALSE;
}

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer) {
  if (g_Hooks.geometry) g_Hooks.geometry();
  return FALSE;
}

void OnDestroy(GtkWidget* widget, gpointer) {
  g_DestroyedMainWindow = GTK_WINDOW(widget);
  if (g_Hooks.window == GTK_WINDOW(widget)) g_Hooks.window = nullptr;
}

gboolean OnTerminationSignal(gpointer) {
  // Newest first: each answer ends that dialog's modal run.
  for (auto it = g_RunningDialogs.rbegin(); it != g_RunningDialogs.rend(); ++it)
    gtk_dialog_response(*it, GTK_RESPONSE_DELETE_EVENT);
  if (g_Hooks.geometry) g_Hooks.geometry();
  g_QuitRequested = true;
  if (g_Hooks.window) gtk_window_close(g_Hooks.window);
  return G_SOURCE_CONTINUE;
}

gboolean OnActivationSignal(gpointer) {
  if (g_Hooks.window) OsBringToFront(g_Hooks.window);
  DeliverPendingFiles();
  return G_SOURCE_CONTINUE;
}

// The page never navigates away: pages are loaded from strings ("about:"),
// data addresses pass, everything else is stopped; a dropped file of a kind
// the program knows goes to the open-files handler.
gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type, gpointer) {
  if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION)
    return FALSE;
  WebKitNavigationAction* action =
      webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
  const char* uriText = request ? webkit_uri_request_get_uri(request) : nullptr;
  const std::string uri = uriText ? uriText : "";
  if (uri.rfind("about:", 0) == 0 || uri.rfind("data:", 0) == 0) return FALSE;
  webkit_policy_decision_ignore(decision);
  if (uri.size() > 6 && uri.rfind("file://", 0) == 0) {
    if (gchar* name = g_filename_from_uri(uri.c_str(), nullptr, nullptr)) {
      const std::string path = name;
      g_free(name);
      if (IsAcceptedFileName(path, true) && g_Hooks.openFiles) g_Hooks.openFiles({path});
    }
  }
  return TRUE;
}

}  // namespace

void DeliverPendingFiles() {
  const std::string path = PendingOpenFilePath();
  std::vector<std::string> files;
  // Second starts append a few paths each; a link, a FIFO or a file beyond
  // the cap delivers nothing (and is removed like any other).
  constexpr size_t kPendingOpenMaxBytes = size_t{1} << 20;
  const std::string text = ReadStateFile(path, kPendingOpenMaxBytes);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) files.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  unlink(path.c_str());
  if (!files.empty() && g_Hooks.openFiles) g_Hooks.openFiles(files);
}

}  // namespace pmrgtk

using namespace pmrgtk;

void OsInstallLifecycleHooks(void* handle, std::function<void()> geometry, std::function<void()> shutdown,
                             std::function<void()> sessionLocked) {
  GtkWindow* window = handle ? GTK_WINDOW(handle) : nullptr;
  if (g_Hooks.window) {
    g_signal_handler_disconnect(g_Hooks.window, g_ConfigureHandler);
    g_signal_handler_disconnect(g_Hooks.window, g_DeleteHandler);
    g_signal_handler_disconnect(g_Hooks.window, g_DestroyHandler);
  }
  g_Hooks.window = window;
  g_Hooks.geometry = std::move(geometry);
  g_Hooks.shutdown = std::move(shutdown);
  g_Hooks.sessionLocked = std::move(sessionLocked);
  if (window) {
    g_ConfigureHandler = g_signal_connect(window, "configure-event", G_CALLBACK(OnConfigure), nullptr);
    g_DeleteHandler = g_signal_connect(window, "delete-event", G_CALLBACK(OnDelete), nullptr);
    g_DestroyHandler = g_signal_connect(window, "destroy", G_CALLBACK(OnDestroy), nullptr);
  }

  static bool signalsInstalled = false;
  if (!signalsInstalled) {
    signalsInstalled = true;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) g_unix_signal_add(sig, OnTerminationSignal, nullptr);
    g_unix_signal_add(SIGUSR2, OnActivationSignal, nullptr);
    GDBusConnection* system = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
    GDBusConnection* session = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    StartSessionWatch(system, session);
    if (system) g_object_unref(system);
    if (session) g_object_unref(session);
  }
  if (window) PrepareWindowWhenMapped(window, true);
}

void OsInstallFileOpenHandlers(void* handle, std::function<void(const std::vector<std::string>&)> handler) {
  g_Hooks.openFiles = std::move(handler);
  GtkWidget* child = handle ? gtk_bin_get_child(GTK_BIN(handle)) : nullptr;
  if (child && WEBKIT_IS_WEB_VIEW(child) && !g_object_get_data(G_OBJECT(child), kFilterKey)) {
    g_object_set_data(G_OBJECT(child), kFilterKey, GINT_TO_POINTER(1));
    g_signal_connect(child, "decide-policy", G_CALLBACK(OnDecidePolicy), nullptr);
  }
  if (!g_LaunchFiles.empty() && g_Hooks.openFiles) {
    std::vector<std::string> files = std::move(g_LaunchFiles);
    g_LaunchFiles.clear();
    g_Hooks.openFiles(files);
  }
  DeliverPendingFiles();
}

void OsShowAlert(const std::string& message) {
  // Without a display (GTK could not start) there is nowhere to show it.
  if (!gdk_display_get_default()) return;
  bool restoreAbove = false;
  if (g_ShellAbove) restoreAbove = g_ShellOps.setAbove(false);
  GtkWidget* dialog = gtk_message_dialog_new(g_Hooks.window, GTK_DIALOG_MODAL, GTK_MESSAGE_INFO, GTK_BUTTONS_OK,
                                             "%s", message.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), "Pellomar");
  g_object_ref_sink(dialog);
  g_RunningDialogs.push_back(GTK_DIALOG(dialog));
  gtk_dialog_run(GTK_DIALOG(dialog));
  g_RunningDialogs.erase(std::find(g_RunningDialogs.begin(), g_RunningDialogs.end(), GTK_DIALOG(dialog)));
  gtk_widget_destroy(dialog);
  g_object_unref(dialog);
  if (restoreAbove) g_ShellOps.setAbove(true);
}

bool OsOpenUrl(const char* url) {
  if (!url) return false;
  GError* error = nullptr;
  gboolean ok = gtk_show_uri_on_window(nullptr, url, GDK_CURRENT_TIME, &error);
  if (error) g_error_free(error);
  return ok != FALSE;
}

const char* OsSettingsAppName() { return "Settings"; }

void OsOpenSoftwareUpdate() {}
