#pragma once
// Playback of the current profile's recording: the "PMR playback" worker, the
// schedule it keeps (event i is due at start + time_i / speed, on an absolute
// clock, so late events never push later ones back), what each recorded event
// becomes on the injection devices, and everything it holds released on every
// stop. Also the short notes the page shows about playback and macro files.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "model/wake.h"
#include "model/profiles.h"

// What one recorded event does when it is played.
struct PlaybackAction {
  enum Kind : int { kNone = 0, kKey, kButton, kMoveTo, kMoveBy, kWheel, kHWheel };
  int kind = kNone;
  int code = 0;       // kKey: VK code; kButton: 0 left, 1 right, 2 middle
  bool down = false;  // kKey, kButton
  int x = 0;          // kMoveTo: desktop position; kMoveBy: counts; kButton: where it was pressed
  int y = 0;
  int wheel = 0;      // kWheel, kHWheel: 1/120 notches

  bool operator==(const PlaybackAction&) const = default;
};

// The action of one event. Movement is a position in absolute recordings and
// a count in relative ones; button flags give button and direction (a press
// of another button, which was recorded without its release, plays nothing).
PlaybackAction PlaybackActionFor(const UnifiedEvent& ev, bool relative);

// The speed a setting plays at: 0.1 to 10 as given, anything else 1.
double EffectivePlaybackSpeed(float speed);
inline constexpr double kMinPlaybackSpeed = 0.1;
inline constexpr double kMaxPlaybackSpeed = 10.0;

// When an event recorded `seconds` into the macro is due, in nanoseconds after
// the start of the pass, at `speed`. Negative or non-finite times are due at
// once; absurdly large ones are capped far inside the 64-bit range.
int64_t PlaybackOffsetNs(double seconds, double speed);

// The pause between two passes of a looping playback in nanoseconds (never
// scaled by the speed; negative counts as 0).
int64_t LoopPauseNs(int loopIntervalMs);

// Where playback's actions go. The program's own devices by default.
struct PlaybackOutput {
  void (*key)(int vk, bool down);
  // A further press of a key already held: an auto-repeat (recorded as
  // presses while the key was held).
  void (*keyRepeat)(int vk);
  void (*button)(int button, bool down);
  void (*moveTo)(int x, int y);
  void (*moveBy)(int dx, int dy);
  void (*wheel)(int delta120);
  // Told the monotonic time (ns) each pass is scheduled from; may be null.
  void (*passStart)(int64_t startNs);
  // The horizontal wheel; may be null (nothing is played for it).
  void (*hwheel)(int delta120) = nullptr;
};
const PlaybackOutput& DevicePlaybackOutput();

// The settings one run plays with, read once when it starts.
struct PlaybackSettings {
  double speed = 1.0;
  bool relative = false;
  bool loop = false;
  int loopIntervalMs = 500;
};
PlaybackSettings CurrentPlaybackSettings();

// Progress of the running playback (0 when none): events played in the
// current pass, events per pass, and the pass number (1 for the first).
extern std::atomic<int64_t> g_PlaybackDone;
extern std::atomic<int64_t> g_PlaybackTotal;
extern std::atomic<int64_t> g_PlaybackLoop;
// Counts every entry into play state (the signal processor increments it
// before setting isPlaying): a run ends when it changes, even if play state
// was left and entered again before the run noticed.
extern std::atomic<uint64_t> g_PlayRun;

// Plays `events` with `s` through `out` until the last event (or, looping,
// until stopped). `stillPlaying` is asked between events and during every
// wait, which `wake` ends early. Every key and button pressed and not yet
// released is released before it returns, whatever ended the run. True when
// the events ran out (not looping), false when stopped.
bool PlayEvents(const std::vector<UnifiedEvent>& events, const PlaybackSettings& s, const PlaybackOutput& out,
                WakeEvent& wake, bool (*stillPlaying)(uint64_t run), uint64_t run);

// True while run `run` may go on: the program runs, play state is on and was
// not left and entered again since.
bool PlaybackRunActive(uint64_t run);

// The worker loop (thread "PMR playback"), until shutdown: sleeps on
// g_PlaybackWake, plays the current profile's events while isPlaying, and
// leaves play state itself at the end of a pass that does not loop.
void PlaybackThread();

// Entering play state for the signal processor: false (and a note for the
// page) when the current profile has nothing to play.
bool CurrentProfileHasEvents();

// A one-line note for the page ("Nothing to play yet…", "Opened …"). Any thread.
void PostPageNote(const std::string& text);
// The members the status JSON carries for playback and macro files, each
// preceded by a comma: playDone, playTotal, playLoop, note, noteId,
// macroAsk, macroAskCount.
std::string PlaybackStatusJsonMembers();
// A macro file waiting for the user's answer before it replaces a recording:
// its name and event count (an empty name: none waits). Main thread.
void SetMacroAsk(const std::string& name, int64_t events);

// Forgets progress, notes and the pending question (tests).
void ResetPlaybackForTest();
