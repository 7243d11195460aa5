// Screen-cast portal backend. A screen-cast session for all monitors with the
// cursor sent as metadata; the PipeWire streams ask only for that metadata,
// and each frame that carries a cursor updates the pointer position. The
// user's grant is kept through the portal's restore token.
#include "platform/linux/shell/portal.h"

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/atomic_file.h"
#include "base/data_dir.h"
#include "base/read_file.h"
#include "platform/linux/shell/session_bus.h"
#include "platform/os_shell.h"

namespace {

constexpr const char* kPortalBus = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kScreenCast = "org.freedesktop.portal.ScreenCast";
constexpr uint32_t kCursorModeMetadata = 4;
constexpr uint32_t kSourceMonitor = 1;
constexpr uint32_t kPersistWhileRunning = 1;
constexpr uint32_t kPersistUntilRevoked = 2;
constexpr size_t kMaxTokenBytes = 4096;

// Cursor metadata with a bitmap of w x h pixels of 4 bytes.
constexpr int CursorMetaSize(int w, int h) {
  return static_cast<int>(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap)) + w * h * 4;
}

// ---- position ------------------------------------------------------------------------

std::mutex g_PositionMutex;
bool g_Have = false;
double g_X = 0;
double g_Y = 0;
// The portal left the bus: its session is over, and frames PipeWire still
// delivers from the screen cast (queued, or sent until the shell notices)
// no longer give a position. Cleared by the next start.
bool g_PortalGone = false;

void ForgetPosition() {
  std::lock_guard<std::mutex> lock(g_PositionMutex);
  g_Have = false;
}

void ForgetPositionForGood() {
  std::lock_guard<std::mutex> lock(g_PositionMutex);
  g_Have = false;
  g_PortalGone = true;
}

// ---- streams ---------------------------------------------------------------------------

struct Stream {
  uint32_t node = 0;
  PortalStreamPlace place;
  pw_stream* stream = nullptr;
  spa_hook listener{};
  bool alive = false;  // connected and not failed (PipeWire thread only)
};

struct PipeWire {
  pw_thread_loop* loop = nullptr;
  pw_context* context = nullptr;
  pw_core* core = nullptr;
  spa_hook coreListener{};
  std::vector<std::unique_ptr<Stream>> streams;
};

// Runs on PipeWire's thread: once no stream is left working, the position is
// no longer known.
void ForgetWhenAllGone(PipeWire* pw) {
  for (const auto& s : pw->streams)
    if (s->alive) return;
  ForgetPosition();
}

PipeWire* g_PipeWire = nullptr;  // the running streams (portal thread owns it)

void OnStreamState(void* data, pw_stream_state, pw_stream_state state, const char*) {
  Stream* s = static_cast<Stream*>(data);
  if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) {
    s->alive = false;
    if (g_PipeWire) ForgetWhenAllGone(g_PipeWire);
  } else {
    s->alive = true;
  }
}

void OnStreamParam(void* data, uint32_t id, const spa_pod* param) {
  Stream* s = static_cast<Stream*>(data);
  if (id != SPA_PARAM_Format || !param) return;
  spa_video_info_raw info{};
  if (spa_format_video_raw_parse(param, &info) >= 0) {
    s->place.videoWidth = info.size.width;
    s->place.videoHeight = info.size.height;
  }
  uint8_t buffer[1024];
  spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
  const spa_pod* params[1];
  params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor),
      SPA_PARAM_META_size,
      SPA_POD_CHOICE_RANGE_Int(CursorMetaSize(64, 64), CursorMetaSize(1, 1), CursorMetaSize(1024, 1024))));
  pw_stream_update_params(s->stream, params, 1);
}

void OnStreamProcess(void* data) {
  Stream* s = static_cast<Stream*>(data);
  pw_buffer* b = pw_stream_dequeue_buffer(s->stream);
  if (!b) return;
  auto* cursor =
      static_cast<spa_meta_cursor*>(spa_buffer_find_meta_data(b->buffer, SPA_META_Cursor, sizeof(spa_meta_cursor)));
  if (cursor && cursor->id != 0) {
    double x, y;
    PortalMapCursor(s->place, cursor->position.x, cursor->position.y, x, y);
    std::lock_guard<std::mutex> lock(g_PositionMutex);
    if (!g_PortalGone) {
      g_X = x;
      g_Y = y;
      g_Have = true;
    }
  }
  pw_stream_queue_buffer(s->stream, b);
}

