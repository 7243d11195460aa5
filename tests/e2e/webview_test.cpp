// The web host on a real X display: bound functions and their calling
// convention, user scripts, eval, dispatch, window size and the main loop.
#include "platform/os_webview.h"

#include <gtk/gtk.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/gtk_test_env.h"

namespace {

constexpr int kLoadTimeoutMs = 20000;

// Expected argument text of a call report(key, value) made by the page.
std::string Report(const std::string& key, const std::string& value) {
  return "[" + webview::json_escape(key) + "," + webview::json_escape(value) + "]";
}

class WebViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pmrtest::InitGtkOnce()) << "no display";
    w = std::make_unique<webview::WebView>();
    w->bind("report", [this](const std::string& args) {
      reports.push_back(args);
      return std::string();
    });
  }
  void TearDown() override {
    pmrtest::SpinFor(50);  // let tasks posted by the test run while it exists
    w.reset();
  }

  bool HasReport(const std::string& args) const {
    for (const std::string& r : reports)
      if (r == args) return true;
    return false;
  }
  bool WaitReport(const std::string& args, int timeout_ms = kLoadTimeoutMs) {
    return pmrtest::SpinUntil([&] { return HasReport(args); }, timeout_ms);
  }
  // Loads a page whose script ends by reporting ("loaded", "1").
  bool Load(const std::string& body_script) {
    w->set_html("<!doctype html><html><body><script>" + body_script +
                "\nreport('loaded','1');</script></body></html>");
    return WaitReport(Report("loaded", "1"));
  }

  std::unique_ptr<webview::WebView> w;
  std::vector<std::string> reports;
};

TEST_F(WebViewTest, SyncCallsFollowTheCallingConvention) {
  std::vector<std::string> echoed;
  w->bind("echo", [&](const std::string& args) {
    echoed.push_back(args);
    return args;  // the argument array is valid JSON
  });
  w->bind("nothing", [](const std::string&) { return std::string(); });
  w->bind("notJson", [](const std::string&) { return std::string("{not json"); });
  w->bind("text", [](const std::string&) { return webview::json_escape("q\"uote\\ line\n\x01 caf\xc3\xa9"); });
  w->bind("number", [](const std::string&) { return std::string("42"); });
  w->bind("thrower", [](const std::string&) -> std::string { throw std::runtime_error("boom \"x\""); });
  w->bind("badUtf8", [](const std::string&) { return std::string("\"a\xff") + "b\""; });

  ASSERT_TRUE(Load(R"JS(
    (async function () {
      const e = await echo("a\"b", 2, [3], {k: null}, true);
      report("echo", JSON.stringify(e));
      const e1 = await echo("x,y");
      report("echo1", JSON.stringify(e1));
      const none = await nothing(1, 2);
      report("nothing", typeof none);
      try { await notJson(); report("notJson", "resolved"); }
      catch (err) { report("notJson", "rejected " + (err instanceof SyntaxError)); }
      report("text", await text());
      const n = await number();
      report("number", typeof n + " " + n);
      try { await thrower(); report("thrower", "resolved"); }
      catch (err) { report("thrower", "rejected " + err); }
      report("badUtf8", await badUtf8());
      report("done", "1");
    })();
  )JS"));
  ASSERT_TRUE(WaitReport(Report("done", "1")));
  EXPECT_TRUE(HasReport(Report("echo", "[\"a\\\"b\",2,[3],{\"k\":null},true]")));
  EXPECT_TRUE(HasReport(Report("echo1", "[\"x,y\"]")));
  EXPECT_TRUE(HasReport(Report("nothing", "undefined")));
  EXPECT_TRUE(HasReport(Report("notJson", "rejected true")));
  EXPECT_TRUE(HasReport(Report("text", "q\"uote\\ line\n\x01 caf\xc3\xa9")));
  EXPECT_TRUE(HasReport(Report("number", "number 42")));
  EXPECT_TRUE(HasReport(Report("thrower", "rejected boom \"x\"")));
  EXPECT_TRUE(HasReport(Report("badUtf8", "a\xef\xbf\xbd" "b")));
  ASSERT_EQ(echoed.size(), 2u);
  EXPECT_EQ(echoed[0], "[\"a\\\"b\",2,[3],{\"k\":null},true]");
  EXPECT_EQ(echoed[1], "[\"x,y\"]");
}

TEST_F(WebViewTest, AsyncCallsAnsweredFromOtherThreads) {
  std::vector<std::thread> workers;
  const auto main_id = std::this_thread::get_id();
  bool handler_on_main = true;
  // Every call is answered from its own thread, later calls sooner, so the
  // answers arrive in the reverse order of the calls.
  w->bind_async("later", [&](const std::string& id, const std::string& args) {
    handler_on_main = handler_on_main && std::this_thread::get_id() == main_id;
    int n = std::stoi(args.substr(1));
    workers.emplace_back([this, id, args, n] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200 - n * 10));
      if (n == 7)
        w->resolve(id, 1, webview::json_escape("no seven"));
      else
        w->resolve(id, 0, "{\"n\":" + std::to_string(n) + ",\"args\":" + args + "}");
    });
  });
  ASSERT_TRUE(Load(R"JS(
    (async function () {
      const calls = [];
      for (let i = 0; i < 12; i++) calls.push(later(i, "x" + i).then(
          v => "ok " + v.n + " " + v.args[1], e => "err " + e));
      report("async", (await Promise.all(calls)).join("|"));
    })();
  )JS"));
  ASSERT_TRUE(WaitReport(
      Report("async", "ok 0 x0|ok 1 x1|ok 2 x2|ok 3 x3|ok 4 x4|ok 5 x5|ok 6 x6|err no seven|"
                      "ok 8 x8|ok 9 x9|ok 10 x10|ok 11 x11")));
  EXPECT_TRUE(handler_on_main);
  for (auto& t : workers) t.join();
}

