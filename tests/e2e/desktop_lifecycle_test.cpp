// The main window's lifecycle hooks in a real GTK process: geometry debounce,
// closing, termination signals ending open alerts, activation by SIGUSR2 with
// handed-over files, the page's navigation filter, and the session watch
// reached through the process's own bus addresses (private buses with a fake
// logind and screensaver).
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/linux/gtk/gtk_internal.h"
#include "platform/linux/input/input_state.h"
#include "platform/os_window.h"
#include "state/app_settings.h"
#include "tests/support/fake_login1.h"
#include "tests/support/gtk_test_env.h"
#include "tests/support/process.h"

namespace {

using Clock = std::chrono::steady_clock;

pmrtest::PrivateBus* g_SystemBus = nullptr;
pmrtest::PrivateBus* g_SessionBus = nullptr;
pmrtest::FakeLogin1* g_Login1 = nullptr;

// Buses and data directory of this process, set before anything asks for them.
class DesktopEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    const std::string home = pmrtest::MakeTempDir("lifecycle");
    setenv("NO_AT_BRIDGE", "1", 1);
    setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
    g_SystemBus = new pmrtest::PrivateBus;
    g_SessionBus = new pmrtest::PrivateBus;
    ASSERT_TRUE(g_SystemBus->Start("system"));
    ASSERT_TRUE(g_SessionBus->Start("session"));
    setenv("DBUS_SYSTEM_BUS_ADDRESS", g_SystemBus->Address().c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", g_SessionBus->Address().c_str(), 1);
    g_Login1 = new pmrtest::FakeLogin1;
    ASSERT_TRUE(g_Login1->Start(g_SystemBus->Address(), {}));
  }
  void TearDown() override {
    delete g_Login1;
    delete g_SessionBus;
    delete g_SystemBus;
  }
};
const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new DesktopEnvironment);

struct Counts {
  int geometry = 0;
  int shutdown = 0;
  int locked = 0;
  std::vector<Clock::time_point> geometryAt;
  std::vector<std::vector<std::string>> opened;
};

class LifecycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pmrtest::InitGtkOnce());
    window = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    gtk_window_set_default_size(window, 300, 200);
    g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&window));
  }
  void TearDown() override {
    if (window) gtk_widget_destroy(GTK_WIDGET(window));
    pmrgtk::g_Hooks.openFiles = nullptr;
  }
  void Install(GtkWidget* child = nullptr) {
    gtk_container_add(GTK_CONTAINER(window), child ? child : gtk_label_new("page"));
    OsInstallLifecycleHooks(
        window,
        [this] {
          ++counts.geometry;
          counts.geometryAt.push_back(Clock::now());
        },
        [this] { ++counts.shutdown; }, [this] { ++counts.locked; });
    OsInstallFileOpenHandlers(window, [this](const std::vector<std::string>& files) { counts.opened.push_back(files); });
  }
  bool Show() {
    gtk_widget_show_all(GTK_WIDGET(window));
    return pmrtest::SpinUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(window)); }, 60000);
  }
  void SendConfigure() {
    GdkEvent* event = gdk_event_new(GDK_CONFIGURE);
    event->configure.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(GTK_WIDGET(window))));
    event->configure.width = 300;
    event->configure.height = 200;
    gboolean handled = FALSE;
    g_signal_emit_by_name(window, "configure-event", event, &handled);
    gdk_event_free(event);
  }

  GtkWindow* window = nullptr;
  Counts counts;
};

TEST_F(LifecycleTest, BurstOfConfigureEventsSavesOnce400msAfterTheLast) {
  Install();
  ASSERT_TRUE(Show());
  pmrtest::SpinFor(700);  // the window's own first configure events settle
  counts = Counts{};
  Clock::time_point last;
  for (int i = 0; i < 10; ++i) {
    SendConfigure();
    last = Clock::now();
    pmrtest::SpinFor(50);
  }
  ASSERT_TRUE(pmrtest::SpinUntil([&] { return counts.geometry > 0; }, 60000));
  pmrtest::SpinFor(600);
  ASSERT_EQ(counts.geometry, 1);
  const auto after = std::chrono::duration_cast<std::chrono::milliseconds>(counts.geometryAt[0] - last).count();
  EXPECT_GE(after, 395);
  EXPECT_LT(after, 1000);
  EXPECT_EQ(counts.shutdown, 0);
}

