// Web host over WebKitGTK 4.1. The page side of the calling convention is a
// small script installed at document start in every page: each bound name
// becomes a global function that files a promise under a fresh call id and
// posts {id, name, params} to the "pmrhost" script message handler. The
// native side answers by evaluating window.__pmrHost.settle(id, status, text)
// in the page, which resolves or rejects that promise.
#include "platform/os_webview.h"

#include "base/json_escape.h"
#include "base/read_file.h"
#include "platform/linux/gtk/handoff.h"

#include <gtk/gtk.h>
#include <malloc.h>
#include <webkit2/webkit2.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <utility>
#include <vector>

namespace webview {

namespace {

constexpr const char* kMessageChannel = "pmrhost";
// How long after a page finished loading its leftovers are collected.
constexpr guint kSettleSeconds = 3;

// Installed before any other user script. Call ids carry a per-document
// random prefix so an answer meant for a page that has since been replaced
// never settles a promise of the new page.
constexpr const char* kHostScript = R"JS((function () {
  if (window.__pmrHost) return;
  var pending = Object.create(null);
  var seq = 0;
  var prefix = Math.random().toString(36).slice(2) + Date.now().toString(36) + "-";
  function call(name, args) {
    var id = prefix + (++seq);
    return new Promise(function (resolve, reject) {
      var params;
      try {
        params = JSON.stringify(args);
      } catch (e) {
        reject(e);
        return;
      }
      pending[id] = { resolve: resolve, reject: reject };
      try {
        window.webkit.messageHandlers.pmrhost.postMessage({ id: id, name: name, params: params });
      } catch (e) {
        delete pending[id];
        reject(e);
      }
    });
  }
  function settle(id, status, text) {
    var p = pending[id];
    if (!p) return;
    delete pending[id];
    var value;
    if (text === "") {
      value = undefined;
    } else {
      try {
        value = JSON.parse(text);
      } catch (e) {
        p.reject(status === 0 ? new SyntaxError("native result is not JSON: " + text) : text);
        return;
      }
    }
    if (status === 0) p.resolve(value); else p.reject(value);
  }
  Object.defineProperty(window, "__pmrHost", {
    value: Object.freeze({ call: call, settle: settle }),
    writable: false, configurable: false, enumerable: false
  });
})();)JS";

std::string BindScript(const std::string& name) {
  const std::string n = json_escape(name);
  return "(function(){var n=" + n +
         ";window[n]=function(){return window.__pmrHost.call(n,Array.prototype.slice.call(arguments));};})();";
}

// Runs one posted task; exceptions must not unwind through GLib.
gboolean RunTask(gpointer data) {
  auto* fn = static_cast<std::function<void()>*>(data);
  HandoffRunning(fn);
  try {
    (*fn)();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "webview: posted task failed: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "webview: posted task failed\n");
  }
  return G_SOURCE_REMOVE;
}

void DeleteTask(gpointer data) {
  HandoffRunning(data);  // a task dropped unrun is still the poster's data
  delete static_cast<std::function<void()>*>(data);
}

void Post(std::function<void()> fn) {
  auto* task = new std::function<void()>(std::move(fn));
  HandoffPosted(task);
  g_idle_add_full(G_PRIORITY_HIGH_IDLE, RunTask, task, DeleteTask);
}

std::string StringProperty(JSCValue* obj, const char* key) {
  std::string out;
  JSCValue* v = jsc_value_object_get_property(obj, key);
  if (v && jsc_value_is_string(v)) {
    char* s = jsc_value_to_string(v);
    if (s) out = s;
    g_free(s);
  }
  if (v) g_object_unref(v);
  return out;
}

// Script text must be UTF-8; a handler result that is not would make the
// whole answer script fail and leave the page's promise pending forever.
std::string ValidUtf8(const std::string& s) {
  if (g_utf8_validate(s.data(), static_cast<gssize>(s.size()), nullptr)) return s;
  gchar* fixed = g_utf8_make_valid(s.data(), static_cast<gssize>(s.size()));
  std::string out(fixed);
  g_free(fixed);
  return out;
}

}  // namespace