TEST_F(WebViewTest, UnknownAndStaleAnswersAreIgnored) {
  std::string saved_id;
  std::vector<std::string> ids;
  w->bind_async("never", [&](const std::string& id, const std::string&) { ids.push_back(id); });
  ASSERT_TRUE(Load("never().then(() => report('never', 'settled'));"));
  ASSERT_TRUE(pmrtest::SpinUntil([&] { return ids.size() == 1; }, kLoadTimeoutMs));
  saved_id = ids[0];
  // The page is replaced before the answer comes: the new page must not
  // see the old answer, and answering twice or with a made-up id is harmless.
  reports.clear();
  ASSERT_TRUE(Load("never().then(() => report('never', 'new page settled'));"));
  w->resolve(saved_id, 0, "");
  w->resolve(saved_id, 0, "");
  w->resolve("made-up", 0, "1");
  w->eval("report('probe','1')");
  ASSERT_TRUE(WaitReport(Report("probe", "1")));
  pmrtest::SpinFor(200);
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_NE(ids[0], ids[1]);
  EXPECT_FALSE(HasReport(Report("never", "new page settled")));
  EXPECT_FALSE(HasReport(Report("never", "settled")));
}

TEST_F(WebViewTest, BindReplaceAndUnbind) {
  w->bind("which", [](const std::string&) { return std::string("1"); });
  w->bind("which", [](const std::string&) { return std::string("2"); });
  w->bind("gone", [](const std::string&) { return std::string("3"); });
  ASSERT_TRUE(Load("which().then(v => report('which', String(v)));"));
  ASSERT_TRUE(WaitReport(Report("which", "2")));

  // Unbinding removes the function from the current page and later pages.
  w->unbind("gone");
  w->eval("report('now', typeof gone)");
  ASSERT_TRUE(WaitReport(Report("now", "undefined")));
  ASSERT_TRUE(Load("report('later', typeof gone + ' ' + typeof which);"));
  EXPECT_TRUE(WaitReport(Report("later", "undefined function")));

  // A name bound after the page loaded is usable at once.
  w->bind("fresh", [](const std::string&) { return std::string("\"yes\""); });
  w->eval("fresh().then(v => report('fresh', v))");
  EXPECT_TRUE(WaitReport(Report("fresh", "yes")));
}

