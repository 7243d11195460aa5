// The snap group coordinator: the main window's frame for other windows,
// carrying the joined group while the user moves the main window, the snap
// slide on release, glow and effect feedback, square corners on contact, and
// the page's canvas callback.
#include "snap/desktop_windows.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "base/json_escape.h"
#include "base/strings.h"
#include "platform/os_overlay.h"
#include "platform/os_window.h"
#include "platform/overlay_scene.h"
#include "snap/geometry.h"
#include "snap/peer.h"
#include "snap/peer_message.h"

namespace {

using Clock = std::chrono::steady_clock;
// All windows together must answer "frame" within this time.
constexpr int kPartnerQueryMs = 400;
// Each carried window must take its move within this time.
constexpr int kCarryMoveMs = 100;
using Task = std::function<void()>;
using DispatchFn = std::function<void(Task)>;

struct Frame {
  snap::Rect window, page;
  bool visible = false;
  bool main = false;
};
struct Partner {
  int pid = 0;
  snap::Rect window, page;
  bool visible = false, main = false;
};

void* g_Window = nullptr;
bool g_Master = false;
std::function<void(const std::string&)> g_Eval;
DispatchFn g_Dispatch;
std::mutex g_DispatchLock;  // g_Dispatch is read by the peer server thread
std::atomic<bool> g_Stopped{false};

std::atomic<bool> g_MasterMoving{false};
std::vector<Partner> g_DragPartners;
std::vector<snap::Rect> g_DragTargets;
std::vector<std::pair<int, snap::Point>> g_Carried;
snap::Point g_MoveFrom;
snap::Point g_CarryOffset;
snap::Point g_DragFrom{INT_MIN, INT_MIN};
int g_FxPeer = 0;
std::map<int, std::string> g_PeerGlows;
std::string g_CanvasSent;
std::vector<int> g_CanvasGroup;
std::vector<int> g_FlushWith;
snap::Point g_MovedTo;
Clock::time_point g_MovedToUntil{};
std::string g_OwnFrameReply;
std::mutex g_OwnFrameLock;
unsigned g_SnapAccent = 0x00FF88;
bool g_SnapLight = false;
std::atomic<bool> g_SnapAnimated{true};

DispatchFn CurrentDispatch() {
  std::lock_guard<std::mutex> lock(g_DispatchLock);
  return g_Dispatch;
}

bool Post(Task task) {
  DispatchFn d = CurrentDispatch();
  if (!d) return false;
  d(std::move(task));
  return true;
}

std::string FrameReply(const Frame& f) {
  FrameText t;
  t.window[0] = f.window.left;
  t.window[1] = f.window.top;
  t.window[2] = f.window.right - f.window.left;
  t.window[3] = f.window.bottom - f.window.top;
  t.page[0] = f.page.left;
  t.page[1] = f.page.top;
  t.page[2] = f.page.right - f.page.left;
  t.page[3] = f.page.bottom - f.page.top;
  t.visible = f.visible;
  t.main = f.main;
  return FormatFrameText(t);
}

bool OwnFrame(Frame& f) {
  f = Frame{};
  f.main = g_Master;
  if (!g_Window) return false;
  f.visible = OsWindowVisible(g_Window);
  int x, y, w, h;
  if (!OsGetWindowFrame(g_Window, x, y, w, h)) return false;
  f.window = {x, y, x + w, y + h};
  int px, py, pw, ph;
  if (OsGetPageFrame(g_Window, px, py, pw, ph)) f.page = {px, py, px + pw, py + ph};
  else f.page = f.window;
  // A window manager applies a move some time after it was asked for: report
  // where the window was sent for up to a second.
  if (Clock::now() < g_MovedToUntil) {
    const int dx = g_MovedTo.x - x, dy = g_MovedTo.y - y;
    if (dx == 0 && dy == 0) g_MovedToUntil = {};
    f.window = {f.window.left + dx, f.window.top + dy, f.window.right + dx, f.window.bottom + dy};
    f.page = {f.page.left + dx, f.page.top + dy, f.page.right + dx, f.page.bottom + dy};
  }
  return true;
}

// Frames of the windows answering within the time, in listing order; a
// window that does not answer, answers something else or is hidden is left
// out. Asks every window at once, so a stalled one costs only the time.
std::vector<Partner> QueryPartnersOf(const std::vector<int>& pids) {
  std::vector<std::pair<int, std::string>> requests;
  for (int pid : pids) requests.emplace_back(pid, "frame");
  std::vector<std::optional<std::string>> replies = PeerRequestAll(requests, kPartnerQueryMs);
  std::vector<Partner> out;
  for (size_t i = 0; i < pids.size(); ++i) {
    FrameText t;
    if (!replies[i] || !ParseFrameText(*replies[i], t) || !t.visible) continue;
    Partner p;
    p.pid = pids[i];
    p.window = {t.window[0], t.window[1], t.window[0] + t.window[2], t.window[1] + t.window[3]};
    p.page = {t.page[0], t.page[1], t.page[0] + t.page[2], t.page[1] + t.page[3]};
    p.visible = t.visible;
    p.main = t.main;
    out.push_back(p);
  }
  return out;
}

// Runs then(partners) on the main thread: at once when no other window is
// listed (the usual case), otherwise once a short-lived thread has asked
// them, so that no window, however stalled, holds up the main loop.
// False when then will never run (no dispatch, no thread).
bool QueryPartnersThen(std::function<void(const std::vector<Partner>&)> then) {
  std::vector<int> pids = ListPeers();
  if (pids.empty()) {
    then({});
    return true;
  }
  DispatchFn dispatch = CurrentDispatch();
  if (!dispatch) return false;
  try {
    std::thread([dispatch, pids = std::move(pids), then = std::move(then)]() mutable {
      std::vector<Partner> partners = QueryPartnersOf(pids);
      if (g_Stopped.load()) return;
      dispatch([partners = std::move(partners), then = std::move(then)] {
        if (!g_Stopped.load()) then(partners);
      });
    }).detach();
  } catch (const std::system_error&) {
    return false;  // no thread to ask with: the next check asks again
  }
  return true;
}

void NotifyAll(const std::vector<int>& pids) {
  for (int pid : pids) Notify(pid, "snapCheck");
}

// The snap check with a known frame and partner list (main thread).
void CheckSnapWith(const Frame* given, const std::vector<Partner>* givenPartners) {
  Frame own;
  if (given) own = *given;
  else if (!OwnFrame(own)) return;
  {
    std::lock_guard<std::mutex> lock(g_OwnFrameLock);
    g_OwnFrameReply = FrameReply(own);
  }
  std::vector<int> touching, group;
  if (own.visible && givenPartners) {
    const std::vector<Partner>& partners = *givenPartners;
    std::vector<snap::Rect> rects;
    for (const Partner& p : partners) {
      rects.push_back(p.window);
      if (snap::Touching(own.window, p.window)) touching.push_back(p.pid);
    }
    for (size_t i : snap::Joined(own.window, rects)) group.push_back(partners[i].pid);
    std::sort(group.begin(), group.end());
  }
  const std::string key =
      "|" + std::to_string(own.page.right - own.page.left) + "x" + std::to_string(own.page.bottom - own.page.top);
  if (key != g_CanvasSent || group != g_CanvasGroup) {
    if (g_Eval) g_Eval("if (window.setCanvasFrame) setCanvasFrame(" + JsonEscapeForBind("") + ");");
    g_CanvasSent = key;
    NotifyAll(g_CanvasGroup);
    for (int pid : group)
      if (std::find(g_CanvasGroup.begin(), g_CanvasGroup.end(), pid) == g_CanvasGroup.end()) Notify(pid, "snapCheck");
    g_CanvasGroup = group;
  }
  OsSetWindowCornersRounded(g_Window, touching.empty());
  std::sort(touching.begin(), touching.end());
  if (touching != g_FlushWith) {
    NotifyAll(g_FlushWith);
    NotifyAll(touching);
    g_FlushWith = touching;
  }
}

bool g_CheckAsking = false;  // a check waits for the partners' frames
bool g_CheckAgain = false;   // another check was asked for meanwhile

// The snap check: the own frame, then the partners (asked off the main
// thread when there are any), then CheckSnapWith. Checks asked for while the
// partners are being asked run once more after the answer.
void CheckSnap() {
  Frame own;
  if (!OwnFrame(own)) return;
  if (!own.visible) {
    CheckSnapWith(&own, nullptr);
    return;
  }
  if (g_CheckAsking) {
    g_CheckAgain = true;
    return;
  }
  g_CheckAsking = true;
  const bool asking = QueryPartnersThen([](const std::vector<Partner>& partners) {
    g_CheckAsking = false;
    Frame now;
    if (OwnFrame(now)) CheckSnapWith(&now, &partners);
    if (g_CheckAgain) {
      g_CheckAgain = false;
      CheckSnap();
    }
  });
  if (!asking) g_CheckAsking = g_CheckAgain = false;
}

// ---- feedback ----

snapfx::Guide InactiveGuide() {
  snapfx::Guide g;
  g.active = false;
  g.nx = 1;
  g.scale = 96;
  return g;
}

snapfx::Guide GuideOf(const snap::Contact& c) {
  snapfx::Guide g;
  g.active = c.valid;
  g.x = c.x;
  g.y = c.y;
  g.nx = c.nx;
  g.ny = c.ny;
  g.length = c.length;
  g.gap = c.gap;
  g.scale = 96;
  return g;
}

std::string ContactNumbers(const snap::Contact& c) {
  return std::to_string(c.x) + "|" + std::to_string(c.y) + "|" + std::to_string(c.nx) + "|" + std::to_string(c.ny) +
         "|" + std::to_string(c.length) + "|" + std::to_string(c.gap);
}

int FxPlayer(const snap::Contact& c) {
  if (!c.valid || !OsGlowRelativeToWindow() || !(c.nx == 1 || c.ny == 1)) return 0;
  for (const Partner& p : g_DragPartners)
    if (c.x >= p.window.left - 1 && c.x <= p.window.right + 1 && c.y >= p.window.top - 1 &&
        c.y <= p.window.bottom + 1)
      return p.pid;
  return 0;
}

void FxApproach(const snap::Contact& c) {
  const int player = FxPlayer(c);
  if (player != g_FxPeer) {
    if (g_FxPeer == 0) OsSnapFxApproach(g_Window, InactiveGuide());
    else Notify(g_FxPeer, "fx|0");
    g_FxPeer = player;
  }
  if (c.valid) {
    if (player == 0) OsSnapFxApproach(g_Window, GuideOf(c));
    else Notify(player, "fx|a|" + ContactNumbers(c));
  } else if (player == 0) {
    OsSnapFxApproach(g_Window, InactiveGuide());
  }
}

void FxClick(const snap::Contact& c, double seconds) {
  FxApproach(snap::Contact{});
  const int player = FxPlayer(c);
  if (!c.valid) return;
  if (player == 0) {
    snapfx::Guide g = GuideOf(c);
    OsSnapFxClick(g_Window, g, seconds);
  } else {
    Notify(player, "fx|c|" + ContactNumbers(c) + "|" + std::to_string(static_cast<long long>(seconds * 1000)));
  }
}

void SendPeerGlows(const std::map<int, std::string>& messages) {
  for (auto it = g_PeerGlows.begin(); it != g_PeerGlows.end();) {
    if (!messages.count(it->first)) {
      Notify(it->first, "glow|0");
      it = g_PeerGlows.erase(it);
    } else {
      ++it;
    }
  }
  for (const auto& [pid, text] : messages) {
    auto it = g_PeerGlows.find(pid);
    if (it != g_PeerGlows.end() && it->second == text) continue;
    g_PeerGlows[pid] = text;
    Notify(pid, text);
  }
}

void ShowGlow(const snap::Guides& g) {
  int lines[8];
  bool vertical[2];
  int own = 0;
  std::map<int, std::string> messages;
  const bool relative = OsGlowRelativeToWindow();
  for (int i = 0; i < g.count && i < 2; ++i) {
    if (relative && g.side[i] == 1) {
      auto it = std::find_if(g_DragPartners.begin(), g_DragPartners.end(),
                             [&](const Partner& p) { return p.window == g.target[i]; });
      if (it != g_DragPartners.end()) {
        std::string& m = messages[it->pid];
        if (m.empty()) m = "glow|" + std::to_string(g_SnapAccent);
        const snap::Rect& l = g.line[i];
        m += "|" + std::to_string(l.left) + "," + std::to_string(l.top) + "," + std::to_string(l.right) + "," +
             std::to_string(l.bottom) + "," + (g.vertical[i] ? "1" : "0");
      }
      continue;
    }
    const snap::Rect& l = g.line[i];
    lines[own * 4] = l.left;
    lines[own * 4 + 1] = l.top;
    lines[own * 4 + 2] = l.right;
    lines[own * 4 + 3] = l.bottom;
    vertical[own] = g.vertical[i];
    ++own;
  }
  OsShowSnapGlow(g_Window, own, lines, vertical, g_SnapAccent);
  SendPeerGlows(messages);
}

void HideGlow() {
  OsShowSnapGlow(g_Window, 0, nullptr, nullptr, g_SnapAccent);
  SendPeerGlows({});
  FxApproach(snap::Contact{});
}

snap::Guides DragFeedback(int x, int y, int w, int h, const snap::Guides& guides) {
  snap::Guides approach;
  if (guides.count == 0) snap::Position(x, y, w, h, g_DragTargets, 96, &approach, 64);
  if (g_SnapAnimated.load() && OsSnapFxAvailable()) {
    FxApproach(guides.count > 0 ? snap::ContactFor(guides, 0) : snap::Approach(x, y, w, h, approach));
    return snap::Guides{};
  }
  return guides.count > 0 ? guides : approach;
}

// ---- moving ----

long RoundAway(double v) { return std::lround(v); }  // halves away from zero

void MoveStep(snap::Point from, const std::vector<std::pair<int, snap::Point>>& carried, int sx, int sy) {
  OsMoveWindowFrame(g_Window, from.x + sx, from.y + sy);
  g_MovedTo = {from.x + sx, from.y + sy};
  g_MovedToUntil = Clock::now() + std::chrono::seconds(1);
  for (const auto& [pid, at] : carried)
    Notify(pid, "moveTo|" + std::to_string(at.x + sx) + "|" + std::to_string(at.y + sy));
}

bool SnapOnRelease(const std::vector<std::pair<int, snap::Point>>& carried) {
  Frame own;
  if (!OwnFrame(own)) return false;
  const int w = own.window.right - own.window.left, h = own.window.bottom - own.window.top;
  snap::Guides guides;
  snap::Point target = snap::Position(own.window.left, own.window.top, w, h, g_DragTargets, 96, &guides, 64);
  if (guides.count == 0) return false;
  const int dx = target.x - own.window.left, dy = target.y - own.window.top;
  const snap::Point from{own.window.left, own.window.top};
  if (dx == 0 && dy == 0) {
    if (g_SnapAnimated.load() && OsSnapFxAvailable() && !(from == g_DragFrom)) FxClick(snap::ContactFor(guides, 0), 0.1);
    return false;
  }
  if (!g_SnapAnimated.load()) {
    MoveStep(from, carried, dx, dy);
    CheckSnap();
    return true;
  }
  const double duration = snap::SlideSeconds(std::max(std::abs(dx), std::abs(dy)), 96);
  if (OsSnapFxAvailable()) FxClick(snap::ContactFor(guides, 0), duration);
  DispatchFn dispatch = CurrentDispatch();
  if (!dispatch) return false;
  std::thread([dispatch, from, carried, dx, dy, duration] {
    const auto start = Clock::now();
    for (;;) {
      double p = std::chrono::duration<double>(Clock::now() - start).count() / duration;
      double f = p < 1 ? p * p : 1;
      const int sx = static_cast<int>(RoundAway(dx * f)), sy = static_cast<int>(RoundAway(dy * f));
      if (g_Stopped.load()) return;
      dispatch([from, carried, sx, sy] {
        if (!g_Stopped.load()) MoveStep(from, carried, sx, sy);
      });
      if (p >= 1) {
        dispatch([] {
          if (!g_Stopped.load()) CheckSnap();
        });
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(8));
    }
  }).detach();
  return true;
}

using Moves = std::vector<std::pair<int, std::string>>;

// One tick of the move (main thread); the carried windows' moves are
// returned for the tick thread to send, so that no carried window, however
// slow, holds up the main loop.
Moves MasterMoveTick() {
  Moves moves;
  int px, py;
  bool pressed = false;
  const bool held = OsPointerState(px, py, pressed) && pressed;
  Frame own;
  if (OwnFrame(own)) {
    const snap::Point offset{own.window.left - g_MoveFrom.x, own.window.top - g_MoveFrom.y};
    if (!(offset == g_CarryOffset)) {
      g_CarryOffset = offset;
      for (const auto& [pid, at] : g_Carried)
        moves.emplace_back(pid, "moveTo|" + std::to_string(at.x + offset.x) + "|" + std::to_string(at.y + offset.y));
    }
    if (!g_DragTargets.empty()) {
      const int w = own.window.right - own.window.left, h = own.window.bottom - own.window.top;
      snap::Guides guides;
      snap::Position(own.window.left, own.window.top, w, h, g_DragTargets, 96, &guides, 8);
      ShowGlow(DragFeedback(own.window.left, own.window.top, w, h, guides));
    }
  }
  if (!held) {
    g_MasterMoving = false;
    HideGlow();
    std::vector<std::pair<int, snap::Point>> carried = g_Carried;
    for (auto& c : carried) c.second = {c.second.x + g_CarryOffset.x, c.second.y + g_CarryOffset.y};
    if (!g_DragTargets.empty()) SnapOnRelease(carried);
    CheckSnap();
    for (const auto& c : g_Carried) Notify(c.first, "snapCheck");
    g_Carried.clear();
  }
  return moves;
}

bool g_MoveAsking = false;  // a move start waits for the partners' frames

// The move itself, once the partners are known (main thread).
void BeginMasterMove(const std::vector<Partner>& partners) {
  if (g_MasterMoving.load() || g_Stopped.load()) return;
  Frame own;
  if (!OwnFrame(own)) return;
  int px, py;
  bool pressed = false;
  if (!OsPointerState(px, py, pressed) || !pressed) return;  // released while the partners were asked
  std::vector<snap::Rect> rects;
  for (const Partner& p : partners) rects.push_back(p.window);
  std::vector<size_t> group = snap::Joined(own.window, rects);
  g_Carried.clear();
  g_DragTargets.clear();
  g_DragPartners.clear();
  for (size_t i = 0; i < partners.size(); ++i) {
    if (std::find(group.begin(), group.end(), i) != group.end()) {
      g_Carried.emplace_back(partners[i].pid, snap::Point{partners[i].window.left, partners[i].window.top});
    } else {
      g_DragTargets.push_back(partners[i].window);
      g_DragPartners.push_back(partners[i]);
    }
  }
  g_FxPeer = 0;
  g_MasterMoving = true;
  // A move noticed late (the window manager's own title bar) has already
  // carried this window some way: count from where it rested.
  int shiftX = 0, shiftY = 0;
  OsUserMoveShift(shiftX, shiftY);
  g_MoveFrom = g_DragFrom = {own.window.left - shiftX, own.window.top - shiftY};
  g_CarryOffset = {0, 0};
  DispatchFn dispatch = CurrentDispatch();
  if (!dispatch) {
    g_MasterMoving = false;
    return;
  }
  std::thread([dispatch] {
    while (g_MasterMoving.load() && !g_Stopped.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(12));
      struct Step {
        std::mutex lock;
        std::condition_variable cv;
        bool done = false;
        Moves moves;
      };
      auto step = std::make_shared<Step>();
      dispatch([step] {
        Moves moves;
        if (g_MasterMoving.load() && !g_Stopped.load()) moves = MasterMoveTick();
        std::lock_guard<std::mutex> lock(step->lock);
        step->moves = std::move(moves);
        step->done = true;
        step->cv.notify_all();
      });
      Moves moves;
      {
        std::unique_lock<std::mutex> lock(step->lock);
        // The main loop may end before it runs the step (shutdown): look at
        // the stop flag now and then rather than waiting for ever.
        while (!step->done && !g_Stopped.load()) step->cv.wait_for(lock, std::chrono::milliseconds(100));
        moves = std::move(step->moves);
      }
      if (!moves.empty()) PeerRequestAll(moves, kCarryMoveMs);
    }
  }).detach();
}

