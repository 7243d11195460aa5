#include "tests/support/fake_login1.h"
#include "platform/linux/gtk/handoff.h"

#include <gio/gio.h>
#include <sched.h>
#include <sys/resource.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

#include "tests/support/process.h"

namespace pmrtest {

// ---- PrivateBus ---------------------------------------------------------------

namespace {

bool Accepts(const std::string& socketPath) {
  sockaddr_un addr{};
  if (socketPath.size() >= sizeof addr.sun_path) return false;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

}  // namespace

PrivateBus::~PrivateBus() { Stop(); }

bool PrivateBus::Start(const std::string& tag) {
  dir_ = MakeTempDir("bus-" + tag);
  const std::string socket = dir_ + "/bus";
  const std::string config = dir_ + "/bus.conf";
  {
    std::ofstream out(config);
    out << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <listen>unix:path="
        << socket
        << "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow user=\"*\"/>\n"
           "    <allow own=\"*\"/>\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
  }
  ChildProcess child = Spawn({"dbus-daemon", "--config-file=" + config, "--nofork"}, {}, false);
  pid_ = child.pid;
  if (pid_ <= 0) return false;
  // Ready once the socket accepts a connection: the file appears at bind(),
  // a moment before the daemon listens, and a loaded machine stretches that
  // moment. The limit only ends a daemon that never comes up.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    if (Accepts(socket)) {
      address_ = "unix:path=" + socket;
      return true;
    }
    if (kill(pid_, 0) != 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Stop();
  return false;
}

void PrivateBus::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    ChildProcess child;
    child.pid = pid_;
    WaitFor(child, 5);
    pid_ = -1;
  }
}

namespace {

GDBusConnection* ConnectTo(const std::string& address) {
  return g_dbus_connection_new_for_address_sync(
      address.c_str(),
      GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                           G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
}

// Ends a fake's own loop and thread. The quit is queued into the fake's
// context: it ends the loop once it runs, also when it has not started yet.
void StopServiceThread(GMainContext* context, GMainLoop* loop, std::thread& thread) {
  if (!thread.joinable()) return;
  HandoffPosted(loop);
  g_main_context_invoke(context, [](gpointer l) -> gboolean {
    HandoffRunning(l);
    g_main_loop_quit(static_cast<GMainLoop*>(l));
    return G_SOURCE_REMOVE;
  }, loop);
  thread.join();
  g_main_loop_unref(loop);
  g_main_context_unref(context);
}

bool OwnName(GDBusConnection* connection, const char* name) {
  GVariant* reply = g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", "RequestName", g_variant_new("(su)", name, 4u),
                                                G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  if (!reply) return false;
  guint32 result = 0;
  g_variant_get(reply, "(u)", &result);
  g_variant_unref(reply);
  return result == 1;
}

constexpr const char* kManagerXml =
    "<node><interface name='org.freedesktop.login1.Manager'>"
    "<method name='GetSessionByPID'><arg type='u' direction='in'/><arg type='o' direction='out'/></method>"
    "</interface></node>";
constexpr const char* kSessionXml =
    "<node><interface name='org.freedesktop.login1.Session'>"
    "<property name='Id' type='s' access='read'/>"
    "<property name='Active' type='b' access='read'/>"
    "<property name='LockedHint' type='b' access='read'/>"
    "<signal name='Lock'/><signal name='Unlock'/>"
    "</interface></node>";

}  // namespace

// ---- FakeLogin1 -----------------------------------------------------------------

struct FakeLogin1::Impl {
  Options options;
  mutable std::mutex mutex;
  bool active = true;
  bool locked = false;
  int getAllCalls = 0;
  int getSessionCalls = 0;

  GDBusConnection* connection = nullptr;
  GMainContext* context = nullptr;
  GMainLoop* loop = nullptr;
  std::thread thread;
  std::condition_variable started;
  bool ready = false;
  bool ok = false;

