// KWin backend. KWin answers no questions about the pointer or other windows,
// but it runs scripts that may call D-Bus: we export a small object on the
// session bus, have KWin load a script that pushes the pointer position and
// the window list to it whenever they change, and act on our own window
// through one-shot scripts loaded the same way.
//
// Threads: the report thread runs its own GLib loop and receives KWin's
// calls; the queries only read the last report under g_Mutex; scripting
// calls are synchronous on the calling thread.
#include "platform/linux/shell/kwin.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <gio/gio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/number_text.h"
#include "base/strings.h"
#include "platform/linux/shell/kwin_internal.h"

using pmrkwin::KWinWindow;

namespace {

constexpr const char* kKWinName = "org.kde.KWin";
constexpr const char* kScriptingPath = "/Scripting";
constexpr const char* kScriptingIface = "org.kde.kwin.Scripting";
constexpr int kScriptingTimeoutMs = 2000;
constexpr int kNameOwnerTimeoutMs = 1000;
constexpr int kActionUnloadDelayMs = 1000;
// A KWin that comes back is asked to load the report script again; its
// scripting object may appear a little after its name.
constexpr int kReloadRetryMs = 200;
constexpr int kReloadAttempts = 50;
// A window list longer than this is not a real desktop; the rest is cut.
constexpr size_t kMaxListBytes = 1 << 20;

std::mutex g_Mutex;
std::string g_KWinOwner;
bool g_HavePointer = false;
double g_PointerX = 0;
double g_PointerY = 0;
std::vector<KWinWindow> g_Windows;
// Keep-above asked for before KWin listed our window (the state at start-up
// is asked for as soon as GTK maps the window, which can be before KWin
// manages it): -1 none, else the state, applied when the window shows up.
int g_AboveForNewWindow = -1;

std::string g_ScriptName;
std::string g_ScriptFile;
// The key of this run, written into the report script and checked on every
// call; the script file is deleted once our script has called with it.
std::string g_ReportKey;
bool g_ScriptOnDisk = false;
std::atomic<int> g_ActionCounter{0};

// Report thread.
GMainContext* g_ReportContext = nullptr;
GMainLoop* g_ReportLoop = nullptr;
std::thread g_ReportThread;
std::mutex g_RegisterMutex;
std::condition_variable g_RegisterCv;
int g_RegisterState = 0;  // 0 pending, 1 registered, -1 failed
std::atomic<int> g_ReloadAttempt{0};

// Action scripts still loaded, unloaded about a second after their load or
// at shutdown, whichever comes first.
struct PendingAction {
  std::string name;
  std::string file;
};
std::mutex g_ActionMutex;
std::vector<PendingAction> g_PendingActions;

std::mutex g_DirMutex;
bool g_DirComputed = false;
std::string g_Dir;
bool g_DirIsTemporary = false;

GDBusConnection* Bus() {
  static GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  return bus;
}

GVariant* CallScripting(const char* method, GVariant* params, const GVariantType* replyType) {
  GDBusConnection* bus = Bus();
  if (!bus) {
    if (params) g_variant_unref(g_variant_ref_sink(params));
    return nullptr;
  }
  return g_dbus_connection_call_sync(bus, kKWinName, kScriptingPath, kScriptingIface, method, params, replyType,
                                     G_DBUS_CALL_FLAGS_NO_AUTO_START, kScriptingTimeoutMs, nullptr, nullptr);
}

bool ScriptBoolCall(const char* method, const std::string& name) {
  GVariant* reply = CallScripting(method, g_variant_new("(s)", name.c_str()), G_VARIANT_TYPE("(b)"));
  if (!reply) return false;
  gboolean value = FALSE;
  g_variant_get(reply, "(b)", &value);
  g_variant_unref(reply);
  return value;
}

bool LoadAndStart(const std::string& file, const std::string& name) {
  if (ScriptBoolCall("isScriptLoaded", name)) ScriptBoolCall("unloadScript", name);
  GVariant* reply =
      CallScripting("loadScript", g_variant_new("(ss)", file.c_str(), name.c_str()), G_VARIANT_TYPE("(i)"));
  if (!reply) return false;
  gint32 id = -1;
  g_variant_get(reply, "(i)", &id);
  g_variant_unref(reply);
  if (id < 0) return false;
  if (GVariant* started = CallScripting("start", nullptr, nullptr)) g_variant_unref(started);
  return true;
}

std::string NameOwner(GDBusConnection* bus, const char* name) {
  std::string owner;
  GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", "GetNameOwner", g_variant_new("(s)", name),
                                                G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, kNameOwnerTimeoutMs,
                                                nullptr, nullptr);
  if (!reply) return owner;
  const gchar* text = nullptr;
  g_variant_get(reply, "(&s)", &text);
  if (text) owner = text;
  g_variant_unref(reply);
  return owner;
}

