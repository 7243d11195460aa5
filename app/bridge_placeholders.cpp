// Placeholders for the native bridge and the pages until they land.
#include "app/bridge.h"
#include "app/pages.h"
#include "platform/linux/gtk/webview.h"

std::string ParseJSString(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != '[' && c != ']' && c != '"') out += c;
  return out;
}
std::string InjectedUserScript() { return {}; }
void BindSetTitleBarColors(webview::WebView&) {}
void BindBridgeFunctions(webview::WebView&) {}
void LoadBootPage(webview::WebView& w, const std::string& kind) {
  w.set_html("<html><body>boot: " + kind + "</body></html>");
}
void LoadMainUi(webview::WebView& w) { w.set_html("<html><body>main</body></html>"); }
