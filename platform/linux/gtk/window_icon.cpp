// The program's icon on its windows (_NET_WM_ICON on X11, the application
// icon elsewhere), read from the icon files shipped beside the executable,
// and the smallest size of the page.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <string>

#include "platform/linux/gtk/gtk_internal.h"
#include "platform/os_window_size.h"

bool OsSetWindowIcon(void* window) {
  const std::string dir = OsResourceDir() + "/" + pmrgtk::kWindowIconDir;
  GList* icons = nullptr;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    std::string path = dir + "/pellomar-" + std::to_string(size) + ".png";
    if (GdkPixbuf* p = gdk_pixbuf_new_from_file(path.c_str(), nullptr)) icons = g_list_append(icons, p);
  }
  if (!icons) {
    std::string svg = dir + "/pellomar.svg";
    if (GdkPixbuf* p = gdk_pixbuf_new_from_file_at_size(svg.c_str(), 256, 256, nullptr))
      icons = g_list_append(icons, p);
  }
  if (!icons) return false;
  gtk_window_set_default_icon_list(icons);
  if (window && GTK_IS_WINDOW(window)) gtk_window_set_icon_list(GTK_WINDOW(window), icons);
  g_list_free_full(icons, g_object_unref);
  return true;
}

// The page (the window's child) asks for at least this size, so GTK keeps
// the window from getting smaller and tells the window manager so (the
// minimum size of WM_NORMAL_HINTS); the window's own size stays as set.
void OsFitFirstWindowSize(int& width, int& height, int minWidth, int minHeight) {
  // Room for the title bar and a little of the desktop around the window.
  constexpr int kFrameRoom = 48;
  const pmrgtk::WorkArea wa = pmrgtk::WorkAreaFor(nullptr);
  if (wa.width <= 0 || wa.height <= 0) return;
  width = std::max(minWidth, std::min(width, wa.width - kFrameRoom));
  height = std::max(minHeight, std::min(height, wa.height - kFrameRoom));
}

void OsSetPageMinimumSize(void* window, int width, int height) {
  if (!window || !GTK_IS_WINDOW(window)) return;
  GtkWidget* child = gtk_bin_get_child(GTK_BIN(window));
  if (child) gtk_widget_set_size_request(child, width, height);
}
