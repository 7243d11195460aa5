// A plain GTK program that is not Pellomar, for the GNOME helper tests: it
// shows a window and, once the window is mapped, calls every member of the
// helper object as Pellomar would, printing one line per call:
//   <Method>=ok            the helper answered
//   <Method>=<error name>  the helper refused
// then "done". It keeps its window until it is told to end (SIGTERM).
#include <gio/gio.h>
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstdio>

namespace {

void Call(GDBusConnection* bus, const char* method, GVariant* args, const char* replyType) {
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(bus, "org.gnome.Shell", "/app/pellomar/Shell", "app.pellomar.Shell1",
                                                method, args, G_VARIANT_TYPE(replyType),
                                                G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, nullptr, &error);
  if (reply) {
    std::printf("%s=ok\n", method);
    g_variant_unref(reply);
  } else {
    gchar* name = g_dbus_error_is_remote_error(error) ? g_dbus_error_get_remote_error(error) : nullptr;
    std::printf("%s=%s\n", method, name ? name : error->message);
    g_free(name);
    g_error_free(error);
  }
  std::fflush(stdout);
}

gboolean CallAll(gpointer) {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) {
    std::printf("no bus\n");
  } else {
    Call(bus, "Register", nullptr, "()");
    Call(bus, "GetPointer", nullptr, "(iiu)");
    Call(bus, "WindowPidAt", g_variant_new("(ii)", 1, 1), "(i)");
    Call(bus, "SetAbove", g_variant_new("(b)", TRUE), "()");
    Call(bus, "MoveFrame", g_variant_new("(ii)", 900, 500), "()");
    Call(bus, "GetFrame", nullptr, "(iiii)");
    g_object_unref(bus);
  }
  std::printf("done\n");
  std::fflush(stdout);
  return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
  if (!gtk_init_check(&argc, &argv)) return 2;
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "pmr foreign window");
  gtk_window_set_default_size(GTK_WINDOW(window), 300, 200);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  g_signal_connect(window, "map-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) -> gboolean {
                     // After the first frame, when the shell has the window.
                     g_timeout_add(200, CallAll, nullptr);
                     return FALSE;
                   }), nullptr);
  g_unix_signal_add(SIGTERM, [](gpointer) -> gboolean {
    gtk_main_quit();
    return G_SOURCE_REMOVE;
  }, nullptr);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
