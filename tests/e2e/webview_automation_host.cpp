// A minimal program on the web host, for attaching a WebDriver session: one
// page and one bound function. With "--automation" (as WebKitWebDriver starts
// a browser) the view accepts the session; otherwise it just shows the page.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "platform/os_webview.h"

int main() {
  try {
    webview::WebView w;
    w.set_title("Automation host");
    w.set_size(480, 320);
    // hostAdd(a, b): the sum of two integers.
    w.bind("hostAdd", [](const std::string& args) {
      long a = 0, b = 0;
      if (std::sscanf(args.c_str(), "[%ld,%ld]", &a, &b) != 2) return std::string("null");
      return std::to_string(a + b);
    });
    w.set_html(
        "<!doctype html><html><head><title>automation host</title></head>"
        "<body><p id=\"msg\">ready</p></body></html>");
    w.run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "automation host: %s\n", e.what());
    return 1;
  }
  return 0;
}