bool RunAction(const std::string& body);

// ---- Report thread ---------------------------------------------------------------

void OnMethodCall(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* method,
                  GVariant* params, GDBusMethodInvocation* invocation, gpointer) {
  bool isWindows = g_strcmp0(method, "Windows") == 0;
  bool isPointer = g_strcmp0(method, "Pointer") == 0;
  // The bus checked the arguments against the interface: a key comes first.
  const gchar* key = nullptr;
  gint32 x = 0, y = 0;
  std::vector<KWinWindow> list;
  if (isPointer) g_variant_get(params, "(&sii)", &key, &x, &y);
  if (isWindows) {
    const gchar* text = nullptr;
    g_variant_get(params, "(&s&s)", &key, &text);
    std::string_view view = text ? text : "";
    if (view.size() > kMaxListBytes) view = view.substr(0, kMaxListBytes);
    list = pmrkwin::ParseWindowList(view);
  }
  {
    std::lock_guard<std::mutex> lock(g_Mutex);
    if (g_KWinOwner.empty() || !sender || g_KWinOwner != sender || !key ||
        !pmrkwin::ReportKeyMatches(key, g_ReportKey)) {
      g_dbus_method_invocation_return_dbus_error(invocation, pmrkwin::kAccessDenied, pmrkwin::kAccessDeniedText);
      return;
    }
    // Our script runs: KWin has read its file, and the key need not stay on disk.
    if (g_ScriptOnDisk) {
      unlink(g_ScriptFile.c_str());
      g_ScriptOnDisk = false;
    }
    if (isWindows) {
      g_Windows = std::move(list);
      int x, y, w, h;
      if (g_AboveForNewWindow >= 0 && pmrkwin::OwnFrameIn(g_Windows, static_cast<int>(getpid()), x, y, w, h)) {
        // Applied from the main loop, like every other action.
        g_idle_add([](gpointer above) -> gboolean {
          RunAction(pmrkwin::KeepAboveBody(GPOINTER_TO_INT(above) != 0));
          return G_SOURCE_REMOVE;
        }, GINT_TO_POINTER(g_AboveForNewWindow));
        g_AboveForNewWindow = -1;
      }
    } else if (isPointer) {
      g_PointerX = x;
      g_PointerY = y;
      g_HavePointer = true;
    }
  }
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

const GDBusInterfaceVTable kVTable = {OnMethodCall, nullptr, nullptr, {}};

// Writes the report script (again: it is deleted once it ran) and returns its
// file and name, and KWin's bus name; false when there is nothing to load.
bool WriteReportScript(std::string& file, std::string& name, std::string& owner) {
  std::lock_guard<std::mutex> lock(g_Mutex);
  file = g_ScriptFile;
  name = g_ScriptName;
  owner = g_KWinOwner;
  if (file.empty() || name.empty() || owner.empty() || g_ReportKey.empty()) return false;
  GDBusConnection* bus = Bus();
  const char* unique = bus ? g_dbus_connection_get_unique_name(bus) : nullptr;
  if (!unique || !pmrkwin::ScriptSafeBusName(unique)) return false;
  if (!pmrkwin::WriteScriptFile(file, pmrkwin::ReportScriptText(unique, g_ReportKey))) return false;
  g_ScriptOnDisk = true;
  return true;
}

gboolean ReloadReportScript(gpointer) {
  std::string file, name, owner;
  if (!WriteReportScript(file, name, owner)) return G_SOURCE_REMOVE;
  if (LoadAndStart(file, name)) return G_SOURCE_REMOVE;
  return g_ReloadAttempt.fetch_add(1) + 1 < kReloadAttempts ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

// KWin left or came back (a crash, a restart). What the old one reported is
// no longer true; a new one has not loaded our script yet.
void OnKWinOwnerChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* params,
                        gpointer) {
  if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(sss)"))) return;
  const gchar* name = nullptr;
  const gchar* newOwner = nullptr;
  g_variant_get(params, "(&s&s&s)", &name, nullptr, &newOwner);
  if (g_strcmp0(name, kKWinName) != 0) return;
  std::string owner = newOwner ? newOwner : "";
  {
    std::lock_guard<std::mutex> lock(g_Mutex);
    g_KWinOwner = owner;
    g_HavePointer = false;
    g_Windows.clear();
  }
  if (owner.empty()) return;
  g_ReloadAttempt.store(0);
  GSource* source = g_timeout_source_new(0);
  g_source_set_callback(source, [](gpointer data) -> gboolean {
    // The first try runs at once, the retries on their own timer.
    if (ReloadReportScript(data) == G_SOURCE_REMOVE) return G_SOURCE_REMOVE;
    GSource* retry = g_timeout_source_new(kReloadRetryMs);
    g_source_set_callback(retry, ReloadReportScript, nullptr, nullptr);
    g_source_attach(retry, g_ReportContext);
    g_source_unref(retry);
    return G_SOURCE_REMOVE;
  }, nullptr, nullptr);
  g_source_attach(source, g_ReportContext);
  g_source_unref(source);
}

void ReportThreadMain() {
  g_main_context_push_thread_default(g_ReportContext);
  GDBusConnection* bus = Bus();
  guint objectId = 0;
  guint ownerWatch = 0;
  GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(pmrkwin::kIntrospection, nullptr);
  if (bus && info && info->interfaces && info->interfaces[0]) {
    objectId = g_dbus_connection_register_object(bus, pmrkwin::kObjectPath, info->interfaces[0], &kVTable, nullptr,
                                                 nullptr, nullptr);
    ownerWatch = g_dbus_connection_signal_subscribe(bus, "org.freedesktop.DBus", "org.freedesktop.DBus",
                                                    "NameOwnerChanged", "/org/freedesktop/DBus", kKWinName,
                                                    G_DBUS_SIGNAL_FLAGS_NONE, OnKWinOwnerChanged, nullptr, nullptr);
  }
  {
    std::lock_guard<std::mutex> lock(g_RegisterMutex);
    g_RegisterState = objectId ? 1 : -1;
  }
  g_RegisterCv.notify_all();
  g_main_loop_run(g_ReportLoop);
  if (ownerWatch) g_dbus_connection_signal_unsubscribe(bus, ownerWatch);
  if (objectId) g_dbus_connection_unregister_object(bus, objectId);
  if (info) g_dbus_node_info_unref(info);
  // Sources still attached (a reload retry) go with the context.
  g_main_context_pop_thread_default(g_ReportContext);
}

void UnloadPendingAction(const std::string& name) {
  PendingAction action;
  {
    std::lock_guard<std::mutex> lock(g_ActionMutex);
    auto it = g_PendingActions.begin();
    while (it != g_PendingActions.end() && it->name != name) ++it;
    if (it == g_PendingActions.end()) return;  // shutdown took care of it
    action = std::move(*it);
    g_PendingActions.erase(it);
  }
  ScriptBoolCall("unloadScript", action.name);
  unlink(action.file.c_str());
}

void UnloadReportScript() {
  static std::atomic<bool> done{false};
  if (done.exchange(true)) return;
  std::string name, file;
  {
    std::lock_guard<std::mutex> lock(g_Mutex);
    name = g_ScriptName;
    file = g_ScriptFile;
  }
  if (!name.empty()) {
    ScriptBoolCall("unloadScript", name);
    unlink(file.c_str());
  }
  // Action scripts of the last second would otherwise stay loaded and on disk.
  std::vector<PendingAction> actions;
  {
    std::lock_guard<std::mutex> lock(g_ActionMutex);
    actions.swap(g_PendingActions);
  }
  for (const PendingAction& action : actions) {
    ScriptBoolCall("unloadScript", action.name);
    unlink(action.file.c_str());
  }
  if (g_ReportLoop && g_ReportThread.joinable()) {
    GSource* idle = g_idle_source_new();
    g_source_set_callback(idle, [](gpointer) -> gboolean {
      g_main_loop_quit(g_ReportLoop);
      return G_SOURCE_REMOVE;
    }, nullptr, nullptr);
    g_source_attach(idle, g_ReportContext);
    g_source_unref(idle);
    g_ReportThread.join();
  }
  std::lock_guard<std::mutex> lock(g_DirMutex);
  if (g_DirIsTemporary && !g_Dir.empty()) rmdir(g_Dir.c_str());
}

bool StartReportThread() {
  if (!g_ReportThread.joinable()) {
    g_ReportContext = g_main_context_new();
    g_ReportLoop = g_main_loop_new(g_ReportContext, FALSE);
    g_ReportThread = std::thread(ReportThreadMain);
    std::atexit(UnloadReportScript);
  }
  std::unique_lock<std::mutex> lock(g_RegisterMutex);
  g_RegisterCv.wait_for(lock, std::chrono::seconds(1), [] { return g_RegisterState != 0; });
  return g_RegisterState == 1;
}

bool RunAction(const std::string& body) {
  const int pid = static_cast<int>(getpid());
  const std::string name = "pmr-action-" + std::to_string(pid) + "-" + std::to_string(g_ActionCounter.fetch_add(1));
  const std::string& dir = pmrkwin::ScriptDirectory();
  if (dir.empty()) return false;
  const std::string file = dir + "/" + name + ".js";
  if (!pmrkwin::WriteScriptFile(file, pmrkwin::ActionScriptText(pid, body))) return false;
  {
    std::lock_guard<std::mutex> lock(g_ActionMutex);
    g_PendingActions.push_back({name, file});
  }
  bool loaded = LoadAndStart(file, name);
  g_timeout_add_full(G_PRIORITY_DEFAULT, kActionUnloadDelayMs, [](gpointer data) -> gboolean {
    UnloadPendingAction(*static_cast<std::string*>(data));
    return G_SOURCE_REMOVE;
  }, new std::string(name), [](gpointer data) { delete static_cast<std::string*>(data); });
  return loaded;
}

bool IsSafeNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == ':' || c == '_';
}

}  // namespace

