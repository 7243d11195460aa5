#include "tests/support/kwin_session.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wayland-client.h>

#include <chrono>
#include <cstdlib>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "tests/support/fake_login1.h"
#include "tests/support/process.h"

#ifdef PMR_HAVE_FAKE_INPUT
#include "fake-input-client.h"
#endif

namespace pmrtest {

namespace {

constexpr const char* kSocketName = "wayland-pmr";
constexpr const char* kReportPath = "/pmrtest/Report";
constexpr const char* kReportIface = "pmr.test.Report1";
constexpr const char* kReportXml =
    "<node><interface name='pmr.test.Report1'><method name='Report'><arg type='s' direction='in'/>"
    "<arg type='s' direction='in'/></method></interface></node>";

std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  // kwin_wayland lives in /usr/bin, which a stripped PATH may miss.
  if (access(("/usr/bin/" + name).c_str(), X_OK) == 0) return "/usr/bin/" + name;
  return "";
}

std::string JsQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'' || c == '\\') out += '\\';
    out += c;
  }
  return out + "'";
}

}  // namespace

bool WaitForCondition(const std::function<bool()>& condition, int timeoutMs, bool iterateMainContext) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    if (iterateMainContext)
      while (g_main_context_iteration(nullptr, FALSE)) {
      }
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(iterateMainContext ? 5 : 20));
  }
}

struct KWinSession::Impl {
  PrivateBus bus;
  std::string dir;
  std::string runtimeDir;
  std::string binary;
  GDBusConnection* connection = nullptr;
  GMainContext* context = nullptr;
  guint reportId = 0;
  std::map<std::string, std::string> reports;
  int evalCounter = 0;
  bool exported = false;

  wl_display* display = nullptr;
#ifdef PMR_HAVE_FAKE_INPUT
  org_kde_kwin_fake_input* fakeInput = nullptr;
#endif

  static void OnReport(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* params,
                       GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<Impl*>(data);
    const gchar* token = nullptr;
    const gchar* value = nullptr;
    g_variant_get(params, "(&s&s)", &token, &value);
    self->reports[token ? token : ""] = value ? value : "";
    g_dbus_method_invocation_return_value(invocation, nullptr);
  }

  GVariant* Scripting(const char* method, GVariant* params, const char* replyType) {
    if (!connection) return nullptr;
    return g_dbus_connection_call_sync(connection, "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", method,
                                       params, replyType ? G_VARIANT_TYPE(replyType) : nullptr,
                                       G_DBUS_CALL_FLAGS_NO_AUTO_START, 3000, nullptr, nullptr);
  }

  void DropWayland() {
#ifdef PMR_HAVE_FAKE_INPUT
    if (fakeInput) org_kde_kwin_fake_input_destroy(fakeInput);
    fakeInput = nullptr;
#endif
    if (display) wl_display_disconnect(display);
    display = nullptr;
  }
};

KWinSession::KWinSession() : impl_(std::make_unique<Impl>()) {}

KWinSession::~KWinSession() { Stop(); }

std::string KWinSession::Unavailable() {
  if (FindOnPath("kwin_wayland").empty()) return "kwin_wayland is not installed (Debian package kwin-wayland)";
  if (FindOnPath("dbus-daemon").empty()) return "dbus-daemon is not installed";
  return "";
}

bool KWinSession::Start() {
  error_ = Unavailable();
  if (!error_.empty()) return false;
  impl_->dir = MakeTempDir("kwin");
  if (impl_->dir.empty()) {
    error_ = "no temporary directory";
    return false;
  }
  impl_->runtimeDir = impl_->dir + "/run";
  for (const char* sub : {"/run", "/home", "/home/.config", "/home/.local", "/home/.local/share", "/home/.cache",
                          "/bin"})
    mkdir((impl_->dir + sub).c_str(), 0700);
  // The packaged binary carries a file capability that cannot be honoured
  // here; a plain copy runs. The name must still end in kwin_wayland.
  impl_->binary = impl_->dir + "/bin/kwin_wayland";
  std::error_code ec;
  std::filesystem::copy_file(FindOnPath("kwin_wayland"), impl_->binary, ec);
  if (ec) {
    error_ = "cannot copy kwin_wayland: " + ec.message();
    return false;
  }
  chmod(impl_->binary.c_str(), 0755);
  if (!impl_->bus.Start("kwin")) {
    error_ = "the private session bus did not start";
    return false;
  }
  // The socket file appears a moment before the daemon accepts on it.
  WaitForCondition(
      [&] {
        impl_->connection = g_dbus_connection_new_for_address_sync(
            impl_->bus.Address().c_str(),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        return impl_->connection != nullptr;
      },
      10000);
  if (!impl_->connection) {
    error_ = "cannot connect to the private session bus";
    return false;
  }
  impl_->context = g_main_context_new();
  g_main_context_push_thread_default(impl_->context);
  GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kReportXml, nullptr);
  static const GDBusInterfaceVTable vtable = {Impl::OnReport, nullptr, nullptr, {}};
  impl_->reportId = g_dbus_connection_register_object(impl_->connection, kReportPath, info->interfaces[0], &vtable,
                                                      impl_.get(), nullptr, nullptr);
  g_dbus_node_info_unref(info);
  g_main_context_pop_thread_default(impl_->context);
  return StartKWin();
}

