// The GNOME helper's rules (state table, shell versions, install choices)
// and the install into a private data directory without a running shell.
// The real shell is exercised by tests/e2e/gnome.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/read_file.h"
#include "platform/linux/shell/gnome_helper.h"
#include "platform/os_shell.h"
#include "tests/support/fake_login1.h"
#include "tests/support/process.h"

namespace {

// Private data home, settings kept in memory, no session bus: nothing here
// reaches the machine's own desktop.
const std::string kDataHome = [] {
  std::string dir = pmrtest::MakeTempDir("gnome-helper");
  setenv("XDG_DATA_HOME", dir.c_str(), 1);
  setenv("GSETTINGS_BACKEND", "memory", 1);
  setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir + "/no-bus").c_str(), 1);
  return dir;
}();

TEST(GnomeHelperState, Table) {
  struct Case {
    bool session, running;
    uint32_t version;
    bool enabled, blocked;
    const char* marker;
    const char* want;
  } cases[] = {
      {false, true, 2, true, false, "2", "n/a"},
      {true, true, 2, false, true, "", "active"},  // a running helper wins over the switch
      {true, true, 0, true, true, "2", "blocked"},
      {true, false, 0, true, true, "2", "blocked"},
      {true, true, 0, true, false, "2", "outdated"},
      {true, true, 1, false, false, "", "outdated"},  // the helper that answered anyone
      {true, false, 0, true, false, "2", "installed"},
      {true, false, 0, true, false, "2\n", "installed"},
      {true, false, 0, false, false, "2", "missing"},  // not enabled (or also disabled)
      {true, false, 0, true, false, "", "missing"},
      {true, false, 0, true, false, "1", "missing"},
      {true, false, 0, true, false, "x2", "missing"},
      {true, false, 0, true, false, "99999999999999", "missing"},
  };
  for (const Case& c : cases) {
    GnomeHelperFacts f;
    f.gnomeWayland = c.session;
    f.haveRunningVersion = c.running;
    f.runningVersion = c.version;
    f.enabled = c.enabled;
    f.userExtensionsDisabled = c.blocked;
    f.marker = c.marker;
    EXPECT_EQ(GnomeHelperStateFrom(f), c.want) << c.want << " marker '" << c.marker << "'";
  }
}