std::string json_escape(const std::string& text) { return JsonEscapeForBind(text); }

// The pages run a few small handlers, for which JavaScriptCore's interpreter
// is quick enough; its JIT compilers cost the web process about 7 MB.
// WebKit's memory pressure monitor reads the cgroup's memory files a byte per
// system call every few seconds for the whole run (about a third of what the
// idle program spent of the processor); the one small local page it would
// trim under pressure has little to give back. The view never composites
// with the GPU (see ApplyLeanSettings), so the DMA-BUF renderer, which would
// open an EGL display in this process at start (about 170 ms and 3 MB here),
// has nothing to do. Each stays as the user sets it.
void prepare_environment() {
  setenv("JSC_useJIT", "0", 0);
  setenv("WEBKIT_DISABLE_MEMORY_PRESSURE_MONITOR", "1", 0);
  setenv("WEBKIT_DISABLE_DMABUF_RENDERER", "1", 0);
}

bool started_for_automation() {
  const std::string all = ReadFile("/proc/self/cmdline");
  size_t start = all.find('\0');  // skip the program path
  while (start != std::string::npos && start + 1 < all.size()) {
    size_t end = all.find('\0', start + 1);
    std::string arg = all.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
    if (arg == "--automation") return true;
    start = end;
  }
  return false;
}

struct WebView::Impl {
  struct Binding {
    std::shared_ptr<SyncHandler> sync;
    std::shared_ptr<AsyncHandler> async;
  };
  struct Script {
    std::string binding;  // the bound name for binding scripts, empty for init scripts
    std::string source;
  };

  GtkWidget* window = nullptr;
  WebKitWebView* view = nullptr;
  WebKitUserContentManager* manager = nullptr;
  WebKitWebContext* context = nullptr;
  gulong automation_handler = 0;
  std::vector<WebKitAutomationSession*> sessions;  // referenced while we answer them
  bool automation = false;
  bool load_begun = false;
  guint settle_timer = 0;
  GMainLoop* loop = nullptr;
  std::atomic<bool> stop_requested{false};
  std::map<std::string, Binding> bindings;
  std::vector<Script> scripts;