const pw_stream_events kStreamEvents = [] {
  pw_stream_events e{};
  e.version = PW_VERSION_STREAM_EVENTS;
  e.state_changed = OnStreamState;
  e.param_changed = OnStreamParam;
  e.process = OnStreamProcess;
  return e;
}();

// The connection to PipeWire failed or went away.
void OnCoreError(void* data, uint32_t id, int, int, const char*) {
  if (id != PW_ID_CORE) return;
  PipeWire* pw = static_cast<PipeWire*>(data);
  for (auto& s : pw->streams) s->alive = false;
  ForgetPosition();
}

const pw_core_events kCoreEvents = [] {
  pw_core_events e{};
  e.version = PW_VERSION_CORE_EVENTS;
  e.error = OnCoreError;
  return e;
}();

bool ConnectStream(PipeWire* pw, Stream* s) {
  s->stream = pw_stream_new(pw->core, "Pellomar pointer",
                            pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                              PW_KEY_MEDIA_ROLE, "Screen", nullptr));
  if (!s->stream) return false;
  pw_stream_add_listener(s->stream, &s->listener, &kStreamEvents, s);
  uint8_t buffer[1024];
  spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
  spa_rectangle sizeDefault = SPA_RECTANGLE(320, 240), sizeMin = SPA_RECTANGLE(1, 1),
                sizeMax = SPA_RECTANGLE(16384, 16384);
  spa_fraction rateDefault = SPA_FRACTION(30, 1), rateMin = SPA_FRACTION(0, 1), rateMax = SPA_FRACTION(1000, 1);
  const spa_pod* params[1];
  params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
      SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
      SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_RGBx,
                             SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBA),
      SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&sizeDefault, &sizeMin, &sizeMax),
      SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&rateDefault, &rateMin, &rateMax)));
  s->alive = true;
  if (pw_stream_connect(s->stream, PW_DIRECTION_INPUT, s->node,
                        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
                        params, 1) < 0) {
    s->alive = false;
    return false;
  }
  return true;
}

// Starts PipeWire on its own thread loop, connected through the portal's
// descriptor (taken over), with one stream per portal stream.
PipeWire* StartPipeWire(int fd, std::vector<std::unique_ptr<Stream>> streams) {
  pw_init(nullptr, nullptr);
  auto* pw = new PipeWire;
  pw->streams = std::move(streams);
  pw->loop = pw_thread_loop_new("PMR portal", nullptr);
  if (!pw->loop) {
    close(fd);
    delete pw;
    return nullptr;
  }
  pw->context = pw_context_new(pw_thread_loop_get_loop(pw->loop), nullptr, 0);
  if (!pw->context || pw_thread_loop_start(pw->loop) < 0) {
    close(fd);
    if (pw->context) pw_context_destroy(pw->context);
    pw_thread_loop_destroy(pw->loop);
    delete pw;
    return nullptr;
  }
  pw_thread_loop_lock(pw->loop);
  g_PipeWire = pw;
  pw->core = pw_context_connect_fd(pw->context, fd, nullptr, 0);  // owns fd, also on failure
  bool any = false;
  if (pw->core) {
    pw_core_add_listener(pw->core, &pw->coreListener, &kCoreEvents, pw);
    for (auto& s : pw->streams) any = ConnectStream(pw, s.get()) || any;
  }
  pw_thread_loop_unlock(pw->loop);
  return pw;
}

void StopPipeWire(PipeWire* pw) {
  if (!pw) return;
  pw_thread_loop_lock(pw->loop);
  for (auto& s : pw->streams) {
    if (!s->stream) continue;
    spa_hook_remove(&s->listener);
    pw_stream_disconnect(s->stream);
    pw_stream_destroy(s->stream);
    s->stream = nullptr;
  }
  if (pw->core) {
    spa_hook_remove(&pw->coreListener);
    pw_core_disconnect(pw->core);
    pw->core = nullptr;
  }
  g_PipeWire = nullptr;
  pw_thread_loop_unlock(pw->loop);
  pw_thread_loop_stop(pw->loop);
  pw_context_destroy(pw->context);
  pw_thread_loop_destroy(pw->loop);
  delete pw;
  ForgetPosition();
}

