// Hyprland backend: the compositor's IPC socket answers one request per
// connection and closes it after the reply.
#include "platform/linux/shell/hyprland.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <vector>

const char kHyprWindowRule[] =
    "eval hl.window_rule({ name = \"pellomar\", match = { class = \"^pellomar-(pro|free|beta)$\" }, "
    "float = true })";

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// Reads the numbers of a scanf-like pattern at the start of text: "%d" is a
// decimal int (leading white space skipped, optional sign, out-of-range values
// refused); white space in the pattern matches any run of white space, other
// characters match themselves. Returns how many numbers were read before the
// first mismatch.
int ScanInts(std::string_view text, std::string_view pattern, std::initializer_list<int*> out) {
  auto target = out.begin();
  size_t t = 0;
  int read = 0;
  for (size_t p = 0; p < pattern.size(); ++p) {
    char pc = pattern[p];
    if (pc == '%' && p + 1 < pattern.size() && pattern[p + 1] == 'd') {
      ++p;
      while (t < text.size() && IsSpace(text[t])) ++t;
      bool negative = false;
      if (t < text.size() && (text[t] == '+' || text[t] == '-')) negative = text[t++] == '-';
      size_t digits = t;
      long long value = 0;
      while (t < text.size() && text[t] >= '0' && text[t] <= '9') {
        value = value * 10 + (text[t] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) return read;
        ++t;
      }
      if (t == digits) return read;
      if (negative) value = -value;
      if (value > INT_MAX || value < INT_MIN) return read;
      if (target == out.end()) return read;
      **target++ = static_cast<int>(value);
      ++read;
    } else if (IsSpace(pc)) {
      while (t < text.size() && IsSpace(text[t])) ++t;
    } else {
      if (t >= text.size() || text[t] != pc) return read;
      ++t;
    }
  }
  return read;
}

// Finds field names in a JSON reply. Only a quote that opens a string of
// its own counts as the start of a name: a window title is a string too, and
// one that quotes a field ("at": [0, 0], "pid": 1 …) must not pass for a
// field of its client.
class JsonKeys {
 public:
  explicit JsonKeys(std::string_view text) : text_(text) {
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
      char c = text[i];
      if (inString) {
        if (c == '\\')
          ++i;
        else if (c == '"')
          inString = false;
      } else if (c == '"') {
        inString = true;
        starts_.push_back(i);
      }
    }
  }

  // The first position in [from, to) where key (which begins with its
  // opening quote) starts and ends; npos when there is none. Only [from, to)
  // is searched, so looking for a field that one client lacks costs the
  // length of that client, not of the rest of the reply.
  size_t Find(std::string_view key, size_t from = 0, size_t to = std::string_view::npos) const {
    const std::string_view hay = text_.substr(0, std::min(to, text_.size()));
    size_t at = hay.find(key, from);
    while (at != std::string_view::npos) {
      if (std::binary_search(starts_.begin(), starts_.end(), at)) return at;
      at = hay.find(key, at + 1);
    }
    return std::string_view::npos;
  }

  // The text of [from, to) from key on, or empty.
  std::string_view From(std::string_view key, size_t from = 0, size_t to = std::string_view::npos) const {
    size_t at = Find(key, from, to);
    if (at == std::string_view::npos) return {};
    return text_.substr(at, to == std::string_view::npos ? std::string_view::npos : to - at);
  }

  bool FollowedByTrue(std::string_view key, size_t from, size_t to) const {
    std::string_view rest = From(key, from, to);
    return !rest.empty() && rest.substr(key.size()).starts_with("true");
  }

 private:
  std::string_view text_;
  std::vector<size_t> starts_;
};

