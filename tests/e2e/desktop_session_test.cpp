// The session watch against a private system bus carrying a fake logind and
// a private session bus carrying screensaver signals: what reaches the input
// layer and how often the session-locked callback runs.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/linux/gtk/gtk_internal.h"
#include "platform/linux/input/input_state.h"
#include "platform/os_input.h"
#include "tests/support/fake_login1.h"
#include "tests/support/gtk_test_env.h"

namespace {

using pmrtest::FakeLogin1;
using pmrtest::FakeScreensaver;
using pmrtest::PrivateBus;

std::vector<bool> g_Reports;  // every usability change the input layer heard of

void RecordUsable(bool usable) {
  g_Reports.push_back(usable);
  LinuxInputSetSessionUsable(usable);
}

GDBusConnection* Connect(const std::string& address) {
  return g_dbus_connection_new_for_address_sync(
      address.c_str(),
      GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                           G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
}

class SessionWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(systemBus.Start("system"));
    ASSERT_TRUE(sessionBus.Start("session"));
    ASSERT_TRUE(screensaver.Start(sessionBus.Address()));
    g_Reports.clear();
    pmrgtk::ResetSessionWatchForTest();
    pmrgtk::g_ReportSessionUsable = RecordUsable;
    pmrgtk::g_Hooks.sessionLocked = [this] { ++lockedCalls; };
  }
  void TearDown() override {
    pmrgtk::ResetSessionWatchForTest();
    pmrgtk::g_Hooks.sessionLocked = nullptr;
    pmrgtk::g_ReportSessionUsable = LinuxInputSetSessionUsable;
    for (GDBusConnection* c : clients) {
      g_dbus_connection_close_sync(c, nullptr, nullptr);
      g_object_unref(c);
    }
    login1.Stop();
  }