// ---- portal requests --------------------------------------------------------------------

std::mutex g_ThreadMutex;  // guards starting and stopping
std::thread g_Thread;
std::atomic<bool> g_Stop{false};
GMainContext* g_Context = nullptr;  // the portal thread's context

struct Portal {
  GDBusConnection* bus = nullptr;
  GMainContext* context = nullptr;
  unsigned counter = 0;

  struct Response {
    bool arrived = false;
    uint32_t code = 2;
    GVariant* results = nullptr;
  };

  static void OnResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* params,
                         gpointer data) {
    auto* r = static_cast<Response*>(data);
    if (r->arrived || !g_variant_is_of_type(params, G_VARIANT_TYPE("(ua{sv})"))) return;
    g_variant_get(params, "(u@a{sv})", &r->code, &r->results);
    r->arrived = true;
  }

  void Match(const char* method, const std::string& rule) {
    GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", method, g_variant_new("(s)", rule.c_str()),
                                                  nullptr, G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
    if (reply) g_variant_unref(reply);
  }

  // One request: the method is called with (session, parentWindow, options),
  // (session, options) or (options); the results once the portal answered
  // with success, null otherwise. extra adds to the options.
  GVariant* Request(const char* method, const char* session, const char* parentWindow,
                    void (*extra)(GVariantBuilder*, void*), void* extraData, int timeoutSeconds) {
    std::string token = "pmr" + std::to_string(++counter);
    std::string path = std::string(kPortalPath) + "/request/" +
                       PortalSenderPart(g_dbus_connection_get_unique_name(bus)) + "/" + token;
    Response response;
    guint sub = g_dbus_connection_signal_subscribe(bus, kPortalBus, "org.freedesktop.portal.Request", "Response",
                                                   path.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE, OnResponse,
                                                   &response, nullptr);
    std::string rule = "type='signal',interface='org.freedesktop.portal.Request',member='Response',path='" + path + "'";
    Match("AddMatch", rule);

    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    if (extra) extra(&options, extraData);
    GVariant* args;
    if (session && parentWindow)
      args = g_variant_new("(osa{sv})", session, parentWindow, &options);
    else if (session)
      args = g_variant_new("(oa{sv})", session, &options);
    else
      args = g_variant_new("(a{sv})", &options);
    GVariant* reply = g_dbus_connection_call_sync(bus, kPortalBus, kPortalPath, kScreenCast, method, args,
                                                  G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, 10000, nullptr,
                                                  nullptr);
    if (reply) {
      g_variant_unref(reply);
      auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
      while (!response.arrived && !g_Stop.load() && std::chrono::steady_clock::now() < deadline) {
        // Wakes at least once a second to look at the deadline.
        GSource* tick = g_timeout_source_new(1000);
        g_source_set_callback(tick, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
        g_source_attach(tick, context);
        g_main_context_iteration(context, TRUE);
        g_source_destroy(tick);
        g_source_unref(tick);
      }
    }
    g_dbus_connection_signal_unsubscribe(bus, sub);
    Match("RemoveMatch", rule);
    if (response.arrived && response.code == 0) return response.results;
    if (response.results) g_variant_unref(response.results);
    return nullptr;
  }
};

// The user's choice (app settings): keep the grant beyond this run.
std::atomic<bool> g_RememberGrant{false};
// Without it, the token of this run's grant stays in memory only, so that a
// restart of the stream within the run asks nothing.
std::mutex g_RunTokenMutex;
std::string g_RunToken;

struct SelectOptions {
  std::string token;
  bool remember = false;
};

void AddCreateOptions(GVariantBuilder* b, void*) {
  g_variant_builder_add(b, "{sv}", "session_handle_token", g_variant_new_string("pmrsession"));
}

void AddSelectOptions(GVariantBuilder* b, void* data) {
  auto* o = static_cast<SelectOptions*>(data);
  // The cursor needs one monitor: a window stream reports the cursor inside
  // that window only, and a virtual monitor shows nothing of the desktop.
  g_variant_builder_add(b, "{sv}", "types", g_variant_new_uint32(kSourceMonitor));
  g_variant_builder_add(b, "{sv}", "multiple", g_variant_new_boolean(FALSE));
  g_variant_builder_add(b, "{sv}", "cursor_mode", g_variant_new_uint32(kCursorModeMetadata));
  g_variant_builder_add(b, "{sv}", "persist_mode",
                        g_variant_new_uint32(o->remember ? kPersistUntilRevoked : kPersistWhileRunning));
  if (!o->token.empty()) g_variant_builder_add(b, "{sv}", "restore_token", g_variant_new_string(o->token.c_str()));
}