  void AddUserScript(const std::string& src) {
    WebKitUserScript* s =
        webkit_user_script_new(src.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(manager, s);
    webkit_user_script_unref(s);
  }

  void RebuildUserScripts() {
    webkit_user_content_manager_remove_all_scripts(manager);
    AddUserScript(kHostScript);
    for (const Script& s : scripts) AddUserScript(s.source);
  }

  void Evaluate(const std::string& js) {
    if (!view || !load_begun) return;
    const std::string src = ValidUtf8(js);
    webkit_web_view_evaluate_javascript(view, src.c_str(), static_cast<gssize>(src.size()), nullptr,
                                        nullptr, nullptr, nullptr, nullptr);
  }

  void Settle(const std::string& id, int status, const std::string& result) {
    Evaluate("window.__pmrHost&&window.__pmrHost.settle(" + json_escape(id) + "," +
             std::to_string(status == 0 ? 0 : 1) + "," + json_escape(ValidUtf8(result)) + ");");
  }

  void OnMessage(JSCValue* msg) {
    if (!msg || !jsc_value_is_object(msg)) return;
    const std::string id = StringProperty(msg, "id");
    const std::string name = StringProperty(msg, "name");
    const std::string params = StringProperty(msg, "params");
    if (id.empty()) return;
    auto it = bindings.find(name);
    if (it == bindings.end()) {
      Settle(id, 1, json_escape("no native function named " + name));
      return;
    }
    // Copies keep the handler alive even when it unbinds itself.
    std::shared_ptr<SyncHandler> sync = it->second.sync;
    std::shared_ptr<AsyncHandler> async = it->second.async;
    try {
      if (sync) {
        std::string result = (*sync)(params);
        Settle(id, 0, result);
      } else if (async) {
        (*async)(id, params);
      }
    } catch (const std::exception& e) {
      Settle(id, 1, json_escape(e.what()));
    } catch (...) {
      Settle(id, 1, json_escape("native function failed"));
    }
  }

  void Quit() {
    if (loop && g_main_loop_is_running(loop)) g_main_loop_quit(loop);
  }

  static void OnScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* r, gpointer self) {
    static_cast<Impl*>(self)->OnMessage(webkit_javascript_result_get_js_value(r));
  }
  static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent ev, gpointer self) {
    auto* d = static_cast<Impl*>(self);
    if (ev == WEBKIT_LOAD_STARTED) d->load_begun = true;
    if (ev != WEBKIT_LOAD_FINISHED) return;
    // Start-up and loading the page free much of what they allocated, but
    // the allocator keeps the freed pages: once the page has settled, they
    // go back to the system.
    if (d->settle_timer) g_source_remove(d->settle_timer);
    d->settle_timer = g_timeout_add_seconds(kSettleSeconds, OnSettled, d);
  }
  static gboolean OnSettled(gpointer self) {
    auto* d = static_cast<Impl*>(self);
    d->settle_timer = 0;
    malloc_trim(0);
    return G_SOURCE_REMOVE;
  }
  // Connected after every other handler: when nobody blocked the close, the
  // window is kept (so its placement can still be read) and run() ends.
  static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer self) {
    auto* d = static_cast<Impl*>(self);
    d->stop_requested = true;
    d->Quit();
    return TRUE;
  }
  static void OnDestroy(GtkWidget*, gpointer self) {
    auto* d = static_cast<Impl*>(self);
    d->window = nullptr;
    d->view = nullptr;
    d->stop_requested = true;
    d->Quit();
  }
  // An automation session closing its browsing context ends the program's loop.
  static void OnViewClose(WebKitWebView*, gpointer self) {
    auto* d = static_cast<Impl*>(self);
    d->stop_requested = true;
    d->Quit();
  }
  static WebKitWebView* OnCreateWebView(WebKitAutomationSession*, gpointer self) {
    return static_cast<Impl*>(self)->view;
  }
  static void OnAutomationStarted(WebKitWebContext*, WebKitAutomationSession* session, gpointer self) {
    auto* d = static_cast<Impl*>(self);
    d->sessions.push_back(WEBKIT_AUTOMATION_SESSION(g_object_ref(session)));
    g_signal_connect(session, "create-web-view", G_CALLBACK(OnCreateWebView), self);
  }
};

namespace {

// The view shows one local document that is never navigated away from: no
// caches sized for browsing, no back-forward cache, and none of the engines
// the pages never use (3D, audio, media, real-time communication), which
// would otherwise cost memory in the web process.
void ApplyLeanSettings(WebKitWebContext* context, WebKitSettings* settings) {
  webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  webkit_settings_set_enable_page_cache(settings, FALSE);
  webkit_settings_set_enable_offline_web_application_cache(settings, FALSE);
  webkit_settings_set_enable_html5_database(settings, FALSE);
  webkit_settings_set_enable_dns_prefetching(settings, FALSE);
  G_GNUC_END_IGNORE_DEPRECATIONS
  webkit_settings_set_enable_webgl(settings, FALSE);
  webkit_settings_set_enable_webaudio(settings, FALSE);
  webkit_settings_set_enable_media(settings, FALSE);
  webkit_settings_set_enable_media_stream(settings, FALSE);
  webkit_settings_set_enable_mediasource(settings, FALSE);
  webkit_settings_set_enable_encrypted_media(settings, FALSE);
  webkit_settings_set_enable_webrtc(settings, FALSE);
  webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
}

}  // namespace