  // Starts the watch as start-up does, on client connections of this process.
  void StartWatch(bool withSystem = true, bool withSession = true) {
    GDBusConnection* system = withSystem ? Connect(systemBus.Address()) : nullptr;
    GDBusConnection* session = withSession ? Connect(sessionBus.Address()) : nullptr;
    for (GDBusConnection* c : {system, session})
      if (c) clients.push_back(c);
    pmrgtk::StartSessionWatch(system, session);
    // The watch subscribes with match rules sent ahead of any later message on
    // the same connection: one round trip per connection guarantees the buses
    // route the signals a test emits next.
    for (GDBusConnection* c : clients) {
      GVariant* r = g_dbus_connection_call_sync(c, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", "GetId", nullptr, nullptr,
                                                G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
      if (r) g_variant_unref(r);
    }
    Settle();
  }

  // Lets the main context deliver what the buses carry.
  bool Until(const std::function<bool()>& cond) { return pmrtest::SpinUntil(cond, 60000); }
  void Settle() { pmrtest::SpinFor(250); }

  PrivateBus systemBus, sessionBus;
  FakeLogin1 login1;
  FakeScreensaver screensaver;
  std::vector<GDBusConnection*> clients;
  int lockedCalls = 0;
};

TEST_F(SessionWatchTest, LockThenScreensaverThenUnlockReportsEachTransitionOnce) {
  ASSERT_TRUE(login1.Start(systemBus.Address(), {}));
  StartWatch();
  EXPECT_EQ(pmrgtk::g_Session.sessionPath, FakeLogin1::kSessionPath);
  EXPECT_GE(login1.GetAllCalls(), 1);
  EXPECT_TRUE(pmrgtk::g_Session.usable);
  EXPECT_TRUE(g_Reports.empty());

  EXPECT_TRUE(g_SessionUsable.load());
  login1.EmitLock();
  ASSERT_TRUE(Until([] { return !g_Reports.empty(); }));
  EXPECT_EQ(g_Reports, std::vector<bool>{false});
  EXPECT_EQ(lockedCalls, 1);
  EXPECT_FALSE(g_SessionUsable.load());  // what the input layer now holds

  screensaver.EmitActiveChanged("org.gnome.ScreenSaver", true);
  ASSERT_TRUE(Until([] { return pmrgtk::g_Session.screensaverActive; }));
  login1.SetSession(true, true);  // the lock screen sets the hint as well
  const int reads = login1.GetAllCalls();
  ASSERT_TRUE(Until([&] { return login1.GetAllCalls() > reads; }));
  Settle();
  EXPECT_EQ(lockedCalls, 1);
  EXPECT_EQ(g_Reports.size(), 1u);

  // Unlocked while the screensaver still runs: still unusable.
  login1.SetSession(true, false);
  login1.EmitUnlock();
  ASSERT_TRUE(Until([] { return !pmrgtk::g_Session.locked; }));
  Settle();
  EXPECT_FALSE(pmrgtk::g_Session.usable);
  EXPECT_EQ(g_Reports.size(), 1u);
  EXPECT_FALSE(g_SessionUsable.load());

  screensaver.EmitActiveChanged("org.freedesktop.ScreenSaver", false);
  ASSERT_TRUE(Until([] { return g_Reports.size() == 2; }));
  EXPECT_TRUE(g_SessionUsable.load());
  EXPECT_EQ(g_Reports, (std::vector<bool>{false, true}));
  EXPECT_EQ(lockedCalls, 1);
  EXPECT_TRUE(pmrgtk::g_Session.usable);

  // A second round behaves the same.
  login1.EmitLock();
  ASSERT_TRUE(Until([] { return g_Reports.size() == 3; }));
  EXPECT_EQ(lockedCalls, 2);
}

TEST_F(SessionWatchTest, ScreensaverFirstThenLockCallsBackOnlyAtTheFirst) {
  ASSERT_TRUE(login1.Start(systemBus.Address(), {}));
  StartWatch();
  screensaver.EmitActiveChanged("org.cinnamon.ScreenSaver", true);
  ASSERT_TRUE(Until([] { return !g_Reports.empty(); }));
  EXPECT_EQ(lockedCalls, 1);
  login1.EmitLock();
  ASSERT_TRUE(Until([] { return pmrgtk::g_Session.locked; }));
  Settle();
  EXPECT_EQ(lockedCalls, 1);

  // The screensaver ends; logind still says locked (GetAll after "Unlock"
  // reads the hint, which the fake keeps set): still unusable.
  login1.SetSession(true, true);
  screensaver.EmitActiveChanged("org.mate.ScreenSaver", false);
  ASSERT_TRUE(Until([] { return !pmrgtk::g_Session.screensaverActive; }));
  login1.EmitUnlock();
  Settle();
  EXPECT_TRUE(pmrgtk::g_Session.locked);
  EXPECT_FALSE(pmrgtk::g_Session.usable);
  EXPECT_EQ(g_Reports, std::vector<bool>{false});
  EXPECT_EQ(lockedCalls, 1);
}

TEST_F(SessionWatchTest, InactiveSessionIsUnusableUntilActiveAgain) {
  ASSERT_TRUE(login1.Start(systemBus.Address(), {}));
  StartWatch();
  login1.SetSession(false, false);  // switched to another user's session
  ASSERT_TRUE(Until([] { return !g_Reports.empty(); }));
  EXPECT_EQ(lockedCalls, 1);
  login1.SetSession(true, false);
  ASSERT_TRUE(Until([] { return g_Reports.size() == 2; }));
  EXPECT_EQ(g_Reports, (std::vector<bool>{false, true}));
  EXPECT_EQ(lockedCalls, 1);
  // Any other signal of the session re-reads its properties.
  const int reads = login1.GetAllCalls();
  login1.EmitSessionSignal("org.freedesktop.login1.Session", "PauseDevice");
  ASSERT_TRUE(Until([&] { return login1.GetAllCalls() > reads; }));
}

TEST_F(SessionWatchTest, SessionAlreadyLockedAtStartIsReportedOnce) {
  FakeLogin1::Options options;
  options.lockedHint = true;
  ASSERT_TRUE(login1.Start(systemBus.Address(), options));
  StartWatch();
  EXPECT_EQ(g_Reports, std::vector<bool>{false});
  EXPECT_EQ(lockedCalls, 1);
}

TEST_F(SessionWatchTest, ForeignSendersPathsAndParametersAreIgnored) {
  ASSERT_TRUE(login1.Start(systemBus.Address(), {}));
  StartWatch();
  // "Lock" on the session path from a connection that is not logind.
  FakeScreensaver impostor;
  ASSERT_TRUE(impostor.Start(systemBus.Address()));
  impostor.EmitSignal(FakeLogin1::kSessionPath, "org.freedesktop.login1.Session", "Lock");
  // Screensaver signals of the wrong shape or an unknown interface.
  screensaver.EmitActiveChangedRaw("org.freedesktop.ScreenSaver", "('yes',)");
  screensaver.EmitActiveChangedRaw("org.gnome.ScreenSaver", "(true, false)");
  screensaver.EmitActiveChangedRaw("org.gnome.ScreenSaver", "@() ()");
  screensaver.EmitActiveChanged("org.kde.screensaver", true);
  Settle();
  EXPECT_TRUE(pmrgtk::g_Session.usable);
  EXPECT_FALSE(pmrgtk::g_Session.locked);
  EXPECT_TRUE(g_Reports.empty());
  EXPECT_EQ(lockedCalls, 0);
  // The watch still works afterwards.
  screensaver.EmitActiveChanged("org.freedesktop.ScreenSaver", true);
  ASSERT_TRUE(Until([] { return !g_Reports.empty(); }));
}

TEST_F(SessionWatchTest, UserDisplaySessionStandsInWhenTheProcessHasNoSession) {
  FakeLogin1::Options options;
  options.answerGetSessionByPid = false;
  options.userDisplayPath = FakeLogin1::kSessionPath;
  ASSERT_TRUE(login1.Start(systemBus.Address(), options));
  StartWatch();
  EXPECT_EQ(login1.GetSessionByPidCalls(), 1);
  EXPECT_EQ(pmrgtk::g_Session.sessionPath, FakeLogin1::kSessionPath);
  login1.EmitLock();
  ASSERT_TRUE(Until([] { return !g_Reports.empty(); }));
  EXPECT_EQ(lockedCalls, 1);
}

TEST_F(SessionWatchTest, WithoutAnyLoginSessionOnlyTheScreensaverCounts) {
  struct Case {
    const char* name;
    std::string displayPath;
    bool wrongType;
  };
  const Case cases[] = {{"display is /", "/", false},
                        {"display read fails", "", false},
                        {"display has the wrong type", FakeLogin1::kSessionPath, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    pmrgtk::ResetSessionWatchForTest();
    g_Reports.clear();
    lockedCalls = 0;
    FakeLogin1 fake;
    FakeLogin1::Options options;
    options.answerGetSessionByPid = false;
    options.userDisplayPath = c.displayPath;
    options.displayWrongType = c.wrongType;
    ASSERT_TRUE(fake.Start(systemBus.Address(), options));
    StartWatch();
    EXPECT_TRUE(pmrgtk::g_Session.sessionPath.empty());
    EXPECT_EQ(fake.GetAllCalls(), 0);
    fake.EmitLock();
    Settle();
    EXPECT_TRUE(g_Reports.empty());
    screensaver.EmitActiveChanged("org.freedesktop.ScreenSaver", true);
    ASSERT_TRUE(Until([] { return !g_Reports.empty(); }));
    EXPECT_EQ(lockedCalls, 1);
    fake.Stop();
  }
}

TEST_F(SessionWatchTest, NoSystemBusOrNoLogindLeavesTheSessionUsable) {
  StartWatch(false, true);  // no system bus at all
  EXPECT_TRUE(pmrgtk::g_Session.sessionPath.empty());
  screensaver.EmitActiveChanged("org.freedesktop.ScreenSaver", true);
  ASSERT_TRUE(Until([] { return !g_Reports.empty(); }));
  screensaver.EmitActiveChanged("org.freedesktop.ScreenSaver", false);
  ASSERT_TRUE(Until([] { return g_Reports.size() == 2; }));

  // A system bus on which nobody answers for logind: the calls fail at once.
  pmrgtk::ResetSessionWatchForTest();
  StartWatch(true, false);
  EXPECT_TRUE(pmrgtk::g_Session.sessionPath.empty());
  EXPECT_TRUE(pmrgtk::g_Session.usable);
}

}  // namespace
