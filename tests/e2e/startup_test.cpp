// The real program's command-line modes, start-up and stop, under Xvfb.
// gtest first: Xlib defines macros (None, Bool) that clash with its templates.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xatom.h>
// clang-format on
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "tests/support/process.h"
#include "tests/support/x11_session.h"

namespace {

using pmrtest::ProgramPath;

constexpr const char* kTitle = "Pellomar (Free Version 1.0.2)";

std::string WindowTitle(Display* dpy, Window w) {
  Atom netName = XInternAtom(dpy, "_NET_WM_NAME", False);
  Atom utf8 = XInternAtom(dpy, "UTF8_STRING", False);
  Atom type;
  int format;
  unsigned long n, after;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(dpy, w, netName, 0, 1024, False, utf8, &type, &format, &n, &after, &data) ==
          Success &&
      data) {
    title.assign(reinterpret_cast<char*>(data), n);
    XFree(data);
  }
  if (title.empty()) {
    char* name = nullptr;
    if (XFetchName(dpy, w, &name) && name) {
      title = name;
      XFree(name);
    }
  }
  return title;
}

Window FindWindowByTitle(Display* dpy, Window root, const std::string& want, int depth = 0) {
  if (WindowTitle(dpy, root) == want) return root;
  if (depth > 4) return 0;
  Window r, parent, *kids = nullptr;
  unsigned n = 0;
  if (!XQueryTree(dpy, root, &r, &parent, &kids, &n)) return 0;
  Window found = 0;
  for (unsigned i = 0; i < n && !found; ++i) found = FindWindowByTitle(dpy, kids[i], want, depth + 1);
  if (kids) XFree(kids);
  return found;
}

Window WaitForWindow(Display* dpy, const std::string& title, double seconds) {
  auto t0 = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - t0 < std::chrono::duration<double>(seconds)) {
    pmrtest::XErrorsIgnored ignored(dpy);  // the program makes and drops windows while it starts
    Window w = FindWindowByTitle(dpy, DefaultRootWindow(dpy), title);
    if (w) return w;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return 0;
}

// Asks the window to close the way a window manager's close button does.
void RequestClose(Display* dpy, Window w) {
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = w;
  ev.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
  ev.xclient.data.l[1] = CurrentTime;
  XSendEvent(dpy, w, False, NoEventMask, &ev);
  XFlush(dpy);
}

std::vector<std::string> PrivateHome(const std::string& tag) {
  std::string home = pmrtest::MakeTempDir(tag);
  return {"HOME=" + home, "XDG_DATA_HOME=" + home + "/data", "XDG_CONFIG_HOME=" + home + "/config",
          "XDG_RUNTIME_DIR=" + home, "WAYLAND_DISPLAY=", "NO_AT_BRIDGE=1"};
}

TEST(Startup, SelfTestWithUnopenableVectorsFileFailsBeforeAnythingElse) {
  auto env = PrivateHome("selftest");
  env.push_back("DISPLAY=");  // no display needed: nothing graphical starts
  for (std::vector<std::string> args :
       {std::vector<std::string>{"--selftest-update=/nonexistent/vectors.json"},
        std::vector<std::string>{"a.pmrmacro", "--update-manifest=x",
                                 "--selftest-update=/nonexistent/vectors.json"}}) {
    args.insert(args.begin(), ProgramPath());
    std::string out;
    int rc = pmrtest::Run(args, &out, env, 30);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(out,
              "FAIL could not open vectors file: /nonexistent/vectors.json\n"
              "SELFTEST-UPDATE: FAILURES ABOVE\n");
  }
}

TEST(Startup, ChildModeEndsWithStatusZero) {
  auto env = PrivateHome("child");
  std::string out;
  EXPECT_EQ(pmrtest::Run({ProgramPath(), "--child"}, &out, env, 30), 0) << out;
}

TEST(Startup, WindowOpensWorkersRunAndClosingEndsWithStatusZero) {
  Display* dpy = XOpenDisplay(nullptr);
  ASSERT_NE(dpy, nullptr) << "needs the X server of the test wrapper";
  auto env = PrivateHome("run");
  pmrtest::ChildProcess child = pmrtest::Spawn({ProgramPath()}, env, false);
  ASSERT_GT(child.pid, 0);

  Window w = WaitForWindow(dpy, kTitle, 60);
  ASSERT_NE(w, 0u) << "the main window with its title appears";

  auto names = pmrtest::ThreadNames(child.pid);
  for (const char* want : {"PMR signals", "PMR autoclicker", "PMR key spammer"})
    EXPECT_NE(std::find(names.begin(), names.end(), want), names.end()) << want;

  RequestClose(dpy, w);
  int status = pmrtest::WaitFor(child, 30);
  ASSERT_NE(status, -1) << "closing the window ends the process";
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  XCloseDisplay(dpy);
}

}  // namespace