void MasterMoveStarted() {
  if (g_MasterMoving.load() || g_MoveAsking || g_Stopped.load()) return;
  OsUnconfinePointer();
  Frame own;
  if (!OwnFrame(own)) return;
  int px, py;
  bool pressed = false;
  if (!OsPointerState(px, py, pressed) || !pressed) return;
  g_MoveAsking = true;
  const bool asking = QueryPartnersThen([](const std::vector<Partner>& partners) {
    g_MoveAsking = false;
    BeginMasterMove(partners);
  });
  if (!asking) g_MoveAsking = false;
}

// ---- requests from other windows ----

std::string HandlePeer(const std::string& text) {
  PeerMessage m = ParsePeerMessage(text);
  switch (m.kind) {
    case PeerMessageKind::kIgnored:
      return {};
    case PeerMessageKind::kFrame: {
      auto state = std::make_shared<std::pair<std::mutex, std::condition_variable>>();
      auto done = std::make_shared<bool>(false);
      Post([state, done] {
        Frame own;
        if (OwnFrame(own)) {
          std::lock_guard<std::mutex> lock(g_OwnFrameLock);
          g_OwnFrameReply = FrameReply(own);
        }
        std::lock_guard<std::mutex> lock(state->first);
        *done = true;
        state->second.notify_all();
      });
      {
        std::unique_lock<std::mutex> lock(state->first);
        state->second.wait_for(lock, std::chrono::milliseconds(150), [&] { return *done; });
      }
      std::lock_guard<std::mutex> lock(g_OwnFrameLock);
      return g_OwnFrameReply;
    }
    case PeerMessageKind::kSnapCheck:
      Post([] { CheckSnap(); });
      return {};
    case PeerMessageKind::kGlow:
      Post([m] {
        if (!g_MasterMoving.load()) OsShowSnapGlow(g_Window, m.lineCount, m.lines, m.vertical, m.colour);
      });
      return {};
    case PeerMessageKind::kFxApproach:
      Post([m] { OsSnapFxApproach(g_Window, m.guide); });
      return {};
    case PeerMessageKind::kFxClick:
      Post([m] { OsSnapFxClick(g_Window, m.guide, m.guide.duration / 1000.0); });
      return {};
    case PeerMessageKind::kFxEnd:
      Post([] { OsSnapFxApproach(g_Window, InactiveGuide()); });
      return {};
    case PeerMessageKind::kMoveTo:
      Post([m] {
        OsMoveWindowFrame(g_Window, m.x, m.y);
        g_MovedTo = {m.x, m.y};
        g_MovedToUntil = Clock::now() + std::chrono::seconds(1);
      });
      return {};
  }
  return {};
}

}  // namespace