WebView::WebView() : impl_(std::make_shared<Impl>()) {
  if (!gtk_init_check(nullptr, nullptr)) throw std::runtime_error("webview: cannot open a display");
  Impl& d = *impl_;
  d.automation = started_for_automation();
  d.context = webkit_web_context_get_default();
  if (d.automation) {
    webkit_web_context_set_automation_allowed(d.context, TRUE);
    d.automation_handler = g_signal_connect(d.context, "automation-started",
                                            G_CALLBACK(Impl::OnAutomationStarted), &d);
  }

  d.manager = webkit_user_content_manager_new();
  g_signal_connect(d.manager, "script-message-received::pmrhost", G_CALLBACK(Impl::OnScriptMessage), &d);
  webkit_user_content_manager_register_script_message_handler(d.manager, kMessageChannel);
  d.RebuildUserScripts();

  d.view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", d.context,
                                        "user-content-manager", d.manager,
                                        "is-controlled-by-automation", d.automation ? TRUE : FALSE,
                                        nullptr));
  WebKitSettings* settings = webkit_web_view_get_settings(d.view);
  webkit_settings_set_enable_developer_extras(settings, FALSE);
  webkit_settings_set_javascript_can_access_clipboard(settings, TRUE);
  ApplyLeanSettings(d.context, settings);
  g_signal_connect(d.view, "load-changed", G_CALLBACK(Impl::OnLoadChanged), &d);
  if (d.automation) g_signal_connect(d.view, "close", G_CALLBACK(Impl::OnViewClose), &d);

  d.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  g_signal_connect_after(d.window, "delete-event", G_CALLBACK(Impl::OnDelete), &d);
  g_signal_connect(d.window, "destroy", G_CALLBACK(Impl::OnDestroy), &d);
  gtk_container_add(GTK_CONTAINER(d.window), GTK_WIDGET(d.view));
  gtk_widget_grab_focus(GTK_WIDGET(d.view));
  gtk_widget_show_all(d.window);
}

WebView::~WebView() {
  if (!impl_) return;
  Impl& d = *impl_;
  if (d.settle_timer) g_source_remove(d.settle_timer);
  d.settle_timer = 0;
  if (d.automation_handler) g_signal_handler_disconnect(d.context, d.automation_handler);
  for (WebKitAutomationSession* s : d.sessions) {
    g_signal_handlers_disconnect_by_data(s, &d);
    g_object_unref(s);
  }
  if (d.view) g_signal_handlers_disconnect_by_data(d.view, &d);
  if (d.window) {
    g_signal_handlers_disconnect_by_data(d.window, &d);
    GtkWidget* w = d.window;
    d.window = nullptr;
    d.view = nullptr;
    gtk_widget_destroy(w);
  }
  if (d.manager) {
    g_signal_handlers_disconnect_by_data(d.manager, &d);
    webkit_user_content_manager_unregister_script_message_handler(d.manager, kMessageChannel);
    g_object_unref(d.manager);
    d.manager = nullptr;
  }
  if (d.loop) g_main_loop_quit(d.loop);
}

void* WebView::window() const { return impl_->window; }
void* WebView::view() const { return impl_->view; }
bool WebView::automation() const { return impl_->automation; }

void WebView::bind(const std::string& name, SyncHandler fn) {
  Impl& d = *impl_;
  bool existed = d.bindings.count(name) != 0;
  d.bindings[name] = Impl::Binding{std::make_shared<SyncHandler>(std::move(fn)), nullptr};
  if (existed) return;
  d.scripts.push_back({name, BindScript(name)});
  d.AddUserScript(d.scripts.back().source);
  d.Evaluate(d.scripts.back().source);
}

void WebView::bind_async(const std::string& name, AsyncHandler fn) {
  Impl& d = *impl_;
  bool existed = d.bindings.count(name) != 0;
  d.bindings[name] = Impl::Binding{nullptr, std::make_shared<AsyncHandler>(std::move(fn))};
  if (existed) return;
  d.scripts.push_back({name, BindScript(name)});
  d.AddUserScript(d.scripts.back().source);
  d.Evaluate(d.scripts.back().source);
}