TEST(GnomeHelperRules, ShellVersionsAndLoader) {
  struct Case {
    const char* version;
    int major;
    bool legacy;
  } cases[] = {{"43.9", 43, true},   {"44", 44, true},   {"45.0", 45, false},     {"46.2", 46, false},
               {"3.38.4", 3, true},  {"", 0, false},     {"beta", 0, false},      {"0.1", 0, false},
               {"99999999999999", 0, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(GnomeShellMajor(c.version), c.major) << c.version;
    EXPECT_EQ(GnomeUsesLegacyExtension(GnomeShellMajor(c.version)), c.legacy) << c.version;
  }
}

TEST(GnomeHelperRules, LegacyPatchTouchesOnlyTheFirstDeclaration) {
  std::string text = "// x\nexport class PmrShell {\n}\n// export class PmrShell again\n";
  ASSERT_TRUE(GnomePatchLegacyShellJs(text));
  EXPECT_EQ(text, "// x\nvar PmrShell = class PmrShell {\n}\n// export class PmrShell again\n");
  std::string none = "var Other = class Other { constructor() {} };";
  EXPECT_FALSE(GnomePatchLegacyShellJs(none));
  EXPECT_EQ(GnomeListWithout({"a", kGnomeHelperUuid, "b", kGnomeHelperUuid}, kGnomeHelperUuid),
            (std::vector<std::string>{"a", "b"}));
}

TEST(GnomeHelperRules, HelperDirFollowsTheDataHome) {
  EXPECT_EQ(GnomeHelperDir(), kDataHome + "/gnome-shell/extensions/" + kGnomeHelperUuid);
  std::string saved = kDataHome;
  setenv("XDG_DATA_HOME", "", 1);
  std::string home = getenv("HOME") ? getenv("HOME") : "";
  EXPECT_EQ(GnomeHelperDir(), home + "/.local/share/gnome-shell/extensions/" + kGnomeHelperUuid);
  setenv("XDG_DATA_HOME", saved.c_str(), 1);
}

std::vector<std::string> List(GSettings* s, const char* key) {
  gchar** v = g_settings_get_strv(s, key);
  std::vector<std::string> out;
  for (gchar** p = v; p && *p; ++p) out.emplace_back(*p);
  g_strfreev(v);
  return out;
}

// Without a shell to ask, the version is unknown: the module variant goes in
// unchanged, as for GNOME 45 and later.
TEST(GnomeHelperInstall, UnknownShellGetsTheModuleVariantAndOneListEntry) {
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  GSettingsSchema* schema = source ? g_settings_schema_source_lookup(source, "org.gnome.shell", TRUE) : nullptr;
  if (!schema) GTEST_SKIP() << "the org.gnome.shell schema is not installed (package gnome-shell)";
  g_settings_schema_unref(schema);
  GSettings* s = g_settings_new("org.gnome.shell");
  const gchar* enabled[] = {"a@x", kGnomeHelperUuid, "b@x", nullptr};
  const gchar* disabled[] = {kGnomeHelperUuid, "c@x", nullptr};
  g_settings_set_strv(s, "enabled-extensions", enabled);
  g_settings_set_strv(s, "disabled-extensions", disabled);

  ASSERT_TRUE(LinuxGnomeInstallHelper(PMR_BINARY_DIR));
  ASSERT_TRUE(LinuxGnomeInstallHelper(PMR_BINARY_DIR));
  EXPECT_EQ(List(s, "enabled-extensions"), (std::vector<std::string>{"a@x", "b@x", kGnomeHelperUuid}));
  EXPECT_EQ(List(s, "disabled-extensions"), std::vector<std::string>{"c@x"});

  const std::string src = std::string(PMR_BINARY_DIR) + "/linux-ui/gnome-extension";
  const std::string dir = GnomeHelperDir();
  EXPECT_EQ(ReadFile(dir + "/extension.js"), ReadFile(src + "/esm/extension.js"));
  EXPECT_EQ(ReadFile(dir + "/shell.js"), ReadFile(src + "/shell.js"));
  EXPECT_NE(ReadFile(dir + "/shell.js").find("export class PmrShell"), std::string::npos);
  EXPECT_EQ(ReadFile(dir + "/metadata.json"), ReadFile(src + "/metadata.json"));
  EXPECT_EQ(ReadFile(dir + "/pmr-version"), "2");
  // The metadata names the same UUID the program enables.
  EXPECT_NE(ReadFile(src + "/metadata.json").find(std::string("\"uuid\": \"") + kGnomeHelperUuid + "\""),
            std::string::npos);
  g_object_unref(s);
}

// A shell that owns its name but answers nothing (a machine too loaded for
// it): the install fails and writes nothing instead of guessing a loader the
// shell may not read. Once the same shell answers "43", the legacy loader goes in.
TEST(GnomeHelperInstall, SilentShellFailsTheInstallUntilItAnswers) {
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  GSettingsSchema* schema = source ? g_settings_schema_source_lookup(source, "org.gnome.shell", TRUE) : nullptr;
  if (!schema) GTEST_SKIP() << "the org.gnome.shell schema is not installed (package gnome-shell)";
  g_settings_schema_unref(schema);
  pmrtest::PrivateBus bus;
  ASSERT_TRUE(bus.Start("gnome-silent"));
  GDBusConnection* shell = g_dbus_connection_new_for_address_sync(
      bus.Address().c_str(),
      GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                           G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  ASSERT_NE(shell, nullptr);
  GVariant* owned = g_dbus_connection_call_sync(shell, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", "RequestName",
                                                g_variant_new("(su)", "org.gnome.Shell", 4u), G_VARIANT_TYPE("(u)"),
                                                G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  ASSERT_NE(owned, nullptr);
  g_variant_unref(owned);

  // The shell's calls are dispatched to a context nobody runs yet.
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(
      "<node><interface name='org.gnome.Shell'><property name='ShellVersion' type='s' access='read'/>"
      "</interface></node>",
      nullptr);
  ASSERT_NE(node, nullptr);
  GDBusInterfaceVTable vtable{};
  vtable.get_property = [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GError**,
                           gpointer) -> GVariant* { return g_variant_new_string("43.9"); };
  GMainContext* shellContext = g_main_context_new();
  g_main_context_push_thread_default(shellContext);
  const guint id = g_dbus_connection_register_object(shell, "/org/gnome/Shell", node->interfaces[0], &vtable,
                                                     nullptr, nullptr, nullptr);
  g_main_context_pop_thread_default(shellContext);
  ASSERT_NE(id, 0u);

  const std::string home = pmrtest::MakeTempDir("gnome-helper-silent");
  setenv("XDG_DATA_HOME", home.c_str(), 1);
  setenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().c_str(), 1);
  const std::string dir = GnomeHelperDir();
  EXPECT_FALSE(LinuxGnomeInstallHelper(PMR_BINARY_DIR));
  EXPECT_EQ(access(dir.c_str(), F_OK), -1) << "something was installed";

  std::atomic<bool> stop{false};
  std::thread answering([&] {
    g_main_context_push_thread_default(shellContext);
    while (!stop.load()) g_main_context_iteration(shellContext, TRUE);
    g_main_context_pop_thread_default(shellContext);
  });
  const bool installed = LinuxGnomeInstallHelper(PMR_BINARY_DIR);
  stop.store(true);
  g_main_context_wakeup(shellContext);
  answering.join();
  EXPECT_TRUE(installed);
  const std::string src = std::string(PMR_BINARY_DIR) + "/linux-ui/gnome-extension";
  EXPECT_EQ(ReadFile(dir + "/extension.js"), ReadFile(src + "/legacy/extension.js"));

  g_dbus_connection_unregister_object(shell, id);
  g_dbus_connection_close_sync(shell, nullptr, nullptr);
  g_object_unref(shell);
  g_main_context_unref(shellContext);
  g_dbus_node_info_unref(node);
  setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + kDataHome + "/no-bus").c_str(), 1);
  setenv("XDG_DATA_HOME", kDataHome.c_str(), 1);
}

