// The portal pointer stream against the real xdg-desktop-portal with its
// GNOME backend, GNOME Shell 43's screen cast and PipeWire, in one private
// headless session (tests/support/with-gnome.sh --portal). The tests build
// on each other and run in the order written.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/read_file.h"
#include "platform/linux/shell/portal.h"
#include "platform/linux/shell/session_bus.h"
#include "platform/os_shell.h"
#include "tests/support/gnome_session.h"
#include "tests/sim/sim_control.h"
#include "tests/support/process.h"

namespace {

bool WaitFor(const std::function<bool()>& cond, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (cond()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool HasPortalThread() {
  auto names = pmrtest::ThreadNames(getpid());
  return std::count(names.begin(), names.end(), "PMR portal") > 0;
}

// Watches the session bus for the program's SelectSources requests and
// keeps the restore token each one carried ("" for none) and what it asked
// for ("types=<n> multiple=<0|1> persist=<n>").
class SelectSourcesMonitor {
 public:
  SelectSourcesMonitor() {
    bus_ = LinuxNewSessionConnection();
    if (!bus_) return;
    filter_ = g_dbus_connection_add_filter(bus_, OnMessage, this, nullptr);
    const gchar* rules[] = {
        "type='method_call',interface='org.freedesktop.portal.ScreenCast',member='SelectSources'", nullptr};
    GVariant* reply = g_dbus_connection_call_sync(
        bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.Monitoring", "BecomeMonitor",
        g_variant_new("(^asu)", rules, 0u), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    ok_ = reply != nullptr;
    if (reply) g_variant_unref(reply);
  }
  ~SelectSourcesMonitor() {
    if (!bus_) return;
    g_dbus_connection_remove_filter(bus_, filter_);
    g_dbus_connection_close_sync(bus_, nullptr, nullptr);
    g_object_unref(bus_);
    // A filter call already under way may still finish after its removal:
    // from here on it leaves the list alone, and the list is ours again.
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  bool Ok() const { return ok_; }
  std::vector<std::string> Tokens() {
    std::lock_guard<std::mutex> lock(mutex_);
    return tokens_;
  }
  std::vector<std::string> Asked() {
    std::lock_guard<std::mutex> lock(mutex_);
    return asked_;
  }

 private:
  // Runs on GDBus's worker thread. Copies of method calls are dropped here,
  // so the monitor never answers one.
  static GDBusMessage* OnMessage(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer data) {
    auto* self = static_cast<SelectSourcesMonitor*>(data);
    if (incoming && g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_METHOD_CALL &&
        g_strcmp0(g_dbus_message_get_member(message), "SelectSources") == 0) {
      GVariant* body = g_dbus_message_get_body(message);
      std::string token, asked;
      if (body && g_variant_is_of_type(body, G_VARIANT_TYPE("(oa{sv})"))) {
        GVariant* options = g_variant_get_child_value(body, 1);
        const gchar* t = nullptr;
        if (g_variant_lookup(options, "restore_token", "&s", &t)) token = t;
        guint32 types = 0, persist = 0;
        gboolean multiple = FALSE;
        g_variant_lookup(options, "types", "u", &types);
        g_variant_lookup(options, "multiple", "b", &multiple);
        g_variant_lookup(options, "persist_mode", "u", &persist);
        asked = "types=" + std::to_string(types) + " multiple=" + (multiple ? "1" : "0") +
                " persist=" + std::to_string(persist);
        g_variant_unref(options);
      }
      std::lock_guard<std::mutex> lock(self->mutex_);
      if (!self->closed_) {
        self->tokens_.push_back(token);
        self->asked_.push_back(asked);
      }
    }
    if (incoming && g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_METHOD_CALL) {
      g_object_unref(message);
      return nullptr;
    }
    return message;
  }

  GDBusConnection* bus_ = nullptr;
  guint filter_ = 0;
  bool ok_ = false;
  std::mutex mutex_;
  std::vector<std::string> tokens_;
  std::vector<std::string> asked_;
  bool closed_ = false;
};

class PortalStreamTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("PMR_POINTER_BACKEND", "portal", 1);
    unlink(PortalTokenPath().c_str());
    // The user chose to keep the grant (the tests after these show the default).
    LinuxPortalRememberGrant(true);
  }
  static void TearDownTestSuite() {
    program_.reset();
    LinuxPointerStop();
  }
  void SetUp() override {
    if (!pmrtest::InGnomeSession()) GTEST_SKIP() << "needs tests/support/with-gnome.sh --portal";
  }

  // Moves the real pointer to a few places; the backend must follow each.
  void ExpectPointerFollows(pmrtest::GnomeRemotePointer& pointer) {
    for (auto [x, y] : {std::pair{300, 200}, std::pair{1000, 640}, std::pair{17, 791}}) {
      ASSERT_TRUE(pointer.MoveTo(x, y)) << pointer.error();
      double px = -1, py = -1;
      EXPECT_TRUE(WaitFor([&] { return LinuxPointerPosition(px, py) && px == x && py == y; }, 10000))
          << "at " << px << "," << py << " want " << x << "," << y;
    }
  }

  static SelectSourcesMonitor* monitor_;
  // The real program, from its start on the kept grant until PipeWire has
  // gone away.
  static std::unique_ptr<pmrsim::SimProgram> program_;
};
SelectSourcesMonitor* PortalStreamTest::monitor_ = nullptr;
std::unique_ptr<pmrsim::SimProgram> PortalStreamTest::program_;

TEST_F(PortalStreamTest, ForcedPortalStreamFollowsThePointerAndKeepsTheGrant) {
  static SelectSourcesMonitor monitor;
  monitor_ = &monitor;
  ASSERT_TRUE(monitor.Ok());
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
  // A GNOME session, but the variable asks for the portal.
  LinuxPointerInit();
  ASSERT_EQ(LinuxPointerBackend(), PointerBackend::kPortal);
  EXPECT_TRUE(WaitFor(HasPortalThread, 5000));

  pmrtest::GnomeRemotePointer pointer;
  ASSERT_TRUE(pointer.Ok()) << pointer.error();
  // The user grants the screen cast once, in the portal's dialog.
  std::string why;
  ASSERT_TRUE(pmrtest::GnomeGrantScreenShare(30000, &why)) << why;
  ExpectPointerFollows(pointer);

  // The grant is kept; the first start had none to pass.
  std::string token = PortalReadToken();
  EXPECT_FALSE(token.empty());
  EXPECT_EQ(ReadFile(PortalTokenPath()), token + "\n");
  ASSERT_TRUE(WaitFor([&] { return monitor.Tokens().size() == 1; }, 5000));
  EXPECT_EQ(monitor.Tokens()[0], "");
  // One monitor is all the cursor needs; kept until revoked, as chosen.
  EXPECT_EQ(monitor.Asked()[0], "types=1 multiple=0 persist=2");

  // Stopping ends the thread and the position.
  LinuxPointerStop();
  EXPECT_FALSE(HasPortalThread());
  double x, y;
  EXPECT_FALSE(LinuxPointerPosition(x, y));

  // The next start hands the token back, and the portal asks nothing.
  ASSERT_TRUE(PortalStart());
  ExpectPointerFollows(pointer);
  EXPECT_FALSE(pmrtest::GnomeScreenShareDialogOpen());
  ASSERT_TRUE(WaitFor([&] { return monitor.Tokens().size() == 2; }, 5000));
  EXPECT_EQ(monitor.Tokens()[1], token);
}

TEST_F(PortalStreamTest, PortalGoingAwayLeavesNoPosition) {
  double x, y;
  ASSERT_TRUE(WaitFor([&] { return PortalPointer(x, y); }, 10000));
  // The portal service ends (as when it crashes).
  GDBusConnection* bus = LinuxNewSessionConnection();
  ASSERT_NE(bus, nullptr);
  GVariant* reply = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetConnectionUnixProcessID",
      g_variant_new("(s)", "org.freedesktop.portal.Desktop"), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000,
      nullptr, nullptr);
  g_object_unref(bus);
  ASSERT_NE(reply, nullptr);
  guint32 pid = 0;
  g_variant_get(reply, "(u)", &pid);
  g_variant_unref(reply);
  ASSERT_GT(pid, 0u);
  ASSERT_EQ(kill(static_cast<pid_t>(pid), SIGKILL), 0);
  EXPECT_TRUE(WaitFor([&] { return !PortalPointer(x, y); }, 10000));

  // The shell may go on sending the cast's frames for a while, and frames
  // already queued still arrive: none of them brings a position back, even
  // when the pointer moves (each move makes the shell send a frame).
  pmrtest::GnomeRemotePointer pointer;
  ASSERT_TRUE(pointer.Ok()) << pointer.error();
  for (auto [px, py] : {std::pair{640, 400}, std::pair{90, 70}, std::pair{1200, 50}}) {
    ASSERT_TRUE(pointer.MoveTo(px, py)) << pointer.error();
    EXPECT_FALSE(WaitFor([&] { return PortalPointer(x, y); }, 1000)) << "at " << x << "," << y;
  }

  // A new start finds the portal again (the bus starts it on demand).
  LinuxPointerStop();
  ASSERT_TRUE(PortalStart());
  ExpectPointerFollows(pointer);
}

// The real program with the portal forced: it starts from the grant kept by
// the tests above (no dialog) and runs its stream on the "PMR portal"
// threads.
TEST_F(PortalStreamTest, RealProgramRunsItsStreamFromTheKeptGrant) {
  const std::string token = PortalReadToken();
  ASSERT_FALSE(token.empty());
  program_ = std::make_unique<pmrsim::SimProgram>();
  pmrsim::SimProgram& program = *program_;
  pmrsim::SimProgram::Options options;
  options.env = {{"PMR_POINTER_BACKEND", "portal"},
                 {"WAYLAND_DISPLAY", getenv("WAYLAND_DISPLAY")},
                 {"XDG_RUNTIME_DIR", getenv("XDG_RUNTIME_DIR")}};
  ASSERT_TRUE(program.Start(options));
  const std::string tokenFile = program.dataDir() + "/portal-token.txt";
  ASSERT_EQ(g_mkdir_with_parents(program.dataDir().c_str(), 0700), 0);
  ASSERT_TRUE(g_file_set_contents(tokenFile.c_str(), (token + "\n").c_str(), -1, nullptr));
  // Its user chose to keep the grant.
  ASSERT_TRUE(g_file_set_contents((program.dataDir() + "/appsettings.txt").c_str(), "rememberScreenGrant=1\n", -1,
                                  nullptr));
  ASSERT_TRUE(program.control().Go());

  // "PMR portal" names the portal thread and, once the session has started
  // and PipeWire answered, the stream's loop threads as well.
  auto portalThreads = [&] {
    auto names = pmrtest::ThreadNames(program.pid());
    return std::count(names.begin(), names.end(), "PMR portal");
  };
  EXPECT_TRUE(WaitFor([&] { return portalThreads() >= 2; }, 30000)) << program.Stderr();
  // Started from the kept grant: no dialog, and the grant is still kept.
  EXPECT_FALSE(pmrtest::GnomeScreenShareDialogOpen());
  EXPECT_FALSE(PortalReadToken().empty());
  EXPECT_FALSE(ReadFile(tokenFile).empty());
  // Up to its main loop: its window is shown.
  EXPECT_TRUE(WaitFor([&] { return pmrtest::GnomeWindowOfPidMapped(program.pid()); }, 30000));
  EXPECT_TRUE(program.Running());
}

// The default: the grant is not kept. The saved token goes at once, the
// portal is asked for a grant that lasts while the program runs, and the
// dialog asks again; nothing is saved for another program to replay.
TEST_F(PortalStreamTest, WithoutRememberingTheGrantLastsWhileTheProgramRuns) {
  ASSERT_NE(monitor_, nullptr);
  LinuxPointerStop();
  ASSERT_FALSE(PortalReadToken().empty());
  LinuxPortalRememberGrant(false);
  EXPECT_TRUE(PortalReadToken().empty());
  EXPECT_NE(access(PortalTokenPath().c_str(), F_OK), 0);

  const size_t before = monitor_->Asked().size();
  ASSERT_TRUE(PortalStart());
  pmrtest::GnomeRemotePointer pointer;
  ASSERT_TRUE(pointer.Ok()) << pointer.error();
  std::string why;
  ASSERT_TRUE(pmrtest::GnomeGrantScreenShare(30000, &why)) << "the dialog asks again: " << why;
  ExpectPointerFollows(pointer);
  ASSERT_TRUE(WaitFor([&] { return monitor_->Asked().size() == before + 1; }, 5000));
  EXPECT_EQ(monitor_->Asked()[before], "types=1 multiple=0 persist=1");
  EXPECT_EQ(monitor_->Tokens()[before], "");
  EXPECT_NE(access(PortalTokenPath().c_str(), F_OK), 0) << "no token saved";
  LinuxPortalRememberGrant(true);
}

TEST_F(PortalStreamTest, PipeWireGoingAwayLeavesNoPosition) {
  double x, y;
  ASSERT_TRUE(WaitFor([&] { return PortalPointer(x, y); }, 10000));
  ASSERT_TRUE(pmrtest::GnomeControl("pipewire-stop"));
  EXPECT_TRUE(WaitFor([&] { return !PortalPointer(x, y); }, 10000));
  EXPECT_FALSE(LinuxPointerPosition(x, y));
  LinuxPointerStop();
  EXPECT_FALSE(HasPortalThread());
  // The real program outlives PipeWire too, and still ends cleanly on
  // SIGTERM, joining its portal threads.
  if (program_) {
    EXPECT_TRUE(program_->Running()) << program_->Stderr();
    EXPECT_EQ(program_->Stop(30000), 0) << program_->Stderr();
  }
}

}  // namespace
