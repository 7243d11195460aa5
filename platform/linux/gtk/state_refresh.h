#pragma once
// How the tray and the session-bus actions keep up with the program's state
// without waking the process for nothing: the state is read every 250 ms
// while something changes by itself (a tool runs, a recording or playback
// goes on) and for two seconds after, so that a run's final count is seen;
// otherwise only when told that it may have changed (Kick), and every five
// seconds as a safety net. Main thread.
#include <glib.h>

#include <functional>

namespace pmrgtk {

class StateRefresh {
 public:
  static constexpr guint kLivelyMs = 250;
  static constexpr guint kIdleS = 5;
  static constexpr int kLingerTicks = 8;

  StateRefresh() = default;
  StateRefresh(const StateRefresh&) = delete;
  StateRefresh& operator=(const StateRefresh&) = delete;
  ~StateRefresh() { Stop(); }

  // `refresh` reads the state and shows what changed; `lively` says whether
  // the state is changing by itself now (may be empty: never).
  void Start(std::function<void()> refresh, std::function<bool()> lively);
  // Reads the state now and chooses the pace again; with `linger` the fast
  // pace goes on for a while even when nothing is lively (a tool that just
  // stopped settles its count).
  void Kick(bool linger);
  void Stop();
  // For tests: whether the fast pace is on.
  bool Lively() const { return timer_ != 0 && fast_; }

 private:
  static gboolean OnTimer(gpointer self);
  bool WantFast();
  void SetPace(bool fast);

  std::function<void()> refresh_;
  std::function<bool()> lively_;
  guint timer_ = 0;
  bool fast_ = false;
  int linger_ = 0;
};

}  // namespace pmrgtk