void WriteToken(const std::string& token) {
  // A token that could not be read back as one line is not kept.
  if (token.empty() || token.size() > kMaxTokenBytes || token.find('\n') != std::string::npos ||
      token.find('\0') != std::string::npos)
    return;
  WriteFileAtomically(PortalTokenPath(), token + "\n");
}

// Sets up the session and the streams; returns the running PipeWire (null
// when a step failed) and the session handle.
PipeWire* SetUpSession(Portal& portal, std::string& sessionHandle) {
  GVariant* created = portal.Request("CreateSession", nullptr, nullptr, AddCreateOptions, nullptr, 30);
  if (!created) return nullptr;
  const gchar* handle = nullptr;
  if (!g_variant_lookup(created, "session_handle", "&s", &handle) &&
      !g_variant_lookup(created, "session_handle", "&o", &handle))
    handle = nullptr;
  if (handle && g_variant_is_object_path(handle)) sessionHandle = handle;
  g_variant_unref(created);
  if (sessionHandle.empty()) return nullptr;

  SelectOptions select;
  select.remember = g_RememberGrant.load();
  if (select.remember) {
    select.token = PortalReadToken();
  } else {
    // A saved token is a permission any program of this user could replay.
    unlink(PortalTokenPath().c_str());
    std::lock_guard<std::mutex> lock(g_RunTokenMutex);
    select.token = g_RunToken;
  }
  GVariant* selected =
      portal.Request("SelectSources", sessionHandle.c_str(), nullptr, AddSelectOptions, &select, 30);
  if (!selected) return nullptr;
  g_variant_unref(selected);

  GVariant* started = portal.Request("Start", sessionHandle.c_str(), "", nullptr, nullptr, 600);
  if (!started) return nullptr;
  const gchar* token = nullptr;
  if (g_variant_lookup(started, "restore_token", "&s", &token) && token) {
    if (select.remember) {
      WriteToken(token);
    } else {
      std::lock_guard<std::mutex> lock(g_RunTokenMutex);
      g_RunToken = token;
    }
  }
  std::vector<std::unique_ptr<Stream>> streams;
  GVariantIter* iter = nullptr;
  if (g_variant_lookup(started, "streams", "a(ua{sv})", &iter)) {
    uint32_t node = 0;
    GVariant* props = nullptr;
    while (g_variant_iter_loop(iter, "(u@a{sv})", &node, &props)) {
      auto s = std::make_unique<Stream>();
      s->node = node;
      gint32 a = 0, b = 0;
      if (g_variant_lookup(props, "position", "(ii)", &a, &b)) {
        s->place.x = a;
        s->place.y = b;
      }
      if (g_variant_lookup(props, "size", "(ii)", &a, &b)) {
        s->place.width = a;
        s->place.height = b;
      }
      streams.push_back(std::move(s));
    }
    g_variant_iter_free(iter);
  }
  g_variant_unref(started);
  if (streams.empty()) return nullptr;

  GVariantBuilder empty;
  g_variant_builder_init(&empty, G_VARIANT_TYPE_VARDICT);
  GUnixFDList* fds = nullptr;
  GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
      portal.bus, kPortalBus, kPortalPath, kScreenCast, "OpenPipeWireRemote",
      g_variant_new("(oa{sv})", sessionHandle.c_str(), &empty), G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NONE, 5000,
      nullptr, &fds, nullptr, nullptr);
  int fd = -1;
  if (reply) {
    gint32 index = -1;
    g_variant_get(reply, "(h)", &index);
    g_variant_unref(reply);
    if (fds && index >= 0 && index < g_unix_fd_list_get_length(fds)) fd = g_unix_fd_list_get(fds, index, nullptr);
  }
  if (fds) g_object_unref(fds);
  if (fd < 0) return nullptr;
  return StartPipeWire(fd, std::move(streams));
}

