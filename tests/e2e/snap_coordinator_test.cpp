// The snap coordinator of a lone main window: the page's canvas callback,
// rounded corners with nobody to touch, the frame it serves to other
// windows, the snap accent, and a clean stop.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <thread>
#include <vector>

#include "base/data_dir.h"
#include "platform/linux/gtk/handoff.h"
#include "snap/desktop_windows.h"
#include "snap/peer.h"
#include "snap/peer_message.h"
#include "tests/support/gtk_test_env.h"
#include "tests/support/process.h"
#include "tests/support/scoped_thread.h"

namespace {

// One private data directory, shared with the child copy through the environment.
const bool kHome = [] {
  if (!std::getenv("PMR_SNAP_FRAME_OF")) setenv("XDG_DATA_HOME", pmrtest::MakeTempDir("snapcoord").c_str(), 1);
  return true;
}();

// The program's dispatch: posts a task to the main loop.
void PostToMain(std::function<void()> task) {
  auto* t = new std::function<void()>(std::move(task));
  HandoffPosted(t);
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer p) -> gboolean {
        HandoffRunning(p);
        (*static_cast<std::function<void()>*>(p))();
        return G_SOURCE_REMOVE;
      },
      t, [](gpointer p) {
        HandoffRunning(p);
        delete static_cast<std::function<void()>*>(p);
      });
}

int Threads() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}

TEST(SnapCoordinator, LoneWindowCallsThePageOncePerSizeAndServesItsFrame) {
  ASSERT_TRUE(pmrtest::InitGtkOnce());
  // The first thread a process starts can bring a helper thread of the
  // runtime's (ThreadSanitizer's background thread); start one before counting.
  std::thread([] {}).join();
  const int threadsBefore = Threads();
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWidget* page = gtk_drawing_area_new();
  gtk_widget_set_size_request(page, 300, 200);
  gtk_container_add(GTK_CONTAINER(window), page);
  gtk_window_move(GTK_WINDOW(window), 50, 60);
  gtk_widget_show_all(window);
  ASSERT_TRUE(pmrtest::SpinUntil([&] { return gtk_widget_get_mapped(window); }, 5000));
  pmrtest::SpinFor(200);

  std::vector<std::string> evals;
  DesktopWindowsStart(window, true, [&](const std::string& js) { evals.push_back(js); }, PostToMain, [] {});
  struct stat st{};
  ASSERT_EQ(lstat(PeerSocketPath(getpid()).c_str(), &st), 0);

  DesktopWindowsCheckSnap();
  ASSERT_EQ(evals.size(), 1u);
  EXPECT_EQ(evals[0], "if (window.setCanvasFrame) setCanvasFrame(\"\");");
  DesktopWindowsCheckSnap();
  EXPECT_EQ(evals.size(), 1u) << "same size, same group: no call";
  GtkStyleContext* style = gtk_widget_get_style_context(window);
  EXPECT_FALSE(gtk_style_context_has_class(style, "pmr-square")) << "alone: round corners";

  // Another window of this program asks for the frame: a copy of this test
  // program, which passes the peer check, answers with what it received.
  gtk_widget_set_size_request(page, 320, 200);
  ASSERT_TRUE(pmrtest::SpinUntil([&] { return gtk_widget_get_allocated_width(page) == 320; }, 5000));
  DesktopWindowsCheckSnap();
  EXPECT_EQ(evals.size(), 2u) << "a new page size is told to the page";

  pmrtest::ChildProcess child = pmrtest::Spawn(
      {"/proc/self/exe", "--gtest_filter=SnapCoordinatorClient.*", "--gtest_also_run_disabled_tests"},
      {"PMR_SNAP_FRAME_OF=" + std::to_string(getpid())});
  std::string out;
  // The server waits for this main loop to compute the frame.
  ASSERT_TRUE(pmrtest::SpinUntil(
      [&] {
        int status = 0;
        return waitpid(child.pid, &status, WNOHANG) == child.pid;
      },
      20000));
  out = pmrtest::ReadAll(child.stdoutFd, 2);
  size_t at = out.find("FRAME:");
  ASSERT_NE(at, std::string::npos) << out;
  FrameText f;
  std::string text = out.substr(at + 6, out.find('\n', at) - at - 6);
  ASSERT_TRUE(ParseFrameText(text, f)) << text;
  EXPECT_EQ(f.page[2], 320);
  EXPECT_EQ(f.page[3], 200);
  EXPECT_TRUE(f.visible);
  EXPECT_TRUE(f.main);

  DesktopWindowsStop();
  EXPECT_NE(lstat(PeerSocketPath(getpid()).c_str(), &st), 0);
  gtk_widget_destroy(window);
  pmrtest::SpinFor(50);
  EXPECT_TRUE(pmrtest::SpinUntil([&] { return Threads() <= threadsBefore; }, 5000))
      << Threads() << " threads, " << threadsBefore << " before";
}