  static void OnMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                       GVariant*, GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<Impl*>(data);
    if (g_strcmp0(method, "GetSessionByPID") != 0) {
      g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod", "no");
      return;
    }
    bool answer;
    {
      std::lock_guard<std::mutex> lock(self->mutex);
      ++self->getSessionCalls;
      answer = self->options.answerGetSessionByPid;
    }
    if (answer)
      g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", kSessionPath));
    else
      g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.login1.NoSessionForPID",
                                                 "PID does not belong to any known session");
  }

  static GVariant* OnSessionProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name,
                                     GError**, gpointer data) {
    auto* self = static_cast<Impl*>(data);
    std::lock_guard<std::mutex> lock(self->mutex);
    if (g_strcmp0(name, "Active") == 0) {
      ++self->getAllCalls;  // every GetAll reads each property once
      return g_variant_new_boolean(self->active);
    }
    if (g_strcmp0(name, "LockedHint") == 0) return g_variant_new_boolean(self->locked);
    return g_variant_new_string("31");
  }

  static GVariant* OnUserProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                                  GError** error, gpointer data) {
    auto* self = static_cast<Impl*>(data);
    const std::string path = self->options.userDisplayPath;
    if (path.empty()) {
      g_set_error_literal(error, G_DBUS_ERROR, G_DBUS_ERROR_FAILED, "no display session");
      return nullptr;
    }
    if (self->options.displayWrongType) return g_variant_new_string(path.c_str());
    return g_variant_new("(so)", "31", path.c_str());
  }

  void Run(const std::string& address) {
    g_main_context_push_thread_default(context);
    connection = ConnectTo(address);
    if (connection) {
      GDBusNodeInfo* manager = g_dbus_node_info_new_for_xml(kManagerXml, nullptr);
      GDBusNodeInfo* session = g_dbus_node_info_new_for_xml(kSessionXml, nullptr);
      const std::string userXml = std::string("<node><interface name='org.freedesktop.login1.User'>") +
                                  "<property name='Display' type='" + (options.displayWrongType ? "s" : "(so)") +
                                  "' access='read'/></interface></node>";
      GDBusNodeInfo* user = g_dbus_node_info_new_for_xml(userXml.c_str(), nullptr);
      static const GDBusInterfaceVTable managerTable = {OnMethod, nullptr, nullptr, {}};
      static const GDBusInterfaceVTable sessionTable = {nullptr, OnSessionProperty, nullptr, {}};
      static const GDBusInterfaceVTable userTable = {nullptr, OnUserProperty, nullptr, {}};
      ok = g_dbus_connection_register_object(connection, "/org/freedesktop/login1", manager->interfaces[0],
                                             &managerTable, this, nullptr, nullptr) &&
           g_dbus_connection_register_object(connection, kSessionPath, session->interfaces[0], &sessionTable, this,
                                             nullptr, nullptr) &&
           g_dbus_connection_register_object(connection, "/org/freedesktop/login1/user/self", user->interfaces[0],
                                             &userTable, this, nullptr, nullptr) &&
           OwnName(connection, "org.freedesktop.login1");
      g_dbus_node_info_unref(manager);
      g_dbus_node_info_unref(session);
      g_dbus_node_info_unref(user);
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      ready = true;
    }
    started.notify_all();
    if (ok) g_main_loop_run(loop);
    if (connection) {
      g_dbus_connection_close_sync(connection, nullptr, nullptr);
      g_object_unref(connection);
      connection = nullptr;
    }
    g_main_context_pop_thread_default(context);
  }

  void Emit(const char* iface, const char* member, GVariant* params) {
    if (connection)
      g_dbus_connection_emit_signal(connection, nullptr, kSessionPath, iface, member, params, nullptr);
    else if (params)
      g_variant_unref(g_variant_ref_sink(params));
    if (connection) g_dbus_connection_flush_sync(connection, nullptr, nullptr);
  }
};

FakeLogin1::FakeLogin1() : impl_(new Impl) {}
FakeLogin1::~FakeLogin1() { Stop(); }

