// Native open and save dialogs. GtkFileChooserNative goes through the
// desktop's file-chooser portal when there is one (sandboxes, Wayland
// desktops) and shows a GTK dialog otherwise. The dialog runs without a
// nested main loop: its answer arrives through the "response" signal.
#include <gtk/gtk.h>

#include <functional>
#include <string>

#include "platform/linux/gtk/gtk_internal.h"
#include "platform/os_window.h"

namespace {

struct Pending {
  std::function<void(const std::string&)> done;
};

void OnResponse(GtkNativeDialog* dialog, gint response, gpointer data) {
  auto* pending = static_cast<Pending*>(data);
  std::string path;
  if (response == GTK_RESPONSE_ACCEPT) {
    if (gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog))) {
      path = name;
      g_free(name);
    }
  }
  auto done = std::move(pending->done);
  delete pending;
  g_object_unref(dialog);
  if (done) done(path);
}

}  // namespace

void OsChooseFile(bool save, const std::string& suggestedName, const std::string& extension,
                  std::function<void(const std::string& path)> done) {
  GtkWindow* parent = pmrgtk::g_Hooks.window;
  GtkFileChooserNative* dialog = gtk_file_chooser_native_new(
      save ? "Export macro" : "Open macro", parent,
      save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN, save ? "_Export" : "_Open", "_Cancel");
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(dialog), TRUE);
  if (save) {
    gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
    if (!suggestedName.empty()) gtk_file_chooser_set_current_name(chooser, suggestedName.c_str());
  }
  if (!extension.empty()) {
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, ("Pellomar macros (*" + extension + ")").c_str());
    gtk_file_filter_add_pattern(filter, ("*" + extension).c_str());
    gtk_file_chooser_add_filter(chooser, filter);
  }
  g_signal_connect(dialog, "response", G_CALLBACK(OnResponse), new Pending{std::move(done)});
  gtk_native_dialog_show(GTK_NATIVE_DIALOG(dialog));
}
