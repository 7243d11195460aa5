// Update entry points. The check and the cleanup do nothing yet; the
// self-test reads its vectors file and reports what it cannot check yet.
#include <fstream>

#include "base/json_escape.h"
#include "platform/linux/gtk/webview.h"
#include "update/update.h"

void CleanupUpdateTempFiles() {}
void StartUpdateCheckThread() {}

bool SelfTestUpdate(const std::string& vectorsPath, std::string& report) {
  std::ifstream in(vectorsPath, std::ios::binary);
  if (!in) {
    report = "FAIL could not open vectors file: " + vectorsPath + "\n";
    return false;
  }
  report = "FAIL update rules not available in this build\n";
  return false;
}

// No update can be found yet, so an install request always ends here.
void BindStartUpdate(webview::WebView& w, const std::string& id, const std::string&) {
  w.resolve(id, 0, JsonEscapeForBind("Update failed: the update is no longer available. Try again later."));
}