bool KWinSession::StartKWin() {
  const std::string log = impl_->dir + "/kwin.log";
  const std::string home = impl_->dir + "/home";
  pid_t pid = fork();
  if (pid < 0) {
    error_ = "fork failed";
    return false;
  }
  if (pid == 0) {
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    int nul = open("/dev/null", O_RDONLY);
    if (nul >= 0) dup2(nul, 0);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("WAYLAND_SOCKET");
    unsetenv("LD_PRELOAD");
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home + "/.cache").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", impl_->runtimeDir.c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", impl_->bus.Address().c_str(), 1);
    setenv("XDG_CURRENT_DESKTOP", "KDE", 1);
    setenv("XDG_SESSION_TYPE", "wayland", 1);
    setenv("KWIN_COMPOSE", "Q", 1);
    // Fake input is a restricted interface; the tests' pointer moves need it.
    setenv("KWIN_WAYLAND_NO_PERMISSION_CHECKS", "1", 1);
    setenv("QT_LOGGING_RULES", "kwin_scripting.debug=true;js.debug=true", 1);
    execl(impl_->binary.c_str(), impl_->binary.c_str(), "--virtual", "--no-lockscreen", "--no-global-shortcuts",
          "--no-kactivities", "--socket", kSocketName, "--width", "1280", "--height", "800",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  kwinPid_ = pid;
  const std::string socket = waylandDisplay();
  bool ready = WaitForCondition(
      [&] {
        if (waitpid(kwinPid_, nullptr, WNOHANG) == kwinPid_) {
          kwinPid_ = -1;
          return true;
        }
        if (access(socket.c_str(), F_OK) != 0 || KWinBusName().empty()) return false;
        GVariant* reply = impl_->Scripting("isScriptLoaded", g_variant_new("(s)", "pmrtest-none"), "(b)");
        if (!reply) return false;
        g_variant_unref(reply);
        return true;
      },
      30000);
  if (!ready || kwinPid_ <= 0) {
    error_ = std::string(kwinPid_ <= 0 ? "KWin exited" : "KWin did not come up") + "; log:\n" + Log();
    KillKWin();
    return false;
  }
  return true;
}

void KWinSession::KillKWin() {
  impl_->DropWayland();
  if (kwinPid_ > 0) {
    kill(kwinPid_, SIGKILL);
    waitpid(kwinPid_, nullptr, 0);
    kwinPid_ = -1;
  }
  // A killed KWin leaves its socket and lock behind.
  unlink(waylandDisplay().c_str());
  unlink((waylandDisplay() + ".lock").c_str());
  // Wait until the bus has noticed.
  WaitForCondition([&] { return KWinBusName().empty(); }, 5000);
}

bool KWinSession::RestartKWin() {
  KillKWin();
  return StartKWin();
}