bool FakeLogin1::Start(const std::string& busAddress, const Options& options) {
  impl_->options = options;
  impl_->active = options.active;
  impl_->locked = options.lockedHint;
  impl_->context = g_main_context_new();
  impl_->loop = g_main_loop_new(impl_->context, FALSE);
  impl_->thread = std::thread([this, busAddress] { impl_->Run(busAddress); });
  std::unique_lock<std::mutex> lock(impl_->mutex);
  impl_->started.wait(lock, [this] { return impl_->ready; });
  return impl_->ok;
}

void FakeLogin1::Stop() { StopServiceThread(impl_->context, impl_->loop, impl_->thread); }

void FakeLogin1::SetSession(bool active, bool lockedHint) {
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->active = active;
    impl_->locked = lockedHint;
  }
  GVariantBuilder changed;
  g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&changed, "{sv}", "Active", g_variant_new_boolean(active));
  g_variant_builder_add(&changed, "{sv}", "LockedHint", g_variant_new_boolean(lockedHint));
  impl_->Emit("org.freedesktop.DBus.Properties", "PropertiesChanged",
              g_variant_new("(sa{sv}as)", "org.freedesktop.login1.Session", &changed, nullptr));
}

void FakeLogin1::EmitLock() { impl_->Emit("org.freedesktop.login1.Session", "Lock", nullptr); }
void FakeLogin1::EmitUnlock() { impl_->Emit("org.freedesktop.login1.Session", "Unlock", nullptr); }
void FakeLogin1::EmitSessionSignal(const char* interfaceName, const char* member) {
  impl_->Emit(interfaceName, member, nullptr);
}

int FakeLogin1::GetAllCalls() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->getAllCalls;
}

int FakeLogin1::GetSessionByPidCalls() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->getSessionCalls;
}

// ---- FakeScreensaver ----------------------------------------------------------------

struct FakeScreensaver::Impl {
  GDBusConnection* connection = nullptr;
};

FakeScreensaver::FakeScreensaver() : impl_(new Impl) {}
FakeScreensaver::~FakeScreensaver() {
  if (impl_->connection) {
    g_dbus_connection_close_sync(impl_->connection, nullptr, nullptr);
    g_object_unref(impl_->connection);
  }
}

bool FakeScreensaver::Start(const std::string& busAddress) {
  impl_->connection = ConnectTo(busAddress);
  return impl_->connection != nullptr;
}

void FakeScreensaver::EmitActiveChanged(const char* interfaceName, bool active) {
  EmitActiveChangedRaw(interfaceName, active ? "(true,)" : "(false,)");
}

void FakeScreensaver::EmitActiveChangedRaw(const char* interfaceName, const char* variantText) {
  if (!impl_->connection) return;
  GVariant* params = g_variant_parse(nullptr, variantText, nullptr, nullptr, nullptr);
  g_dbus_connection_emit_signal(impl_->connection, nullptr, "/org/freedesktop/ScreenSaver", interfaceName,
                                "ActiveChanged", params, nullptr);
  g_dbus_connection_flush_sync(impl_->connection, nullptr, nullptr);
}

void FakeScreensaver::EmitSignal(const char* path, const char* interfaceName, const char* member) {
  if (!impl_->connection) return;
  g_dbus_connection_emit_signal(impl_->connection, nullptr, path, interfaceName, member, nullptr, nullptr);
  g_dbus_connection_flush_sync(impl_->connection, nullptr, nullptr);
}

// ---- FakeRealtimeKit ------------------------------------------------------------

namespace {

constexpr const char* kRtkitXml =
    "<node><interface name='org.freedesktop.RealtimeKit1'>"
    "<method name='MakeThreadRealtime'><arg type='t' direction='in'/><arg type='u' direction='in'/></method>"
    "<method name='MakeThreadHighPriority'><arg type='t' direction='in'/><arg type='i' direction='in'/></method>"
    "<property name='MaxRealtimePriority' type='i' access='read'/>"
    "<property name='MinNiceLevel' type='i' access='read'/>"
    "<property name='RTTimeUSecMax' type='x' access='read'/>"
    "</interface></node>";

}  // namespace

