#pragma once
// Hyprland backend: requests over the compositor's IPC socket.
//
// Every operation that talks to the compositor takes a HyprLink (the socket
// and the command syntax it understands); HyprDefaultLink() is the running
// compositor's, found from the environment once per process.
#include <string>
#include <string_view>

// The program's own window as the compositor lists it.
struct HyprWindow {
  std::string selector;  // "address:0x…"
  int x = 0, y = 0, width = 0, height = 0;
  int fullscreen = 0;
  bool floating = false;
  bool pinned = false;
};

struct HyprLink {
  std::string socketPath;
  bool lua = false;  // Lua command syntax (0.56 and later) instead of the classic one
};

// Replies are cut once they exceed this many bytes.
inline constexpr size_t kHyprReplyLimit = 1048575;
// Focus-history value of a client that reports none.
inline constexpr int kHyprNoFocus = 1 << 30;
// Sent once at start-up under the Lua syntax so the program's windows float.
extern const char kHyprWindowRule[];

// The socket path from HYPRLAND_INSTANCE_SIGNATURE and XDG_RUNTIME_DIR, read
// now; empty when there is no usable socket.
std::string HyprSocketPathFromEnvironment();
// The same, computed on first use and then kept.
const std::string& HyprSocketPath();

// The longest a request may take, from connecting to the end of the reply.
// Requests are made on the input path (the window under the pointer), where
// a stall of a second makes the input watchdog release every grab.
inline constexpr int kHyprRequestTimeoutMs = 500;
// One request on its own connection; the reply, empty on any failure and when
// the compositor has not answered completely within timeoutMs.
std::string HyprRequestTo(const std::string& socketPath, std::string_view text,
                          int timeoutMs = kHyprRequestTimeoutMs);
std::string HyprRequest(std::string_view text);  // to HyprSocketPath()

// Whether a "j/version" reply names a version that takes the Lua syntax.
bool HyprLuaForVersion(std::string_view versionReply);
// The running compositor's syntax, asked on first use and then kept.
bool HyprLua();
HyprLink HyprDefaultLink();

// "dispatch " + the command of the link's syntax; true when the reply is "ok".
bool HyprDispatch(const HyprLink& link, const std::string& classic, const std::string& lua);

// Reply parsers (no I/O).
bool HyprParseCursorPos(std::string_view reply, double& x, double& y);
int HyprPidAtIn(std::string_view clientsReply, double x, double y);
bool HyprOwnWindowIn(std::string_view clientsReply, int pid, HyprWindow& out);

// Requests.
bool HyprPointer(const HyprLink& link, double& x, double& y);
int HyprWindowPidAt(const HyprLink& link, double x, double y);
bool HyprOwnWindow(const HyprLink& link, HyprWindow& out);  // this process's window
bool HyprFloat(const HyprLink& link, HyprWindow& window);
bool HyprGetFrame(const HyprLink& link, int& x, int& y, int& w, int& h);
bool HyprMoveFrame(const HyprLink& link, int x, int y);
bool HyprResizeFrame(const HyprLink& link, int w, int h);
bool HyprSetPinned(const HyprLink& link, bool pinned);
bool HyprSetRounded(const HyprLink& link, bool rounded);
bool HyprIsMaximized(const HyprLink& link, bool& maximized);
void HyprPrepareWindow(const HyprLink& link, int w, int h, int x, int y);