bool IsHyprAddress(std::string_view address) {
  if (address.size() < 3 || !address.starts_with("0x")) return false;
  for (char c : address.substr(2)) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace

std::string HyprSocketPathFromEnvironment() {
  const char* signature = std::getenv("HYPRLAND_INSTANCE_SIGNATURE");
  if (!signature || !*signature || std::strchr(signature, '/')) return {};
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string tail = std::string("/hypr/") + signature + "/.socket.sock";
  std::string path = std::string(runtime ? runtime : "") + tail;
  if (access(path.c_str(), F_OK) == 0) return path;
  path = "/tmp" + tail;
  if (access(path.c_str(), F_OK) == 0) return path;
  return {};
}

const std::string& HyprSocketPath() {
  static const std::string path = HyprSocketPathFromEnvironment();
  return path;
}

namespace {

using HyprClock = std::chrono::steady_clock;

// Waits until fd is ready for `events` or the deadline passes.
bool WaitReady(int fd, short events, HyprClock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - HyprClock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    int rc = poll(&p, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
    if (rc < 0 && errno == EINTR) continue;
    return rc > 0;
  }
}

}  // namespace

std::string HyprRequestTo(const std::string& socketPath, std::string_view text, int timeoutMs) {
  sockaddr_un addr{};
  if (socketPath.empty() || socketPath.size() > 107 || socketPath.size() >= sizeof(addr.sun_path)) return {};
  const HyprClock::time_point deadline = HyprClock::now() + std::chrono::milliseconds(timeoutMs);
  // Non-blocking throughout: a compositor that hangs, or never accepts,
  // costs the caller at most the time limit.
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return {};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, socketPath.data(), socketPath.size());
  int rc;
  do {
    rc = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  } while (rc != 0 && errno == EINTR);
  std::string reply;
  bool sent = false;
  if (rc == 0) {
    size_t done = 0;
    while (done < text.size()) {
      // A compositor that goes away mid-request must not raise SIGPIPE.
      ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitReady(fd, POLLOUT, deadline)) continue;
      break;
    }
    sent = done == text.size();
  }
  if (sent) {
    char chunk[4096];
    while (reply.size() <= kHyprReplyLimit) {
      ssize_t n = read(fd, chunk, sizeof(chunk));
      if (n > 0) {
        reply.append(chunk, static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (WaitReady(fd, POLLIN, deadline)) continue;
        reply.clear();  // no complete answer in time
      }
      break;
    }
  }
  close(fd);
  return reply;
}

std::string HyprRequest(std::string_view text) { return HyprRequestTo(HyprSocketPath(), text); }

bool HyprLuaForVersion(std::string_view versionReply) {
  std::string_view tag = JsonKeys(versionReply).From("\"tag\": \"v");
  int major = 0, minor = 0;
  if (tag.empty() || ScanInts(tag, "\"tag\": \"v%d.%d", {&major, &minor}) != 2) return false;
  return major > 0 || minor > 55;
}

bool HyprLua() {
  static const bool lua = HyprLuaForVersion(HyprRequest("j/version"));
  return lua;
}

HyprLink HyprDefaultLink() { return HyprLink{HyprSocketPath(), HyprLua()}; }

bool HyprDispatch(const HyprLink& link, const std::string& classic, const std::string& lua) {
  return HyprRequestTo(link.socketPath, "dispatch " + (link.lua ? lua : classic)) == "ok";
}

bool HyprParseCursorPos(std::string_view reply, double& x, double& y) {
  int ix = 0, iy = 0;
  if (ScanInts(reply, "%d, %d", {&ix, &iy}) != 2) return false;
  x = ix;
  y = iy;
  return true;
}

int HyprPidAtIn(std::string_view reply, double x, double y) {
  static constexpr std::string_view kAt = "\"at\": [";
  const JsonKeys keys(reply);
  int bestFocus = kHyprNoFocus;
  int pid = 0;
  size_t at = keys.Find(kAt);
  while (at != std::string_view::npos) {
    // The fields of one client lie between its "at" and the next client's,
    // so a client that lacks one never borrows its neighbour's.
    size_t next = keys.Find(kAt, at + kAt.size());
    size_t end = next == std::string_view::npos ? reply.size() : next;
    size_t begin = at;
    at = next;
    int cx = 0, cy = 0, cw = 0, ch = 0, cpid = 0, focus = kHyprNoFocus;
    if (ScanInts(reply.substr(begin, end - begin), "\"at\": [%d, %d]", {&cx, &cy}) != 2) continue;
    if (ScanInts(keys.From("\"size\": [", begin, end), "\"size\": [%d, %d]", {&cw, &ch}) != 2) continue;
    if (ScanInts(keys.From("\"pid\": ", begin, end), "\"pid\": %d", {&cpid}) != 1) continue;
    std::string_view focusText = keys.From("\"focusHistoryID\": ", begin, end);
    if (!focusText.empty() && ScanInts(focusText, "\"focusHistoryID\": %d", {&focus}) != 1) focus = kHyprNoFocus;
    bool inside = x >= cx && x < static_cast<double>(cx) + cw && y >= cy && y < static_cast<double>(cy) + ch;
    if (inside && focus < bestFocus) {
      bestFocus = focus;
      pid = cpid;
    }
  }
  return pid;
}