void KWinSession::Stop() {
  impl_->DropWayland();
  if (impl_->exported && impl_->bus.Address().size()) {
    // This process's own session bus connection goes with the bus; it must
    // not end the process when it does.
    if (GDBusConnection* own = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
      g_dbus_connection_set_exit_on_close(own, FALSE);
      g_object_unref(own);
    }
  }
  if (kwinPid_ > 0) {
    kill(kwinPid_, SIGTERM);
    ChildProcess child;
    child.pid = kwinPid_;
    WaitFor(child, 5);
    kwinPid_ = -1;
  }
  if (impl_->reportId && impl_->connection) g_dbus_connection_unregister_object(impl_->connection, impl_->reportId);
  impl_->reportId = 0;
  if (impl_->connection) {
    g_dbus_connection_close_sync(impl_->connection, nullptr, nullptr);
    g_object_unref(impl_->connection);
    impl_->connection = nullptr;
  }
  if (impl_->context) {
    while (g_main_context_iteration(impl_->context, FALSE)) {
    }
    g_main_context_unref(impl_->context);
    impl_->context = nullptr;
  }
  impl_->bus.Stop();
  // The copy of KWin, its runtime directory, log and the evaluated scripts.
  if (!impl_->dir.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(impl_->dir, ec);
    impl_->dir.clear();
  }
}

const std::string& KWinSession::busAddress() const { return impl_->bus.Address(); }

const std::string& KWinSession::runtimeDir() const { return impl_->runtimeDir; }

std::string KWinSession::waylandDisplay() const { return impl_->runtimeDir + "/" + kSocketName; }

std::vector<std::pair<std::string, std::string>> KWinSession::ClientEnv() const {
  return {{"DBUS_SESSION_BUS_ADDRESS", busAddress()},
          {"WAYLAND_DISPLAY", waylandDisplay()},
          {"GDK_BACKEND", "wayland"},
          {"XDG_CURRENT_DESKTOP", "KDE"},
          {"XDG_SESSION_TYPE", "wayland"}};
}

void KWinSession::ExportClientEnv() {
  for (const auto& [name, value] : ClientEnv()) setenv(name.c_str(), value.c_str(), 1);
  impl_->exported = true;
}

std::string KWinSession::Eval(const std::string& body, int timeoutMs) {
  if (!impl_->connection) return "";
  const std::string name = "pmrtest-eval-" + std::to_string(++impl_->evalCounter);
  const std::string file = impl_->dir + "/" + name + ".js";
  const char* self = g_dbus_connection_get_unique_name(impl_->connection);
  {
    std::ofstream out(file);
    out << "(function () {\n"
           "  let v;\n"
           "  try { v = JSON.stringify((function () {\n"
        << body
        << "\n  })()); } catch (e) { v = JSON.stringify('error: ' + e); }\n"
           "  callDBus("
        << JsQuote(self) << ", '" << kReportPath << "', '" << kReportIface << "', 'Report', " << JsQuote(name)
        << ", v === undefined ? 'undefined' : v);\n"
           "})();\n";
  }
  std::string result;
  GVariant* loaded =
      impl_->Scripting("loadScript", g_variant_new("(ss)", file.c_str(), name.c_str()), "(i)");
  if (loaded) {
    g_variant_unref(loaded);
    if (GVariant* started = impl_->Scripting("start", nullptr, nullptr)) g_variant_unref(started);
    WaitForCondition(
        [&] {
          while (g_main_context_iteration(impl_->context, FALSE)) {
          }
          return impl_->reports.count(name) > 0;
        },
        timeoutMs);
    if (impl_->reports.count(name)) result = impl_->reports[name];
    impl_->reports.erase(name);
    if (GVariant* r = impl_->Scripting("unloadScript", g_variant_new("(s)", name.c_str()), "(b)")) g_variant_unref(r);
  }
  unlink(file.c_str());
  return result;
}

bool KWinSession::LoadScript(const std::string& file, const std::string& name) {
  GVariant* loaded = impl_->Scripting("loadScript", g_variant_new("(ss)", file.c_str(), name.c_str()), "(i)");
  if (!loaded) return false;
  gint32 id = -1;
  g_variant_get(loaded, "(i)", &id);
  g_variant_unref(loaded);
  if (GVariant* started = impl_->Scripting("start", nullptr, nullptr)) g_variant_unref(started);
  return id >= 0;
}

bool KWinSession::IsScriptLoaded(const std::string& name) {
  GVariant* reply = impl_->Scripting("isScriptLoaded", g_variant_new("(s)", name.c_str()), "(b)");
  if (!reply) return false;
  gboolean loaded = FALSE;
  g_variant_get(reply, "(b)", &loaded);
  g_variant_unref(reply);
  return loaded;
}