TEST(GnomeHelperInstall, MissingSourcesOrUnwritableTargetFail) {
  // A resource directory without the helper's files.
  std::string empty = pmrtest::MakeTempDir("gnome-helper-nosrc");
  EXPECT_FALSE(LinuxGnomeInstallHelper(empty));

  // The install directory cannot be created: a file stands in its way.
  std::string blocked = pmrtest::MakeTempDir("gnome-helper-blocked");
  ASSERT_TRUE(g_file_set_contents((blocked + "/gnome-shell").c_str(), "x", -1, nullptr));
  setenv("XDG_DATA_HOME", blocked.c_str(), 1);
  EXPECT_FALSE(LinuxGnomeInstallHelper(PMR_BINARY_DIR));
  setenv("XDG_DATA_HOME", kDataHome.c_str(), 1);
}

TEST(GnomeHelperState, OutsideGnomeIsNotApplicable) {
  // This process is no GNOME Wayland session (the test runner's desktop is
  // never taken for one).
  const char* desktop = getenv("XDG_CURRENT_DESKTOP");
  if (desktop && std::string(desktop).find("GNOME") != std::string::npos) GTEST_SKIP() << "runs inside GNOME";
  EXPECT_EQ(LinuxGnomeHelperState(), "n/a");
}

}  // namespace
