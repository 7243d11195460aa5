#pragma once
// Thin web host over WebKitGTK 4.1 and GTK 3: one window with one web view,
// page functions bound to native handlers, user scripts, posting work to the
// main loop. This header includes no GTK headers so portable code can use it.
//
// Calling convention: a bound name is a global page function returning a
// promise. The handler receives the JSON array of the call's arguments as
// text. An empty result resolves the promise with `undefined`; any other result
// must be JSON and resolves it with the parsed value; invalid JSON rejects.
#include <functional>
#include <memory>
#include <string>

namespace webview {

// A text as a quoted JSON string.
std::string json_escape(const std::string& text);

enum class Hint { None, Min, Max, Fixed };

class WebView {
 public:
  using SyncHandler = std::function<std::string(const std::string& args)>;
  // Async handlers answer later (from any thread) with resolve(id, status, result).
  using AsyncHandler = std::function<void(const std::string& id, const std::string& args)>;

  // Creates the window and the view (developer tools off, page clipboard
  // access on). When the process was started by WebKitWebDriver the view
  // accepts automation; ordinary starts are unchanged.
  WebView();
  ~WebView();
  WebView(const WebView&) = delete;
  WebView& operator=(const WebView&) = delete;

  void* window() const;  // the GtkWindow*
  void* view() const;    // the WebKitWebView*

  void bind(const std::string& name, SyncHandler fn);
  void bind_async(const std::string& name, AsyncHandler fn);
  void unbind(const std::string& name);
  // Answers an async call; status 0 resolves, anything else rejects. Any thread.
  void resolve(const std::string& id, int status, const std::string& result);

  void init(const std::string& js);      // runs at document start in every page
  void eval(const std::string& js);      // posted; dropped before any page began loading
  void dispatch(std::function<void()> fn);  // any thread; runs on the main loop
  void set_title(const std::string& title);
  void set_size(int width, int height, Hint hint = Hint::None);
  void set_html(const std::string& html);
  void navigate(const std::string& url);
  void run();
  void terminate();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace webview

// The program's single JSON string escape.
inline std::string JsonEscapeForBind(const std::string& text) { return webview::json_escape(text); }