TEST_F(LifecycleTest, ClosingSavesGeometryAndForgetsTheWindow) {
  Install();
  ASSERT_TRUE(Show());
  GtkWindow* was = window;
  gtk_window_close(window);
  ASSERT_TRUE(pmrtest::SpinUntil([&] { return window == nullptr; }, 60000));
  EXPECT_GE(counts.geometry, 1);
  EXPECT_EQ(pmrgtk::g_Hooks.window, nullptr);
  EXPECT_EQ(pmrgtk::g_DestroyedMainWindow, was);
  int x = 1, y = 1, w = 1, h = 1;
  bool max = true;
  OsGetWindowPlacement(was, x, y, w, h, max);
  EXPECT_EQ(x + y + w + h, 0);
  EXPECT_FALSE(max);
  EXPECT_EQ(counts.shutdown, 0);  // never called by this layer
}

TEST_F(LifecycleTest, TerminationSignalsEndTheAlertSaveAndClose) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sig);
    if (!window) {
      window = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
      g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&window));
    }
    counts = Counts{};
    Install();
    ASSERT_TRUE(Show());
    static int s_Signal;
    s_Signal = sig;
    static std::string s_Seen;
    s_Seen.clear();
    g_timeout_add(300, [](gpointer) -> gboolean {
      GtkDialog* dialog = pmrgtk::g_RunningDialogs.empty() ? nullptr : pmrgtk::g_RunningDialogs.back();
      if (dialog) {
        gchar* text = nullptr;
        g_object_get(dialog, "text", &text, nullptr);
        s_Seen = std::string(gtk_window_get_title(GTK_WINDOW(dialog))) + "|" + (text ? text : "") + "|" +
                 (gtk_window_get_modal(GTK_WINDOW(dialog)) ? "modal" : "modeless");
        g_free(text);
      }
      raise(s_Signal);
      return G_SOURCE_REMOVE;
    }, nullptr);
    const auto start = Clock::now();
    OsShowAlert("Disk 100% full: %s %d");  // shown as plain text
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(s_Seen, "Pellomar|Disk 100% full: %s %d|modal");
    EXPECT_TRUE(pmrgtk::g_RunningDialogs.empty());
    ASSERT_TRUE(pmrtest::SpinUntil([&] { return window == nullptr; }, 60000));
    EXPECT_GE(counts.geometry, 1);
  }
  // With no window left, a signal only saves.
  counts = Counts{};
  raise(SIGTERM);
  ASSERT_TRUE(pmrtest::SpinUntil([&] { return counts.geometry == 1; }, 60000));
}

TEST_F(LifecycleTest, ActivationBringsTheWindowBackAndDeliversHandedOverFiles) {
  Install();
  ASSERT_TRUE(Show());
  gtk_widget_hide(GTK_WIDGET(window));
  const std::string pending = OsDataDir() + "/pending-open.txt";
  {
    std::ofstream out(pending);
    out << "/home/u/a.pmrmacro\n/home/u/b.pmrtheme\n";
  }
  raise(SIGUSR2);
  ASSERT_TRUE(pmrtest::SpinUntil([&] { return !counts.opened.empty(); }, 60000));
  EXPECT_TRUE(pmrtest::SpinUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(window)); }, 60000));
  pmrtest::SpinFor(200);
  ASSERT_EQ(counts.opened.size(), 1u);
  EXPECT_EQ(counts.opened[0], (std::vector<std::string>{"/home/u/a.pmrmacro", "/home/u/b.pmrtheme"}));
  EXPECT_NE(access(pending.c_str(), F_OK), 0);

  raise(SIGUSR2);  // a wake without files delivers nothing
  pmrtest::SpinFor(300);
  EXPECT_EQ(counts.opened.size(), 1u);
}