struct FakeRealtimeKit::Impl {
  mutable std::mutex mutex;
  int maxPriority = 0;
  int realtimeCalls = 0;
  int highPriorityCalls = 0;
  int lastPriority = 0;
  GDBusConnection* connection = nullptr;
  GMainContext* context = nullptr;
  GMainLoop* loop = nullptr;
  std::thread thread;
  std::condition_variable started;
  bool ready = false;
  bool ok = false;

  static void OnMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                       GVariant* params, GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<Impl*>(data);
    bool granted = false;
    if (g_strcmp0(method, "MakeThreadRealtime") == 0) {
      guint64 tid = 0;
      guint32 prio = 0;
      g_variant_get(params, "(tu)", &tid, &prio);
      std::lock_guard<std::mutex> lock(self->mutex);
      ++self->realtimeCalls;
      self->lastPriority = static_cast<int>(prio);
      sched_param p{};
      p.sched_priority = static_cast<int>(prio);
      granted = self->maxPriority > 0 && static_cast<int>(prio) <= self->maxPriority &&
                sched_setscheduler(static_cast<pid_t>(tid), SCHED_FIFO | SCHED_RESET_ON_FORK, &p) == 0;
    } else if (g_strcmp0(method, "MakeThreadHighPriority") == 0) {
      guint64 tid = 0;
      gint32 nice = 0;
      g_variant_get(params, "(ti)", &tid, &nice);
      std::lock_guard<std::mutex> lock(self->mutex);
      ++self->highPriorityCalls;
      granted = setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0;
    }
    if (granted)
      g_dbus_method_invocation_return_value(invocation, nullptr);
    else
      g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.AccessDenied", "refused");
  }

  static GVariant* OnProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GError**,
                              gpointer data) {
    auto* self = static_cast<Impl*>(data);
    std::lock_guard<std::mutex> lock(self->mutex);
    if (g_strcmp0(name, "MaxRealtimePriority") == 0) return g_variant_new_int32(self->maxPriority);
    if (g_strcmp0(name, "MinNiceLevel") == 0) return g_variant_new_int32(-15);
    return g_variant_new_int64(200000);
  }

  void Run(const std::string& address) {
    g_main_context_push_thread_default(context);
    connection = ConnectTo(address);
    if (connection) {
      GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kRtkitXml, nullptr);
      static const GDBusInterfaceVTable table = {OnMethod, OnProperty, nullptr, {}};
      ok = g_dbus_connection_register_object(connection, "/org/freedesktop/RealtimeKit1", info->interfaces[0], &table,
                                             this, nullptr, nullptr) &&
           OwnName(connection, "org.freedesktop.RealtimeKit1");
      g_dbus_node_info_unref(info);
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      ready = true;
    }
    started.notify_all();
    if (ok) g_main_loop_run(loop);
    if (connection) {
      g_dbus_connection_close_sync(connection, nullptr, nullptr);
      g_object_unref(connection);
      connection = nullptr;
    }
    g_main_context_pop_thread_default(context);
  }
};

FakeRealtimeKit::FakeRealtimeKit() : impl_(new Impl) {}
FakeRealtimeKit::~FakeRealtimeKit() { Stop(); }

bool FakeRealtimeKit::Start(const std::string& busAddress, int maxPriority) {
  impl_->maxPriority = maxPriority;
  impl_->context = g_main_context_new();
  impl_->loop = g_main_loop_new(impl_->context, FALSE);
  impl_->thread = std::thread([this, busAddress] { impl_->Run(busAddress); });
  std::unique_lock<std::mutex> lock(impl_->mutex);
  impl_->started.wait(lock, [this] { return impl_->ready; });
  return impl_->ok;
}

void FakeRealtimeKit::Stop() { StopServiceThread(impl_->context, impl_->loop, impl_->thread); }

int FakeRealtimeKit::RealtimeCalls() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->realtimeCalls;
}
int FakeRealtimeKit::HighPriorityCalls() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->highPriorityCalls;
}
int FakeRealtimeKit::LastPriority() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->lastPriority;
}

}  // namespace pmrtest
