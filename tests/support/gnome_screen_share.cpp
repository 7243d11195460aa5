// The user's side of the portal's "Screen Share" dialog, played through the
// dialog's accessibility interface (AT-SPI) rather than by synthetic input:
// the controls are found by role and name and driven by their own actions,
// so nothing depends on focus, layout or timing. The session runs the portal
// with its accessibility on (tests/support/with-gnome.sh --portal).
#include <atspi/atspi.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "tests/support/gnome_session.h"

namespace pmrtest {

namespace {

using Clock = std::chrono::steady_clock;

// Owns one reference to an accessible.
class Node {
 public:
  Node() = default;
  explicit Node(AtspiAccessible* a) : a_(a) {}
  ~Node() {
    if (a_) g_object_unref(a_);
  }
  Node(Node&& o) noexcept : a_(o.a_) { o.a_ = nullptr; }
  Node& operator=(Node&& o) noexcept {
    std::swap(a_, o.a_);
    return *this;
  }
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;
  explicit operator bool() const { return a_ != nullptr; }
  AtspiAccessible* get() const { return a_; }

 private:
  AtspiAccessible* a_ = nullptr;
};

std::string NameOf(AtspiAccessible* a) {
  gchar* name = atspi_accessible_get_name(a, nullptr);
  std::string s = name ? name : "";
  g_free(name);
  return s;
}

bool HasState(AtspiAccessible* a, AtspiStateType state) {
  AtspiStateSet* set = atspi_accessible_get_state_set(a);
  bool has = set && atspi_state_set_contains(set, state);
  if (set) g_object_unref(set);
  return has;
}

// Depth-first search below `node` (itself included), at most `depth` levels.
Node Find(AtspiAccessible* node, const std::function<bool(AtspiAccessible*)>& match, int depth) {
  if (match(node)) return Node(static_cast<AtspiAccessible*>(g_object_ref(node)));
  if (depth == 0) return {};
  // Read the children afresh each time: the dialog builds its rows late.
  atspi_accessible_clear_cache(node);
  gint n = atspi_accessible_get_child_count(node, nullptr);
  for (gint i = 0; i < n; ++i) {
    Node child(atspi_accessible_get_child_at_index(node, i, nullptr));
    if (!child) continue;
    if (Node found = Find(child.get(), match, depth - 1)) return found;
  }
  return {};
}

// A name matches the label as shown; GTK names a button with a mnemonic
// "_Share Share" (the mnemonic text, then the label).
bool NameIs(const std::string& name, const std::string& label) {
  return name == label || name == "_" + label + " " + label;
}

auto RoleNamed(AtspiRole role, const std::string& label) {
  return [role, label](AtspiAccessible* a) {
    return atspi_accessible_get_role(a, nullptr) == role && (label.empty() || NameIs(NameOf(a), label));
  };
}

// The open "Screen Share" window of any application on the bus.
Node ScreenShareDialog() {
  Node desktop(atspi_get_desktop(0));
  if (!desktop) return {};
  atspi_accessible_clear_cache(desktop.get());
  gint apps = atspi_accessible_get_child_count(desktop.get(), nullptr);
  for (gint i = 0; i < apps; ++i) {
    Node app(atspi_accessible_get_child_at_index(desktop.get(), i, nullptr));
    if (!app) continue;
    Node dialog = Find(
        app.get(),
        [](AtspiAccessible* a) {
          AtspiRole role = atspi_accessible_get_role(a, nullptr);
          return (role == ATSPI_ROLE_FRAME || role == ATSPI_ROLE_DIALOG || role == ATSPI_ROLE_WINDOW) &&
                 NameIs(NameOf(a), "Screen Share");
        },
        2);
    if (dialog) return dialog;
  }
  return {};
}

bool WaitUntil(Clock::time_point end, const std::function<bool()>& cond) {
  for (;;) {
    if (cond()) return true;
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

bool DoFirstAction(AtspiAccessible* a) {
  AtspiAction* action = atspi_accessible_get_action_iface(a);
  if (!action) return false;
  bool ok = atspi_action_get_n_actions(action, nullptr) > 0 && atspi_action_do_action(action, 0, nullptr);
  g_object_unref(action);
  return ok;
}

// One line per accessible below `node`: role, name and state.
void Describe(AtspiAccessible* node, int depth, std::string& out) {
  gchar* role = atspi_accessible_get_role_name(node, nullptr);
  out += std::string(2 * (12 - depth), ' ') + (role ? role : "?") + " '" + NameOf(node) + "'" +
                  (HasState(node, ATSPI_STATE_SENSITIVE) ? "" : " insensitive") +
         (HasState(node, ATSPI_STATE_SELECTED) ? " selected" : "") +
         (HasState(node, ATSPI_STATE_CHECKED) ? " checked" : "") + "\n";
  g_free(role);
  if (depth == 0) return;
  gint n = atspi_accessible_get_child_count(node, nullptr);
  for (gint i = 0; i < n; ++i) {
    Node child(atspi_accessible_get_child_at_index(node, i, nullptr));
    if (child) Describe(child.get(), depth - 1, out);
  }
}

bool Fail(std::string* why, const std::string& what, AtspiAccessible* dialog = nullptr) {
  if (why) {
    *why = what;
    if (dialog) Describe(dialog, 12, *why += "\n");
  }
  return false;
}

}  // namespace

bool GnomeGrantScreenShare(int timeoutMs, std::string* why) {
  static const bool ready = atspi_init() >= 0;
  if (!ready) return Fail(why, "no accessibility bus");
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  Node dialog;
  if (!WaitUntil(end, [&] { return bool(dialog = ScreenShareDialog()); }))
    return Fail(why, "no Screen Share dialog appeared");

  // The monitor list: select its first row (what a click on it does).
  Node list;
  if (!WaitUntil(end, [&] {
        list = Find(dialog.get(), RoleNamed(ATSPI_ROLE_LIST, ""), 12);
        return list && atspi_accessible_get_child_count(list.get(), nullptr) > 0;
      }))
    return Fail(why, "the dialog has no monitor list", dialog.get());
  AtspiSelection* selection = atspi_accessible_get_selection_iface(list.get());
  if (!selection) return Fail(why, "the monitor list cannot be selected");
  bool selected = atspi_selection_select_child(selection, 0, nullptr);
  g_object_unref(selection);
  if (!selected) return Fail(why, "the first monitor could not be selected");

  // Remember the choice, so that the portal hands out a restore token.
  if (Node remember = Find(dialog.get(), RoleNamed(ATSPI_ROLE_CHECK_BOX, ""), 12)) {
    if (!HasState(remember.get(), ATSPI_STATE_CHECKED) &&
        (!DoFirstAction(remember.get()) ||
         !WaitUntil(end, [&] { return HasState(remember.get(), ATSPI_STATE_CHECKED); })))
      return Fail(why, "the remember box could not be checked");
  }

  // Share becomes sensitive once a monitor is chosen.
  Node share;
  if (!WaitUntil(end, [&] {
        share = Find(dialog.get(), RoleNamed(ATSPI_ROLE_PUSH_BUTTON, "Share"), 12);
        return share && HasState(share.get(), ATSPI_STATE_SENSITIVE);
      }))
    return Fail(why, "the Share button did not become sensitive", dialog.get());
  if (!DoFirstAction(share.get())) return Fail(why, "the Share button could not be pressed");
  if (!WaitUntil(end, [] { return !GnomeScreenShareDialogOpen(); })) return Fail(why, "the dialog did not close");
  return true;
}

}  // namespace pmrtest