// Loads addr in the view and reports whether the page committed to it.
// Stopped navigations are decided at once; a short wait tells them apart.
// A navigation that must commit gets a limit that only ends a hang (the first
// load starts the web process); one that must be stopped gets a short look.
bool Navigates(WebKitWebView* view, const std::string& addr, int limitMs = 1500) {
  static bool committed;
  committed = false;
  gulong id = g_signal_connect(view, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent e, gpointer) {
                                 if (e == WEBKIT_LOAD_COMMITTED) committed = true;
                               }),
                               nullptr);
  webkit_web_view_load_uri(view, addr.c_str());
  pmrtest::SpinUntil([] { return committed; }, limitMs);
  g_signal_handler_disconnect(view, id);
  return committed;
}

TEST_F(LifecycleTest, NavigationFilterStopsEverythingButInlinePagesAndHandsOverDroppedFiles) {
  GtkWidget* view = webkit_web_view_new();
  Install(view);
  ASSERT_TRUE(Show());
  WebKitWebView* web = WEBKIT_WEB_VIEW(view);
  EXPECT_TRUE(Navigates(web, "about:blank", 60000));
  EXPECT_TRUE(Navigates(web, "data:text/html,<p>inline</p>", 60000));
  EXPECT_FALSE(Navigates(web, "https://example.invalid/page"));
  EXPECT_FALSE(Navigates(web, "file:///tmp/readme.txt"));
  EXPECT_TRUE(counts.opened.empty());
  struct Drop {
    const char* address;
    const char* path;
  };
  const Drop drops[] = {{"file:///home/u/old.mcr", "/home/u/old.mcr"},
                        {"file:///home/u/My%20Macro.pmrmacro", "/home/u/My Macro.pmrmacro"},
                        {"file:///t/dark.pmrtheme", "/t/dark.pmrtheme"}};
  for (const Drop& d : drops) {
    EXPECT_FALSE(Navigates(web, d.address)) << d.address;
    ASSERT_FALSE(counts.opened.empty()) << d.address;
    EXPECT_EQ(counts.opened.back(), std::vector<std::string>{d.path});
  }
  EXPECT_EQ(counts.opened.size(), 3u);
  for (const char* ignored : {"file:///tmp/a.mcr.txt", "file:///tmp/pmrmacro", "ftp://example.invalid/x.pmrmacro"})
    EXPECT_FALSE(Navigates(web, ignored)) << ignored;
  EXPECT_EQ(counts.opened.size(), 3u);

  // A page that opens a new window: stopped as well.
  static int s_Created = 0;
  g_signal_connect(view, "create", G_CALLBACK(+[](WebKitWebView*, WebKitNavigationAction*, gpointer) -> GtkWidget* {
                     ++s_Created;
                     return nullptr;
                   }),
                   nullptr);
  webkit_web_view_load_html(web, "<script>window.open('https://example.invalid/popup')</script>", nullptr);
  pmrtest::SpinFor(800);
  EXPECT_EQ(s_Created, 0);
}

TEST_F(LifecycleTest, SessionWatchFollowsTheBusesOfTheEnvironment) {
  Install();
  EXPECT_EQ(pmrgtk::g_Session.sessionPath, pmrtest::FakeLogin1::kSessionPath);
  const int before = counts.locked;
  g_Login1->EmitLock();
  ASSERT_TRUE(pmrtest::SpinUntil([&] { return counts.locked == before + 1; }, 60000));
  EXPECT_FALSE(g_SessionUsable.load());  // the input layer was told
  g_Login1->SetSession(true, false);
  ASSERT_TRUE(pmrtest::SpinUntil([] { return pmrgtk::g_Session.usable; }, 60000));
  EXPECT_TRUE(g_SessionUsable.load());
  pmrtest::FakeScreensaver screensaver;
  ASSERT_TRUE(screensaver.Start(g_SessionBus->Address()));
  screensaver.EmitActiveChanged("org.gnome.ScreenSaver", true);
  ASSERT_TRUE(pmrtest::SpinUntil([&] { return counts.locked == before + 2; }, 60000));
  screensaver.EmitActiveChanged("org.gnome.ScreenSaver", false);
  ASSERT_TRUE(pmrtest::SpinUntil([] { return pmrgtk::g_Session.usable; }, 60000));
}

}  // namespace
