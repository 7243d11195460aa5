#pragma once
// Input devices: injection through uinput, capture from evdev with hotkey
// swallowing, the one-time access setup. Implemented in platform/linux/input/.
#include <cstdint>
#include <string>

// Injection: "pmr-inject" (keys, buttons, relative motion, wheel) and
// "pmr-pointer" (absolute pointer), created once and kept for the life of the
// process. Every operation but OsCursorPosition is dropped while the session
// is locked; all are silent no-ops without the devices.
bool OsInputInit();         // startup: the pointer backend, then EnsureInjectDevice()
bool EnsureInjectDevice();  // true when the injection device exists
// button 0 left, 1 right, anything else middle; clickNumber is ignored here.
void OsMouseButton(int button, bool down, int clickNumber);
void OsMoveMouseTo(int x, int y);          // desktop coordinates
void OsCursorPosition(int& x, int& y);     // (0, 0) when no backend can tell
void OsKeyVk(int vk, bool down);           // nothing for a VK code without evdev code
// An auto-repeat of a key held down (value 2); nothing for a VK code without
// evdev code.
void OsKeyVkRepeat(int vk);
void OsMoveMouseBy(int dx, int dy);        // relative motion in device counts
// Wheel movement in 1/120 notches (positive away from the user): the
// high-resolution value as given, whole notches once they add up.
void OsMouseWheel(int delta120);
// The horizontal wheel the same way (positive to the right).
void OsMouseHWheel(int delta120);
// Releases every key and button still pressed on the injection device.
void OsInputReleaseAllHeld();
bool OsAccessibilityTrusted();             // /dev/uinput can be opened for writing
void OsOpenPrivacyPane(const std::string& which);  // nothing on this platform

// What the capture asks of the rest of the program. Start-up installs the
// tools' hooks before the capture starts; without them every event passes
// through untouched. Every member must be set.
// What the button hook decided: bits of its result.
inline constexpr int kButtonTapSwallow = 1;      // the desktop does not get it
inline constexpr int kButtonTapPick = 2;         // it picked a location
inline constexpr int kButtonTapPickCancel = 4;   // it ended a pick without one
inline constexpr int kButtonTapRecord = 8;       // it goes into the recording
inline constexpr int kButtonTapPlaceMask = kButtonTapPick | kButtonTapPickCancel | kButtonTapRecord;

struct InputHooks {
  // Keys as VK codes; true swallows the event.
  bool (*tapKey)(int vk, bool down);
  // Buttons as VK codes, decided without the pointer position: kButtonTap*
  // bits. When a bit of kButtonTapPlaceMask is set, placeMouseButton follows
  // with the same bits and where the button went (havePosition false when
  // the shell could not tell), in order with the movement hook's calls, maybe
  // from another thread and a little later: the capture never waits for the
  // shell before passing a frame on.
  int (*tapMouseButton)(int button, bool down);
  void (*placeMouseButton)(int button, bool down, int tap, bool havePosition, double x, double y);
  void (*tapMouseMove)(bool havePosition, double x, double y, long dx, long dy);
  void (*tapScroll)(int wheel);
  // True while every movement needs the pointer position (a recording of
  // absolute movement).
  bool (*wantsMovePosition)();
  // The session was locked: forget held keys, stop what must not run on.
  void (*sessionLocked)();
  // Horizontal wheel movement in 1/120 notches, for frames that moved it;
  // may be null.
  void (*tapHScroll)(int wheel) = nullptr;
};
// Installs `hooks` (kept by pointer; null removes them). Any thread.
void OsSetInputHooks(const InputHooks* hooks);
// Inside a hook call: the monotonic time (ns) at which the capture read the
// event being handled; 0 outside hook calls. Movement waiting for the pointer
// position reaches its hook a little later than its frame was read.
int64_t OsInputEventTimeNs();
// Waits (at most `timeoutMs`) until every movement read so far has reached
// its hook; false when the time ran out.
bool OsInputFlushMotion(int timeoutMs);

// Capture: the "PMR input tap" and "PMR input dog" threads.
bool OsStartInputTap();       // true if running afterwards
void OsStopInputTap();        // stops and joins both threads; releases and destroys twins
bool OsListenEventAllowed();  // a keyboard that is not the program's own can be read
int OsInputDeviceCount();     // event devices in /dev/input that are not the program's own, readable or not
void LinuxInputSetSessionUsable(bool usable);  // session monitor: locked/inactive = false
void OsInputTapOnSessionLocked();              // the lifecycle hooks' session-locked hook
// Whether the left mouse button is still held, from the devices themselves.
struct LinuxButtonWatch;
LinuxButtonWatch* LinuxButtonWatchStart();  // null when the left button is not held
bool LinuxButtonWatchReleased(LinuxButtonWatch* watch);  // true for null
void LinuxButtonWatchStop(LinuxButtonWatch* watch);      // null is ignored
bool OsIsOwnWindowAt(double x, double y);  // the window there belongs to this program
std::string ExecutableOf(int pid);         // target of /proc/<pid>/exe, empty if unreadable

// Access setup.
void RunInputSetup();
void OsPromptAccessibility();
void OsRequestListenEvent();
std::string OsInputSetupState();
// Why the last setup failed, when known: "pkexec-missing" (pkexec could not
// be started), "not-authorized" (pkexec found no authentication agent or was
// refused), otherwise "".
std::string OsInputSetupProblem();
std::string OsInputSetupCommands();