bool HyprOwnWindowIn(std::string_view reply, int pid, HyprWindow& out) {
  static constexpr std::string_view kAddress = "\"address\": \"";
  const JsonKeys keys(reply);
  size_t start = keys.Find(kAddress);
  while (start != std::string_view::npos) {
    size_t next = keys.Find(kAddress, start + kAddress.size());
    size_t b = start, e = next == std::string_view::npos ? reply.size() : next;
    std::string_view seg = reply.substr(b, e - b);
    start = next;
    int segPid = 0;
    if (ScanInts(keys.From("\"pid\": ", b, e), "\"pid\": %d", {&segPid}) != 1 || segPid != pid) continue;
    if (!keys.FollowedByTrue("\"mapped\": ", b, e)) continue;
    if (keys.FollowedByTrue("\"hidden\": ", b, e)) continue;
    size_t quote = seg.find('"', kAddress.size());
    if (quote == std::string_view::npos) continue;
    std::string_view address = seg.substr(kAddress.size(), quote - kAddress.size());
    if (!IsHyprAddress(address)) continue;
    HyprWindow w;
    if (ScanInts(keys.From("\"at\": [", b, e), "\"at\": [%d, %d]", {&w.x, &w.y}) != 2) continue;
    if (ScanInts(keys.From("\"size\": [", b, e), "\"size\": [%d, %d]", {&w.width, &w.height}) != 2) continue;
    w.selector = "address:" + std::string(address);
    w.floating = keys.FollowedByTrue("\"floating\": ", b, e);
    w.pinned = keys.FollowedByTrue("\"pinned\": ", b, e);
    if (ScanInts(keys.From("\"fullscreen\": ", b, e), "\"fullscreen\": %d", {&w.fullscreen}) != 1) w.fullscreen = 0;
    out = std::move(w);
    return true;
  }
  return false;
}

bool HyprPointer(const HyprLink& link, double& x, double& y) {
  return HyprParseCursorPos(HyprRequestTo(link.socketPath, "cursorpos"), x, y);
}

int HyprWindowPidAt(const HyprLink& link, double x, double y) {
  return HyprPidAtIn(HyprRequestTo(link.socketPath, "j/clients"), x, y);
}

bool HyprOwnWindow(const HyprLink& link, HyprWindow& out) {
  return HyprOwnWindowIn(HyprRequestTo(link.socketPath, "j/clients"), static_cast<int>(getpid()), out);
}

bool HyprFloat(const HyprLink& link, HyprWindow& window) {
  if (window.floating) return true;
  window.floating = HyprDispatch(link, "setfloating " + window.selector,
                                 "hl.dsp.window.float({ action = \"enable\", window = \"" + window.selector + "\" })");
  return window.floating;
}

bool HyprGetFrame(const HyprLink& link, int& x, int& y, int& w, int& h) {
  HyprWindow window;
  if (!HyprOwnWindow(link, window)) return false;
  x = window.x;
  y = window.y;
  w = window.width;
  h = window.height;
  return true;
}

bool HyprMoveFrame(const HyprLink& link, int x, int y) {
  HyprWindow window;
  if (!HyprOwnWindow(link, window) || !HyprFloat(link, window)) return false;
  std::string xs = std::to_string(x), ys = std::to_string(y);
  return HyprDispatch(link, "movewindowpixel exact " + xs + " " + ys + "," + window.selector,
                      "hl.dsp.window.move({ x = " + xs + ", y = " + ys + ", window = \"" + window.selector + "\" })");
}

bool HyprResizeFrame(const HyprLink& link, int w, int h) {
  HyprWindow window;
  if (!HyprOwnWindow(link, window) || !window.floating) return false;
  std::string ws = std::to_string(w), hs = std::to_string(h);
  return HyprDispatch(link, "resizewindowpixel exact " + ws + " " + hs + "," + window.selector,
                      "hl.dsp.window.resize({ x = " + ws + ", y = " + hs + ", window = \"" + window.selector + "\" })");
}

bool HyprSetPinned(const HyprLink& link, bool pinned) {
  HyprWindow window;
  if (!HyprOwnWindow(link, window) || !HyprFloat(link, window)) return false;
  if (window.pinned == pinned) return true;
  // The classic "pin" toggles, which reaches the wanted state from the other one.
  return HyprDispatch(link, "pin " + window.selector,
                      std::string("hl.dsp.window.pin({ action = \"") + (pinned ? "enable" : "disable") +
                          "\", window = \"" + window.selector + "\" })");
}

bool HyprSetRounded(const HyprLink& link, bool rounded) {
  HyprWindow window;
  if (!HyprOwnWindow(link, window)) return false;
  std::string value = rounded ? "unset" : "0";
  return HyprDispatch(link, "setprop " + window.selector + " rounding " + value,
                      "hl.dsp.window.set_prop({ prop = \"rounding\", value = \"" + value + "\", window = \"" +
                          window.selector + "\" })");
}

bool HyprIsMaximized(const HyprLink& link, bool& maximized) {
  HyprWindow window;
  if (!HyprOwnWindow(link, window)) return false;
  maximized = window.fullscreen == 1;
  return true;
}

void HyprPrepareWindow(const HyprLink& link, int w, int h, int x, int y) {
  HyprWindow window;
  if (!HyprOwnWindow(link, window)) return;
  bool wasFloating = window.floating;
  if (!HyprFloat(link, window)) return;
  if (!wasFloating && w > 0 && h > 0) HyprResizeFrame(link, w, h);
  if (x != INT_MIN && y != INT_MIN) HyprMoveFrame(link, x, y);
}