// ---- Texts and lists ------------------------------------------------------------------

namespace pmrkwin {

std::vector<KWinWindow> ParseWindowList(std::string_view list) {
  std::vector<KWinWindow> out;
  std::vector<std::string_view> records, fields;
  SplitStringView(list, ';', records);
  for (std::string_view record : records) {
    SplitStringView(record, ',', fields);
    if (fields.size() < 6) continue;
    int values[6];
    bool ok = true;
    for (int i = 0; i < 6 && ok; ++i) {
      // Every number but the last ends right before its comma.
      std::string_view field = fields[i];
      auto value = ParseLeadingInt32(field);
      if (!value) {
        ok = false;
        break;
      }
      if (i < 5) {
        size_t end = field.size();
        while (end > 0 && field[end - 1] >= '0' && field[end - 1] <= '9') --end;
        if (end == field.size()) ok = false;
      }
      values[i] = *value;
    }
    if (!ok) continue;
    KWinWindow w;
    w.pid = values[0];
    w.x = values[1];
    w.y = values[2];
    w.width = values[3];
    w.height = values[4];
    w.normal = values[5] != 0;
    out.push_back(w);
  }
  return out;
}

int PidAtIn(const std::vector<KWinWindow>& windows, double x, double y) {
  for (const KWinWindow& w : windows) {
    if (x >= w.x && x < static_cast<double>(w.x) + w.width && y >= w.y && y < static_cast<double>(w.y) + w.height)
      return w.pid;
  }
  return 0;
}

bool OwnFrameIn(const std::vector<KWinWindow>& windows, int pid, int& x, int& y, int& w, int& h) {
  for (const KWinWindow& window : windows) {
    if (window.pid != pid || !window.normal) continue;
    x = window.x;
    y = window.y;
    w = window.width;
    h = window.height;
    return true;
  }
  return false;
}

bool ScriptSafeBusName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name)
    if (!IsSafeNameChar(c)) return false;
  return true;
}

