#pragma once
// The web host app/ drives: one window with one web view, page functions bound
// to native handlers, user scripts, posting work to the main loop. Implemented
// over WebKitGTK 4.1 and GTK 3 by platform/linux/gtk/webview.cpp; this header
// includes no GTK headers.
//
// Calling convention: a bound name is a global page function returning a
// promise. The handler receives the JSON array of the call's arguments as
// text. An empty result resolves the promise with `undefined`; any other result
// must be JSON and resolves it with the parsed value; invalid JSON rejects.
// Handlers run on the main thread, one at a time.
//
// Threads: dispatch, eval, resolve and terminate may be called from any
// thread; everything else belongs to the main (GTK) thread.
//
// Automation: when the process was started by WebKitWebDriver (its command
// line carries the argument "--automation"), the web context accepts
// automation sessions and every session's request for a browsing context is
// answered with this view, which is then created as controlled by automation.
#include <functional>
#include <memory>
#include <string>

namespace webview {

// The program's JSON string escape (JsonEscapeForBind), under the host's name.
std::string json_escape(const std::string& text);

// True when /proc/self/cmdline holds the argument "--automation" (the way
// WebKitWebDriver starts a browser binary).
bool started_for_automation();

// Engine settings that only the environment carries (WebKit's own processes
// inherit it). Call first thing in main, before any thread starts; a value
// the user set is kept.
void prepare_environment();

enum class Hint { None, Min, Max, Fixed };

class WebView {
 public:
  using SyncHandler = std::function<std::string(const std::string& args)>;
  // Async handlers answer later (from any thread) with resolve(id, status, result).
  using AsyncHandler = std::function<void(const std::string& id, const std::string& args)>;

  // Creates and shows the window and the view (developer tools off, page
  // clipboard access on). Initialises GTK when that has not been done yet;
  // throws std::runtime_error when no display can be opened.
  WebView();
  // Destroys the window and the view. Main thread.
  ~WebView();
  WebView(const WebView&) = delete;
  WebView& operator=(const WebView&) = delete;

  // The GtkWindow* and the WebKitWebView*. Closing the window by the user
  // ends run() but keeps both alive until the WebView is destroyed; when some
  // other code destroys the window, both become null.
  void* window() const;
  void* view() const;

  // Binding an existing name replaces its handler. A handler that throws
  // rejects the call with the exception's message.
  void bind(const std::string& name, SyncHandler fn);
  void bind_async(const std::string& name, AsyncHandler fn);
  void unbind(const std::string& name);
  // Answers an async call; status 0 resolves, anything else rejects. Any
  // thread; an id that is unknown (already answered, or its page has gone) is
  // ignored by the page.
  void resolve(const std::string& id, int status, const std::string& result);

  void init(const std::string& js);      // runs at document start in every page
  void eval(const std::string& js);      // posted; dropped before any page began loading
  void dispatch(std::function<void()> fn);  // any thread; runs on the main loop, in order
  void set_title(const std::string& title);
  void set_size(int width, int height, Hint hint = Hint::None);
  void set_html(const std::string& html);  // no base URI
  void navigate(const std::string& url);
  // Runs the main loop until terminate() or the window is closed. When
  // terminate() came first, returns at once.
  void run();
  void terminate();  // any thread

  bool automation() const;  // created as controlled by automation

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace webview

