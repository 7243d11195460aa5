// The pace at which the tray and the bus actions read the state; see
// state_refresh.h.
#include "platform/linux/gtk/state_refresh.h"

#include <utility>

namespace pmrgtk {

void StateRefresh::Start(std::function<void()> refresh, std::function<bool()> lively) {
  Stop();
  refresh_ = std::move(refresh);
  lively_ = std::move(lively);
  Kick(false);
}

void StateRefresh::Kick(bool linger) {
  if (!refresh_) return;
  refresh_();
  if (linger) linger_ = kLingerTicks;
  SetPace(WantFast());
}

void StateRefresh::Stop() {
  if (timer_) g_source_remove(timer_);
  timer_ = 0;
  refresh_ = nullptr;
  lively_ = nullptr;
}

// Fast while the state changes by itself and for the linger after, else the
// slow safety net.
bool StateRefresh::WantFast() {
  if (lively_ && lively_()) linger_ = kLingerTicks;
  return linger_ > 0;
}

// Replaces the timer when the pace changes.
void StateRefresh::SetPace(bool fast) {
  if (timer_ && fast == fast_) return;
  if (timer_) g_source_remove(timer_);
  fast_ = fast;
  // Whole-second timers of the process wake together.
  timer_ = fast ? g_timeout_add(kLivelyMs, OnTimer, this) : g_timeout_add_seconds(kIdleS, OnTimer, this);
}

gboolean StateRefresh::OnTimer(gpointer data) {
  auto* self = static_cast<StateRefresh*>(data);
  if (self->refresh_) self->refresh_();
  if (self->fast_ && self->linger_ > 0) --self->linger_;
  const bool fast = self->WantFast();
  if (fast == self->fast_) return G_SOURCE_CONTINUE;
  self->timer_ = 0;  // this source ends with the return below
  self->SetPace(fast);
  return G_SOURCE_REMOVE;
}

}  // namespace pmrgtk
