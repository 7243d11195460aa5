// The desktop's light or dark preference read from a settings portal: a fake
// org.freedesktop.portal.Desktop on a private session bus answers ReadOne (or
// only Read, as portals before version 2) and emits SettingChanged. No GTK
// display here, so without a portal preference the answer is light.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/os_appearance.h"
#include "tests/support/fake_login1.h"

namespace {

constexpr const char* kIntrospection =
    "<node><interface name='org.freedesktop.portal.Settings'>"
    "<method name='ReadOne'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='v' direction='out'/></method>"
    "<method name='Read'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='v' direction='out'/></method>"
    "<signal name='SettingChanged'><arg type='s'/><arg type='s'/><arg type='v'/></signal>"
    "</interface></node>";

// The fake portal, served from the test thread's main context.
struct FakePortal {
  GDBusConnection* bus = nullptr;
  guint object = 0;
  guint32 scheme = 0;
  bool hasReadOne = true;
  int reads = 0;

  static void OnCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                     GVariant* params, GDBusMethodInvocation* call, gpointer data) {
    auto* self = static_cast<FakePortal*>(data);
    const gchar* ns = nullptr;
    const gchar* key = nullptr;
    g_variant_get(params, "(&s&s)", &ns, &key);
    ++self->reads;
    if (std::string(ns) != "org.freedesktop.appearance" || std::string(key) != "color-scheme") {
      g_dbus_method_invocation_return_dbus_error(call, "org.freedesktop.portal.Error.NotFound", "no such key");
      return;
    }
    if (std::string(method) == "ReadOne" && !self->hasReadOne) {
      g_dbus_method_invocation_return_dbus_error(call, "org.freedesktop.DBus.Error.UnknownMethod", "no ReadOne");
      return;
    }
    GVariant* value = g_variant_new_uint32(self->scheme);
    // Read wraps the value in one more variant.
    if (std::string(method) == "Read") value = g_variant_new_variant(value);
    g_dbus_method_invocation_return_value(call, g_variant_new("(v)", value));
  }

  bool Start(const std::string& address) {
    bus = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (!bus) return false;
    GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    static const GDBusInterfaceVTable vtable = {OnCall, nullptr, nullptr, {}};
    object = g_dbus_connection_register_object(bus, "/org/freedesktop/portal/desktop", info->interfaces[0],
                                               &vtable, this, nullptr, nullptr);
    g_dbus_node_info_unref(info);
    GVariant* r = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                              "org.freedesktop.DBus", "RequestName",
                                              g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u),
                                              G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (!r) return false;
    g_variant_unref(r);
    return object != 0;
  }

  void Emit(const char* ns, const char* key, guint32 value) {
    g_dbus_connection_emit_signal(bus, nullptr, "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Settings",
                                  "SettingChanged", g_variant_new("(ssv)", ns, key, g_variant_new_uint32(value)),
                                  nullptr);
    g_dbus_connection_flush_sync(bus, nullptr, nullptr);
  }

  void Leave() {
    if (!bus) return;
    g_dbus_connection_unregister_object(bus, object);
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    bus = nullptr;
  }
  ~FakePortal() { Leave(); }
};

// Runs the main context until `done` holds (or a generous limit passes).
bool SpinUntil(const std::function<bool()>& done) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    g_main_context_iteration(nullptr, FALSE);
    g_usleep(1000);
  }
  return true;
}

}  // namespace

TEST(DesktopColorScheme, FollowsThePortalAndItsSignals) {
  pmrtest::PrivateBus bus;
  ASSERT_TRUE(bus.Start("scheme"));
  ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().c_str(), 1);

  // An older portal (Read only) that prefers dark, there before the watch.
  FakePortal old;
  old.scheme = 1;
  old.hasReadOne = false;
  ASSERT_TRUE(old.Start(bus.Address()));
  std::vector<bool> told;
  EXPECT_FALSE(OsDesktopPrefersDark()) << "nothing known before the watch";
  OsWatchDesktopColorScheme([&](bool dark) { told.push_back(dark); });
  ASSERT_TRUE(SpinUntil([] { return OsDesktopPrefersDark(); })) << "dark read through Read";
  EXPECT_EQ(told, std::vector<bool>{true});

  // Changes: prefer light; another setting of the same name elsewhere is
  // not the colour scheme; prefer dark; an unknown value is no preference.
  old.Emit("org.freedesktop.appearance", "color-scheme", 2);
  ASSERT_TRUE(SpinUntil([] { return !OsDesktopPrefersDark(); }));
  old.Emit("org.gnome.desktop.interface", "color-scheme", 1);
  old.Emit("org.freedesktop.appearance", "accent-color", 1);
  old.Emit("org.freedesktop.appearance", "color-scheme", 1);
  ASSERT_TRUE(SpinUntil([&] { return told.size() == 3; }));
  EXPECT_EQ(told, (std::vector<bool>{true, false, true}));
  old.Emit("org.freedesktop.appearance", "color-scheme", 7);
  ASSERT_TRUE(SpinUntil([&] { return told.size() == 4; }));
  EXPECT_FALSE(told.back());

  // Back to dark, then the portal leaves the bus: no preference any more.
  old.Emit("org.freedesktop.appearance", "color-scheme", 1);
  ASSERT_TRUE(SpinUntil([] { return OsDesktopPrefersDark(); }));
  old.Leave();
  ASSERT_TRUE(SpinUntil([] { return !OsDesktopPrefersDark(); })) << "a vanished portal still counted";

  // A portal that comes later (with ReadOne) is read when it appears.
  FakePortal later;
  later.scheme = 1;
  ASSERT_TRUE(later.Start(bus.Address()));
  ASSERT_TRUE(SpinUntil([] { return OsDesktopPrefersDark(); })) << "a portal started later not read";
  EXPECT_EQ(later.reads, 1) << "ReadOne answered, no Read needed";
  EXPECT_EQ(told, (std::vector<bool>{true, false, true, false, true, false, true}));
  later.Leave();
  ASSERT_TRUE(SpinUntil([] { return !OsDesktopPrefersDark(); }));
}