std::string NewReportKey() {
  unsigned char bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return {};
    got += static_cast<size_t>(n);
  }
  static const char kHex[] = "0123456789abcdef";
  std::string key;
  for (unsigned char b : bytes) {
    key += kHex[b >> 4];
    key += kHex[b & 15];
  }
  return key;
}

bool ReportKeyMatches(std::string_view given, std::string_view key) {
  if (key.empty() || given.size() != key.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < key.size(); ++i) diff |= static_cast<unsigned char>(given[i] ^ key[i]);
  return diff == 0;
}

std::string ReportScriptText(const std::string& target, const std::string& key) {
  static const char* const kLines[] = {
      "// Pellomar: tells the app (and only it) where the pointer and the windows are, which",
      "// KDE doesn't let apps ask. Loaded by the app at startup, unloaded when it quits.",
      nullptr,  // the target and key lines
      "const path = '/app/pellomar/KWin', iface = 'app.pellomar.KWin1';",
      // Without a stacking order (KWin 5) the window list is in the order the
      // windows appeared; each window knows its place in the stack.
      "function windows() {",
      "  if (workspace.stackingOrder) return workspace.stackingOrder;",
      "  const src = workspace.windowList ? workspace.windowList() : workspace.clientList(), l = [];",
      "  for (let i = 0; i < src.length; i++) l.push(src[i]);",
      "  if (l.length && typeof l[0].stackingOrder === 'number') l.sort(function (a, b) { return a.stackingOrder - "
      "b.stackingOrder; });",
      "  return l;",
      "}",
      "function onDesktop(w) {",
      "  if (w.onAllDesktops) return true;",
      // KWin 5 numbers its desktops (and cannot hand its desktop objects to a
      // script: reading w.desktops there only logs a warning per window).
      "  if (typeof w.desktop === 'number') return w.desktop === workspace.currentDesktop;",
      "  if (w.desktops) return w.desktops.indexOf(workspace.currentDesktop) >= 0;",
      "  return w.desktop === workspace.currentDesktop;",
      "}",
      "function sendPointer() { const p = workspace.cursorPos; callDBus(target, path, iface, 'Pointer', key, "
      "Math.round(p.x), Math.round(p.y)); }",
      "function sendWindows() {",
      "  const s = windows(), out = [];",
      "  for (let i = s.length - 1; i >= 0; i--) {",
      "    const w = s[i];",
      "    // the snap overlay and glow (LinuxLayerOverlay) are never a window under the pointer",
      "    if (!w || w.minimized || w.deleted || w.onScreenDisplay || !onDesktop(w)) continue;",
      "    const g = w.frameGeometry;",
      "    out.push([w.pid, Math.round(g.x), Math.round(g.y), Math.round(g.width), Math.round(g.height), "
      "(w.normalWindow || w.utility) ? 1 : 0].join(','));",
      "  }",
      "  callDBus(target, path, iface, 'Windows', key, out.join(';'));",
      "}",
      "function on(signal, fn) { if (signal && signal.connect) signal.connect(fn); }",
      // A window sent to another desktop leaves the list at once, not at the next change.
      "function watch(w) { if (!w) return; on(w.frameGeometryChanged, sendWindows); on(w.minimizedChanged, "
      "sendWindows); on(w.desktopChanged, sendWindows); }",
      "on(workspace.cursorPosChanged, sendPointer);",
      "on(workspace.windowAdded, function (w) { watch(w); sendWindows(); });",
      "on(workspace.clientAdded, function (w) { watch(w); sendWindows(); });",
      "on(workspace.windowRemoved, sendWindows);",
      "on(workspace.clientRemoved, sendWindows);",
      "on(workspace.windowActivated, sendWindows);",
      "on(workspace.clientActivated, sendWindows);",
      "on(workspace.stackingOrderChanged, sendWindows);",
      "on(workspace.currentDesktopChanged, sendWindows);",
      "const all = windows();",
      "for (let i = 0; i < all.length; i++) watch(all[i]);",
      "sendPointer();",
      "sendWindows();",
  };
  std::string text;
  for (const char* line : kLines) {
    if (line)
      text += line;
    else
      text += "const target = '" + target + "', key = '" + key + "';";
    text += '\n';
  }
  return text;
}