void WebView::unbind(const std::string& name) {
  Impl& d = *impl_;
  if (!d.bindings.erase(name)) return;
  std::erase_if(d.scripts, [&](const Impl::Script& s) { return s.binding == name; });
  d.RebuildUserScripts();
  d.Evaluate("delete window[" + json_escape(name) + "];");
}

void WebView::resolve(const std::string& id, int status, const std::string& result) {
  std::weak_ptr<Impl> weak = impl_;
  Post([weak, id, status, result] {
    if (auto d = weak.lock()) d->Settle(id, status, result);
  });
}

void WebView::init(const std::string& js) {
  Impl& d = *impl_;
  d.scripts.push_back({std::string(), js});
  d.AddUserScript(js);
}

void WebView::eval(const std::string& js) {
  std::weak_ptr<Impl> weak = impl_;
  Post([weak, js] {
    if (auto d = weak.lock()) d->Evaluate(js);
  });
}

void WebView::dispatch(std::function<void()> fn) {
  if (fn) Post(std::move(fn));
}

void WebView::set_title(const std::string& title) {
  if (impl_->window) gtk_window_set_title(GTK_WINDOW(impl_->window), title.c_str());
}

void WebView::set_size(int width, int height, Hint hint) {
  GtkWidget* w = impl_->window;
  if (!w || width <= 0 || height <= 0) return;
  GtkWindow* win = GTK_WINDOW(w);
  switch (hint) {
    case Hint::Fixed:
      gtk_window_set_geometry_hints(win, nullptr, nullptr, GdkWindowHints(0));
      gtk_window_set_resizable(win, FALSE);
      gtk_widget_set_size_request(w, width, height);
      gtk_window_resize(win, width, height);
      break;
    case Hint::Min:
    case Hint::Max: {
      gtk_window_set_resizable(win, TRUE);
      gtk_widget_set_size_request(w, -1, -1);
      GdkGeometry g{};
      g.min_width = g.max_width = width;
      g.min_height = g.max_height = height;
      gtk_window_set_geometry_hints(win, nullptr, &g,
                                    hint == Hint::Min ? GDK_HINT_MIN_SIZE : GDK_HINT_MAX_SIZE);
      break;
    }
    case Hint::None:
      gtk_window_set_geometry_hints(win, nullptr, nullptr, GdkWindowHints(0));
      gtk_window_set_resizable(win, TRUE);
      gtk_widget_set_size_request(w, -1, -1);
      gtk_window_resize(win, width, height);
      break;
  }
}

void WebView::set_html(const std::string& html) {
  Impl& d = *impl_;
  if (!d.view) return;
  d.load_begun = true;
  webkit_web_view_load_html(d.view, html.c_str(), nullptr);
}

void WebView::navigate(const std::string& url) {
  Impl& d = *impl_;
  if (!d.view) return;
  d.load_begun = true;
  webkit_web_view_load_uri(d.view, url.c_str());
}

void WebView::run() {
  Impl& d = *impl_;
  if (d.stop_requested.exchange(false)) return;
  if (!d.window) return;  // nothing could ever end the loop
  d.loop = g_main_loop_new(nullptr, FALSE);
  g_main_loop_run(d.loop);
  g_main_loop_unref(d.loop);
  d.loop = nullptr;
  d.stop_requested = false;
}

void WebView::terminate() {
  impl_->stop_requested = true;
  std::weak_ptr<Impl> weak = impl_;
  // A stop that run() has already consumed (terminate before run) must not
  // end a later run, so the task quits only while the request stands.
  Post([weak] {
    if (auto d = weak.lock(); d && d->stop_requested) d->Quit();
  });
}

}  // namespace webview