TEST_F(WebViewTest, InitScriptRunsAtStartOfEveryPage) {
  w->init("window.__mark = (window.__mark || 0) + 1; report('init', location.protocol + ' ' + "
          "(document.body === null));");
  ASSERT_TRUE(Load("report('page', String(window.__mark));"));
  EXPECT_TRUE(HasReport(Report("init", "about: true")));
  EXPECT_TRUE(HasReport(Report("page", "1")));

  reports.clear();
  w->navigate("data:text/html,<script>report('page', 'data ' + window.__mark)</script>");
  EXPECT_TRUE(WaitReport(Report("page", "data 1")));
  EXPECT_TRUE(HasReport(Report("init", "data: true")));

  char dir_template[] = "/tmp/pmr-webview-XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const std::string file = std::string(dir_template) + "/page.html";
  {
    std::ofstream out(file);
    out << "<!doctype html><script>report('page', 'file ' + window.__mark)</script>";
  }
  reports.clear();
  w->navigate("file://" + file);
  EXPECT_TRUE(WaitReport(Report("page", "file 1")));
  EXPECT_TRUE(HasReport(Report("init", "file: true")));
  std::remove(file.c_str());
  rmdir(dir_template);
}

TEST_F(WebViewTest, EvalBeforeAnyLoadIsDropped) {
  int probes = 0;
  w->bind("probe", [&](const std::string&) {
    ++probes;
    return std::string();
  });
  // Speaks to the message channel directly, so it would be heard even in
  // the view's initial empty document.
  const std::string call =
      "window.webkit.messageHandlers.pmrhost.postMessage({id: 'early', name: 'probe', params: '[]'})";
  w->eval(call);
  pmrtest::SpinFor(500);
  ASSERT_TRUE(Load(""));
  pmrtest::SpinFor(200);
  EXPECT_EQ(probes, 0);
  w->eval(call);
  EXPECT_TRUE(pmrtest::SpinUntil([&] { return probes == 1; }, kLoadTimeoutMs));
}

TEST_F(WebViewTest, EvalsFromAThreadRunInOrder) {
  std::vector<std::string> seen;
  w->bind("seq", [&](const std::string& args) {
    seen.push_back(args);
    return std::string();
  });
  ASSERT_TRUE(Load(""));
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i) w->eval("seq(" + std::to_string(i) + ")");
  });
  poster.join();
  ASSERT_TRUE(pmrtest::SpinUntil([&] { return seen.size() == 100; }, kLoadTimeoutMs));
  for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[i], "[" + std::to_string(i) + "]");
}

TEST_F(WebViewTest, DispatchRunsOnMainThreadInOrderPerThread) {
  constexpr int kThreads = 4, kTasks = 500;
  const auto main_id = std::this_thread::get_id();
  std::vector<std::pair<int, int>> ran;  // touched only on the main thread
  std::atomic<int> off_main{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kTasks; ++i)
        w->dispatch([&, t, i] {
          if (std::this_thread::get_id() != main_id) ++off_main;
          ran.emplace_back(t, i);
        });
    });
  for (auto& th : threads) th.join();
  ASSERT_TRUE(pmrtest::SpinUntil([&] { return ran.size() == kThreads * kTasks; }, 60000));
  EXPECT_EQ(off_main.load(), 0);
  std::vector<int> next(kThreads, 0);
  for (auto [t, i] : ran) {
    EXPECT_EQ(i, next[t]) << "thread " << t;
    next[t] = i + 1;
  }
}

// run() with a watchdog so a broken stop cannot hang the test.
bool RunWithWatchdog(webview::WebView& w, int timeout_ms) {
  std::atomic<bool> returned{false}, fired{false};
  std::thread dog([&] {
    for (int i = 0; i < timeout_ms / 10 && !returned; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!returned) {
      fired = true;
      w.terminate();
    }
  });
  w.run();
  returned = true;
  dog.join();
  return !fired;
}

TEST_F(WebViewTest, TerminateFromAnotherThreadEndsRun) {
  ASSERT_TRUE(Load(""));
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    w->terminate();
  });
  EXPECT_TRUE(RunWithWatchdog(*w, 10000));
  stopper.join();
  // A terminate that comes before run() makes run() return at once.
  w->terminate();
  EXPECT_TRUE(RunWithWatchdog(*w, 10000));
  // The loop runs again afterwards (the consumed stop does not end it) and
  // still hears the page, whose call stops it from the main thread.
  int stops = 0;
  w->bind("stopNow", [&](const std::string&) {
    ++stops;
    w->terminate();
    return std::string();
  });
  w->eval("stopNow()");
  EXPECT_TRUE(RunWithWatchdog(*w, 10000));
  EXPECT_EQ(stops, 1);
}