std::string ActionScriptText(int pid, const std::string& body) {
  return "const pid = " + std::to_string(pid) +
         ";\n"
         "const list = workspace.windowList ? workspace.windowList() : workspace.clientList();\n"
         "for (let i = 0; i < list.length; i++) {\n"
         "  const w = list[i];\n"
         "  if (!w || w.pid !== pid) continue;\n" +
         body + "}\n";
}

std::string KeepAboveBody(bool above) { return std::string("  w.keepAbove = ") + (above ? "true" : "false") + ";\n"; }

std::string MoveBody(int x, int y) {
  return "  if (!(w.normalWindow || w.utility)) continue;\n"
         "  const g = w.frameGeometry;\n"
         "  w.frameGeometry = { x: " +
         std::to_string(x) + ", y: " + std::to_string(y) +
         ", width: g.width, height: g.height };\n"
         "  break;\n";
}

namespace {

// A directory of ours at path: made when missing; refused when it is a link,
// not a directory or someone else's. Its mode ends up 0700.
bool EnsurePrivateDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
  if (ok && (st.st_mode & 07777) != 0700) ok = fchmod(fd, 0700) == 0;
  close(fd);
  return ok;
}

}  // namespace

const std::string& ScriptDirectory() {
  std::lock_guard<std::mutex> lock(g_DirMutex);
  if (g_DirComputed) return g_Dir;
  g_DirComputed = true;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') {
    std::string dir = std::string(runtime) + "/pellomar";
    if (EnsurePrivateDirectory(dir)) {
      g_Dir = dir;
      return g_Dir;
    }
  }
  // No runtime directory: a fresh directory nobody else can have prepared.
  char tmpl[] = "/tmp/pellomar-kwin-XXXXXX";
  if (mkdtemp(tmpl)) {
    g_Dir = tmpl;
    g_DirIsTemporary = true;
  }
  return g_Dir;
}