// 25 windows that listen and never take a connection (their queues full),
// named after live processes: the main loop keeps running while they are
// asked, and the snap check finishes without them.
TEST(SnapCoordinator, StalledWindowsNeverHoldTheMainLoop) {
  ASSERT_TRUE(pmrtest::InitGtkOnce());
  std::vector<pmrtest::ChildProcess> sleepers;
  std::vector<int> fds;
  pmrtest::OnExit cleanup([&] {
    for (int fd : fds) close(fd);
    for (auto& s : sleepers) {
      unlink(PeerSocketPath(s.pid).c_str());
      kill(s.pid, SIGKILL);
      pmrtest::WaitFor(s, 10);
    }
  });
  for (int i = 0; i < 25; ++i) {
    sleepers.push_back(pmrtest::Spawn({"sleep", "600"}, {}, false));
    const std::string path = PeerSocketPath(sleepers.back().pid);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof addr.sun_path);
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    fds.push_back(listener);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << path;
    ASSERT_EQ(listen(listener, 0), 0);
    for (int n = 0; n < 64; ++n) {
      const int c = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      fds.push_back(c);
      if (connect(c, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) break;  // the queue is full
    }
  }
  ASSERT_GE(ListPeers().size(), 25u);

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWidget* page = gtk_drawing_area_new();
  gtk_widget_set_size_request(page, 280, 150);
  gtk_container_add(GTK_CONTAINER(window), page);
  gtk_widget_show_all(window);
  ASSERT_TRUE(pmrtest::SpinUntil([&] { return gtk_widget_get_mapped(window); }, 5000));
  std::vector<std::string> evals;
  DesktopWindowsStart(window, true, [&](const std::string& js) { evals.push_back(js); }, PostToMain, [] {});

  // The longest time between two turns of a 5 ms timer on the main loop.
  struct Watch {
    gint64 last = 0, worst = 0;
  } watch;
  watch.last = g_get_monotonic_time();
  const guint timer = g_timeout_add(5, [](gpointer data) -> gboolean {
    auto* w = static_cast<Watch*>(data);
    const gint64 now = g_get_monotonic_time();
    w->worst = std::max(w->worst, now - w->last);
    w->last = now;
    return G_SOURCE_CONTINUE;
  }, &watch);
  pmrtest::SpinFor(20);
  watch.worst = 0;
  watch.last = g_get_monotonic_time();
  DesktopWindowsCheckSnap();
  EXPECT_TRUE(pmrtest::SpinUntil([&] { return !evals.empty(); }, 20000)) << "the check ends without the stalled windows";
  pmrtest::SpinFor(20);
  g_source_remove(timer);
  EXPECT_LT(watch.worst, 100 * 1000) << "the main loop stood still for " << watch.worst / 1000 << " ms";

  DesktopWindowsStop();
  gtk_widget_destroy(window);
  pmrtest::SpinFor(50);
}

TEST(SnapCoordinator, AccentText) {
  DesktopSetSnapAccent("#ff0000;#ffffff;0");
  EXPECT_EQ(DesktopSnapAccent(), 0xFF0000u);
  EXPECT_TRUE(DesktopSnapLight());
  EXPECT_FALSE(DesktopSnapAnimated());
  DesktopSetSnapAccent("#00ff88;#101010");
  EXPECT_EQ(DesktopSnapAccent(), 0x00FF88u);
  EXPECT_FALSE(DesktopSnapLight());
  EXPECT_FALSE(DesktopSnapAnimated()) << "no third field: unchanged";
  DesktopSetSnapAccent("nonsense;#zzz;1");
  EXPECT_EQ(DesktopSnapAccent(), 0x00FF88u) << "an unreadable colour keeps the accent";
  EXPECT_FALSE(DesktopSnapLight());
  EXPECT_TRUE(DesktopSnapAnimated());
  DesktopSetSnapAccent("rgb(1, 2, 3)");
  EXPECT_EQ(DesktopSnapAccent(), 0x010203u);
  DesktopSetSnapAccent("");
  EXPECT_EQ(DesktopSnapAccent(), 0x010203u);
}

// Run only as the child of the first test: asks the parent for its frame.
TEST(SnapCoordinatorClient, DISABLED_AskFrame) {
  const char* pid = std::getenv("PMR_SNAP_FRAME_OF");
  if (!pid) GTEST_SKIP();
  std::string reply;
  ASSERT_TRUE(PeerRequest(std::atoi(pid), "frame", &reply, 2000));
  std::printf("FRAME:%s\n", reply.c_str());
}

}  // namespace
