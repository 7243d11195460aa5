// A plain client window for desktop tests:
//   pmr_test_window TITLE WIDTH HEIGHT [decorated]
// Shows one top-level window of that size (undecorated unless asked) until it
// is closed or the process is told to end.
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (!gtk_init_check(&argc, &argv) || argc < 4) return 2;
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), argv[1]);
  gtk_window_set_decorated(GTK_WINDOW(window), argc > 4 && std::string(argv[4]) == "decorated");
  gtk_window_set_default_size(GTK_WINDOW(window), std::atoi(argv[2]), std::atoi(argv[3]));
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  g_unix_signal_add(SIGTERM, [](gpointer) -> gboolean {
    gtk_main_quit();
    return G_SOURCE_REMOVE;
  }, nullptr);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