void ResetScriptDirectoryForTest() {
  std::lock_guard<std::mutex> lock(g_DirMutex);
  if (g_DirIsTemporary && !g_Dir.empty()) rmdir(g_Dir.c_str());
  g_DirComputed = false;
  g_DirIsTemporary = false;
  g_Dir.clear();
}

bool WriteScriptFile(const std::string& path, const std::string& text) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bool ok = done == text.size();
  if (close(fd) != 0) ok = false;
  if (!ok) unlink(path.c_str());
  return ok;
}

std::vector<std::string> RemoveStaleScripts(const std::string& dir, int ownPid) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (!d) return names;
  while (dirent* e = readdir(d)) {
    std::string_view file = e->d_name;
    if (file.size() <= 3 || file.substr(file.size() - 3) != ".js") continue;
    std::string_view name = file.substr(0, file.size() - 3);
    std::string_view rest;
    if (name.rfind("pmr-report-", 0) == 0)
      rest = name.substr(11);
    else if (name.rfind("pmr-action-", 0) == 0)
      rest = name.substr(11);
    else
      continue;
    size_t digits = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
    if (digits == 0 || digits > 9) continue;
    const std::string_view tail = rest.substr(digits);
    const bool report = name[4] == 'r';
    if (report ? !tail.empty() : (tail.size() < 2 || tail[0] != '-')) continue;
    const int pid = std::atoi(std::string(rest.substr(0, digits)).c_str());
    if (pid <= 0 || pid == ownPid) continue;
    if (kill(pid, 0) == 0 || errno != ESRCH) continue;  // still running (or not ours to judge)
    if (unlinkat(dirfd(d), e->d_name, 0) == 0) names.emplace_back(name);
  }
  closedir(d);
  return names;
}