std::string KWinSession::KWinBusName() {
  if (!impl_->connection) return "";
  GVariant* reply = g_dbus_connection_call_sync(
      impl_->connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner",
      g_variant_new("(s)", "org.kde.KWin"), G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
  if (!reply) return "";
  const gchar* owner = nullptr;
  g_variant_get(reply, "(&s)", &owner);
  std::string result = owner ? owner : "";
  g_variant_unref(reply);
  return result;
}

std::string KWinSession::ForeignCall(const std::string& destination, const std::string& path,
                                     const std::string& iface, const std::string& method,
                                     const std::string& argsText, std::string* message) {
  GDBusConnection* other = g_dbus_connection_new_for_address_sync(
      busAddress().c_str(),
      GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                           G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  if (!other) return "no connection";
  GVariant* args = g_variant_parse(nullptr, argsText.c_str(), nullptr, nullptr, nullptr);
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(other, destination.c_str(), path.c_str(), iface.c_str(),
                                                method.c_str(), args, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, 3000,
                                                nullptr, &error);
  std::string name;
  if (reply) g_variant_unref(reply);
  if (error) {
    gchar* remote = g_dbus_error_get_remote_error(error);
    name = remote ? remote : "error";
    g_free(remote);
    g_dbus_error_strip_remote_error(error);
    if (message) *message = error->message;
    g_error_free(error);
  }
  g_dbus_connection_close_sync(other, nullptr, nullptr);
  g_object_unref(other);
  return name;
}

bool KWinSession::MovePointer(double x, double y) {
#ifdef PMR_HAVE_FAKE_INPUT
  if (!impl_->display) {
    impl_->display = wl_display_connect(waylandDisplay().c_str());
    if (!impl_->display) return false;
    wl_registry* registry = wl_display_get_registry(impl_->display);
    static const wl_registry_listener listener = {
        [](void* data, wl_registry* reg, uint32_t name, const char* iface, uint32_t version) {
          auto* self = static_cast<Impl*>(data);
          if (std::strcmp(iface, org_kde_kwin_fake_input_interface.name) == 0 && !self->fakeInput)
            self->fakeInput = static_cast<org_kde_kwin_fake_input*>(wl_registry_bind(
                reg, name, &org_kde_kwin_fake_input_interface, std::min<uint32_t>(version, 4)));
        },
        [](void*, wl_registry*, uint32_t) {}};
    wl_registry_add_listener(registry, &listener, impl_.get());
    wl_display_roundtrip(impl_->display);
    wl_registry_destroy(registry);
    if (!impl_->fakeInput) {
      impl_->DropWayland();
      return false;
    }
    org_kde_kwin_fake_input_authenticate(impl_->fakeInput, "Pellomar tests", "moves the pointer in tests");
    wl_display_roundtrip(impl_->display);
  }
  org_kde_kwin_fake_input_pointer_motion_absolute(impl_->fakeInput, wl_fixed_from_double(x), wl_fixed_from_double(y));
  return wl_display_roundtrip(impl_->display) >= 0;
#else
  (void)x;
  (void)y;
  return false;
#endif
}

bool KWinSession::PointerPosition(int& x, int& y) {
  std::string reply = Eval("return [workspace.cursorPos.x, workspace.cursorPos.y];");
  return std::sscanf(reply.c_str(), "[%d,%d]", &x, &y) == 2;
}

std::string KWinSession::Log() const {
  std::ifstream in(impl_->dir + "/kwin.log");
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// ---- KWinTestWindow ---------------------------------------------------------------------

KWinTestWindow::~KWinTestWindow() { Stop(); }

bool KWinTestWindow::Start(const KWinSession& kwin, const std::string& title, int width, int height,
                           bool decorated) {
  std::vector<std::string> env;
  for (const auto& [name, value] : kwin.ClientEnv()) env.push_back(name + "=" + value);
  env.push_back("LD_PRELOAD=");
  // GTK opens no Wayland display without a runtime directory.
  env.push_back("XDG_RUNTIME_DIR=" + kwin.runtimeDir());
  ChildProcess child = Spawn(
      {PMR_TEST_WINDOW, title, std::to_string(width), std::to_string(height), decorated ? "decorated" : "plain"}, env,
      false);
  pid_ = child.pid;
  return pid_ > 0;
}

void KWinTestWindow::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  ChildProcess child;
  child.pid = pid_;
  WaitFor(child, 5);
  pid_ = -1;
}

}  // namespace pmrtest