void DesktopWindowsStart(void* window, bool master, std::function<void(const std::string&)> eval,
                         std::function<void(std::function<void()>)> dispatch, std::function<void()> terminate) {
  (void)terminate;  // kept by the caller's contract, never called here
  g_Stopped = false;
  g_CheckAsking = g_CheckAgain = g_MoveAsking = false;
  g_Master = master;
  g_Window = window;
  g_Eval = std::move(eval);
  {
    std::lock_guard<std::mutex> lock(g_DispatchLock);
    g_Dispatch = std::move(dispatch);
  }
  OsWatchUserMoves(window, MasterMoveStarted);
  OsStartPeerServer(HandlePeer);
}

void DesktopWindowsCheckSnap() {
  if (g_MasterMoving.load() || g_Stopped.load()) return;
  CheckSnap();
}

void DesktopWindowsStop() {
  g_Stopped = true;
  OsStopPeerServer();
  g_Eval = nullptr;
  std::lock_guard<std::mutex> lock(g_DispatchLock);
  g_Dispatch = nullptr;
}

void DesktopSetSnapAccent(const std::string& text) {
  std::vector<std::string> f = SplitString(text, ';');
  int r, g, b;
  if (!f.empty() && ParseThemeColor(f[0], r, g, b)) g_SnapAccent = static_cast<unsigned>(r * 65536 + g * 256 + b);
  if (f.size() > 1 && ParseThemeColor(f[1], r, g, b)) g_SnapLight = 299 * r + 587 * g + 114 * b > 159999;
  if (f.size() > 2) g_SnapAnimated = f[2] != "0";
  OsSnapFxStyle(g_SnapAccent, g_SnapLight);
}

unsigned DesktopSnapAccent() { return g_SnapAccent; }
bool DesktopSnapLight() { return g_SnapLight; }
bool DesktopSnapAnimated() { return g_SnapAnimated.load(); }