int PendingActionCountForTest() {
  std::lock_guard<std::mutex> lock(g_ActionMutex);
  return static_cast<int>(g_PendingActions.size());
}

}  // namespace pmrkwin

// ---- Backend operations ------------------------------------------------------------------

bool KWinSession() {
  static const bool session = [] {
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    if (!desktop || !std::strstr(desktop, "KDE")) return false;
    const char* type = std::getenv("XDG_SESSION_TYPE");
    return (type && std::strcmp(type, "wayland") == 0) || std::getenv("WAYLAND_DISPLAY") != nullptr;
  }();
  return session;
}

bool KWinStart() {
  GDBusConnection* bus = Bus();
  if (!bus) return false;
  const std::string owner = NameOwner(bus, kKWinName);
  const char* unique = g_dbus_connection_get_unique_name(bus);
  const std::string self = unique ? unique : "";
  if (owner.empty() || self.empty()) return false;
  if (!pmrkwin::ScriptSafeBusName(self)) return false;
  const std::string& dir = pmrkwin::ScriptDirectory();
  {
    std::lock_guard<std::mutex> lock(g_Mutex);
    g_KWinOwner = owner;
    if (g_ReportKey.empty()) g_ReportKey = pmrkwin::NewReportKey();
    g_ScriptName = "pmr-report-" + std::to_string(getpid());
    g_ScriptFile = dir.empty() ? std::string() : dir + "/" + g_ScriptName + ".js";
  }
  // Scripts of an earlier run that ended without its clean-up (killed, or
  // its display gone) would keep calling a name nobody owns any more.
  if (!dir.empty())
    for (const std::string& stale : pmrkwin::RemoveStaleScripts(dir, static_cast<int>(getpid())))
      if (ScriptBoolCall("isScriptLoaded", stale)) ScriptBoolCall("unloadScript", stale);
  if (!StartReportThread()) return false;
  std::string file, name, kwinOwner;
  if (!WriteReportScript(file, name, kwinOwner)) return false;
  return LoadAndStart(file, name);
}

bool KWinPointer(double& x, double& y) {
  std::lock_guard<std::mutex> lock(g_Mutex);
  if (!g_HavePointer) return false;
  x = g_PointerX;
  y = g_PointerY;
  return true;
}

int KWinWindowPidAt(double x, double y) {
  std::lock_guard<std::mutex> lock(g_Mutex);
  return pmrkwin::PidAtIn(g_Windows, x, y);
}

bool KWinGetFrame(int& x, int& y, int& w, int& h) {
  std::lock_guard<std::mutex> lock(g_Mutex);
  return pmrkwin::OwnFrameIn(g_Windows, static_cast<int>(getpid()), x, y, w, h);
}

bool KWinSetAbove(bool above) {
  {
    std::lock_guard<std::mutex> lock(g_Mutex);
    int x, y, w, h;
    const bool listed = pmrkwin::OwnFrameIn(g_Windows, static_cast<int>(getpid()), x, y, w, h);
    g_AboveForNewWindow = listed ? -1 : (above ? 1 : 0);
  }
  return RunAction(pmrkwin::KeepAboveBody(above));
}

bool KWinMoveFrame(int x, int y) { return RunAction(pmrkwin::MoveBody(x, y)); }