TEST_F(WebViewTest, ClosingTheWindowEndsRunAndKeepsItUntilDestroyed) {
  ASSERT_TRUE(Load(""));
  GtkWindow* win = GTK_WINDOW(w->window());
  w->dispatch([win] { gtk_window_close(win); });
  EXPECT_TRUE(RunWithWatchdog(*w, 10000));
  ASSERT_EQ(w->window(), static_cast<void*>(win));
  int width = 0, height = 0;
  gtk_window_get_size(win, &width, &height);
  EXPECT_GT(width, 0);
  EXPECT_GT(height, 0);
}

TEST_F(WebViewTest, DestroyingTheWindowEndsRun) {
  ASSERT_TRUE(Load(""));
  GtkWidget* win = GTK_WIDGET(w->window());
  w->dispatch([win] { gtk_widget_destroy(win); });
  EXPECT_TRUE(RunWithWatchdog(*w, 10000));
  EXPECT_EQ(w->window(), nullptr);
  EXPECT_EQ(w->view(), nullptr);
  // Nothing may touch the destroyed window any more.
  w->set_title("x");
  w->set_size(10, 10);
  w->set_html("<p>x</p>");
  w->eval("1");
  pmrtest::SpinFor(50);
}

TEST_F(WebViewTest, TitleSizeAndSettings) {
  GtkWindow* win = GTK_WINDOW(w->window());
  auto* view = WEBKIT_WEB_VIEW(w->view());
  WebKitSettings* settings = webkit_web_view_get_settings(view);
  EXPECT_FALSE(webkit_settings_get_enable_developer_extras(settings));
  EXPECT_TRUE(webkit_settings_get_javascript_can_access_clipboard(settings));
  EXPECT_FALSE(webkit_web_view_is_controlled_by_automation(view));
  EXPECT_FALSE(w->automation());

  w->set_title("Pellomar \xc3\xa9");
  EXPECT_STREQ(gtk_window_get_title(win), "Pellomar \xc3\xa9");

  auto size_is = [&](int want_w, int want_h) {
    return pmrtest::SpinUntil([&] {
      int ww = 0, hh = 0;
      gtk_window_get_size(win, &ww, &hh);
      return ww == want_w && hh == want_h;
    }, 60000);
  };
  w->set_size(420, 560);
  EXPECT_TRUE(size_is(420, 560));
  EXPECT_TRUE(gtk_window_get_resizable(win));

  w->set_size(300, 250, webview::Hint::Fixed);
  EXPECT_TRUE(size_is(300, 250));
  EXPECT_FALSE(gtk_window_get_resizable(win));

  // A minimum keeps the window from shrinking below it; a maximum from
  // growing beyond it.
  w->set_size(400, 300, webview::Hint::Min);
  EXPECT_TRUE(gtk_window_get_resizable(win));
  gtk_window_resize(win, 100, 100);
  pmrtest::SpinFor(300);
  int ww = 0, hh = 0;
  gtk_window_get_size(win, &ww, &hh);
  EXPECT_GE(ww, 400);
  EXPECT_GE(hh, 300);

  w->set_size(500, 450, webview::Hint::Max);
  gtk_window_resize(win, 900, 900);
  pmrtest::SpinFor(300);
  gtk_window_get_size(win, &ww, &hh);
  EXPECT_LE(ww, 500);
  EXPECT_LE(hh, 450);

  // Without a hint the window is freely resizable again.
  w->set_size(640, 480);
  EXPECT_TRUE(size_is(640, 480));
  // Nonsense sizes change nothing.
  w->set_size(0, 100);
  w->set_size(-5, -5, webview::Hint::Fixed);
  EXPECT_TRUE(size_is(640, 480));
  EXPECT_TRUE(gtk_window_get_resizable(win));
}

}  // namespace