void CloseSession(GDBusConnection* bus, const std::string& sessionHandle) {
  if (sessionHandle.empty()) return;
  GVariant* reply = g_dbus_connection_call_sync(bus, kPortalBus, sessionHandle.c_str(), "org.freedesktop.portal.Session",
                                                "Close", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, 2000, nullptr,
                                                nullptr);
  if (reply) g_variant_unref(reply);
}

void PortalThread(GDBusConnection* bus, GMainContext* context) {
  prctl(PR_SET_NAME, "PMR portal", 0, 0, 0);
  g_main_context_push_thread_default(context);
  Portal portal{bus, context, 0};
  std::string sessionHandle;
  PipeWire* pw = SetUpSession(portal, sessionHandle);
  // The portal itself leaving the bus ends the session and its streams.
  guint watch = 0;
  if (pw) {
    watch = g_bus_watch_name_on_connection(
        bus, kPortalBus, G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
        [](GDBusConnection*, const gchar*, gpointer) { ForgetPositionForGood(); }, nullptr, nullptr);
    while (!g_Stop.load()) g_main_context_iteration(context, TRUE);
    g_bus_unwatch_name(watch);
  }
  StopPipeWire(pw);
  CloseSession(bus, sessionHandle);
  while (g_main_context_iteration(context, FALSE)) {
  }
  g_main_context_pop_thread_default(context);
  g_object_unref(bus);
}

}  // namespace

// ---- rules -------------------------------------------------------------------------------

void PortalMapCursor(const PortalStreamPlace& p, int32_t cursorX, int32_t cursorY, double& x, double& y) {
  double sx = p.width >= 1 && p.videoWidth >= 1 ? p.width / p.videoWidth : 1.0;
  double sy = p.height >= 1 && p.videoHeight >= 1 ? p.height / p.videoHeight : 1.0;
  x = cursorX * sx + p.x;
  y = cursorY * sy + p.y;
}

std::string PortalSenderPart(const std::string& uniqueName) {
  std::string s = !uniqueName.empty() && uniqueName[0] == ':' ? uniqueName.substr(1) : uniqueName;
  for (char& c : s)
    if (c == '.') c = '_';
  return s;
}

std::string PortalTokenPath() { return OsDataDir() + "/portal-token.txt"; }

std::string PortalReadToken() {
  std::string text = ReadStateFile(PortalTokenPath(), kMaxTokenBytes);
  size_t end = text.find_first_of("\r\n");
  if (end != std::string::npos) text.resize(end);
  // The token travels as a D-Bus string, which must be UTF-8 without NUL: a
  // damaged file reads as no token (the portal asks the user again).
  if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return {};
  return text;
}

// ---- operations --------------------------------------------------------------------------

bool PortalStart() {
  std::lock_guard<std::mutex> lock(g_ThreadMutex);
  if (g_Thread.joinable()) return true;
  GDBusConnection* bus = LinuxNewSessionConnection();
  if (!bus) return false;
  GVariant* reply = g_dbus_connection_call_sync(bus, kPortalBus, kPortalPath, "org.freedesktop.DBus.Properties",
                                                "Get", g_variant_new("(ss)", kScreenCast, "AvailableCursorModes"),
                                                G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
  bool metadata = false;
  if (reply) {
    GVariant* v = nullptr;
    g_variant_get(reply, "(v)", &v);
    metadata = g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32) && (g_variant_get_uint32(v) & kCursorModeMetadata);
    g_variant_unref(v);
    g_variant_unref(reply);
  }
  if (!metadata) {
    g_object_unref(bus);
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(g_PositionMutex);
    g_Have = false;
    g_PortalGone = false;
  }
  g_Stop.store(false);
  g_Context = g_main_context_new();
  g_Thread = std::thread(PortalThread, bus, g_Context);
  return true;
}

bool PortalPointer(double& x, double& y) {
  std::lock_guard<std::mutex> lock(g_PositionMutex);
  if (!g_Have) return false;
  x = g_X;
  y = g_Y;
  return true;
}

void LinuxPortalRememberGrant(bool remember) {
  g_RememberGrant.store(remember);
  if (!remember) unlink(PortalTokenPath().c_str());
}

void PortalStop() {
  std::lock_guard<std::mutex> lock(g_ThreadMutex);
  if (!g_Thread.joinable()) return;
  g_Stop.store(true);
  g_main_context_wakeup(g_Context);
  g_Thread.join();
  g_main_context_unref(g_Context);
  g_Context = nullptr;
  ForgetPosition();
}
