// Behaviour of an unavailable platform for the operations of
// app/bridge_externals.h. Weak, so the owner's definition replaces each one
// as soon as it is linked.
#include "app/bridge_externals.h"
#include "platform/linux/gtk/webview.h"

#define PMR_FALLBACK __attribute__((weak))

PMR_FALLBACK void DesktopSetSnapAccent(const std::string&) {}
PMR_FALLBACK bool OsConfinePointer(int, int, int, int) { return false; }
PMR_FALLBACK void OsUnconfinePointer() {}
PMR_FALLBACK bool LinuxGnomeInstallHelper(const std::string&) { return false; }
PMR_FALLBACK void BindStartUpdate(webview::WebView& w, const std::string& id, const std::string&) {
  w.resolve(id, 0, JsonEscapeForBind("Update failed: the update is no longer available. Try again later."));
}
