// The portal backend's rules: cursor positions from stream pixels to the
// desktop, request paths, and the restore token file. The session itself is
// exercised against the real portal in tests/e2e/gnome.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "base/data_dir.h"
#include "platform/linux/shell/portal.h"
#include "tests/support/process.h"

namespace {

const std::string kDataHome = [] {
  std::string dir = pmrtest::MakeTempDir("portal-rules");
  setenv("XDG_DATA_HOME", dir.c_str(), 1);
  return dir;
}();

TEST(PortalRules, CursorMapping) {
  struct Case {
    PortalStreamPlace place;
    int32_t cx, cy;
    double x, y;
  } cases[] = {
      // One unscaled monitor at the origin.
      {{0, 0, 1920, 1080, 1920, 1080}, 100, 200, 100, 200},
      // A second monitor to the right: the stream position is added.
      {{1920, 0, 1280, 1024, 1280, 1024}, 10, 20, 1930, 20},
      // Video at half the logical size (a scaled monitor): coordinates double.
      {{1920, 100, 2560, 1440, 1280, 720}, 640, 360, 1920 + 1280, 100 + 720},
      // Video size not known yet, or a logical size of 0: scale 1.
      {{50, 60, 1280, 800, 0, 0}, 7, 8, 57, 68},
      {{50, 60, 0, 0, 1280, 800}, 7, 8, 57, 68},
      // Negative positions (a monitor left of the primary one).
      {{-1280, 0, 1280, 800, 1280, 800}, 0, 799, -1280, 799},
  };
  for (const Case& c : cases) {
    double x = -1, y = -1;
    PortalMapCursor(c.place, c.cx, c.cy, x, y);
    EXPECT_DOUBLE_EQ(x, c.x) << c.place.x << " " << c.cx;
    EXPECT_DOUBLE_EQ(y, c.y) << c.place.y << " " << c.cy;
  }
}

TEST(PortalRules, SenderPart) {
  EXPECT_EQ(PortalSenderPart(":1.42"), "1_42");
  EXPECT_EQ(PortalSenderPart(":1.2.3"), "1_2_3");
  EXPECT_EQ(PortalSenderPart(""), "");
}

TEST(PortalRules, RestoreTokenIsTheFirstLineOfARegularFile) {
  const std::string path = PortalTokenPath();
  EXPECT_EQ(path, OsDataDir() + "/portal-token.txt");
  unlink(path.c_str());
  EXPECT_EQ(PortalReadToken(), "");  // missing

  struct Case {
    const char* content;
    const char* token;
  } cases[] = {{"abc-123\n", "abc-123"}, {"abc\r\nrest\n", "abc"}, {"two\nlines\n", "two"}, {"", ""}, {"\n", ""}};
  for (const Case& c : cases) {
    std::ofstream(path, std::ios::trunc) << c.content;
    EXPECT_EQ(PortalReadToken(), c.token) << c.content;
  }

  // A link in place of the file is not followed.
  const std::string elsewhere = kDataHome + "/elsewhere.txt";
  std::ofstream(elsewhere) << "stolen\n";
  unlink(path.c_str());
  ASSERT_EQ(symlink(elsewhere.c_str(), path.c_str()), 0);
  EXPECT_EQ(PortalReadToken(), "");
  unlink(path.c_str());

  // A huge file is read only up to the cap.
  std::ofstream(path, std::ios::trunc) << std::string(1 << 20, 'x');
  EXPECT_LE(PortalReadToken().size(), 4096u);
  unlink(path.c_str());
}

TEST(PortalRules, NoPortalMeansNoStart) {
  // No session bus at all: the portal cannot be asked.
  std::string saved = getenv("DBUS_SESSION_BUS_ADDRESS") ? getenv("DBUS_SESSION_BUS_ADDRESS") : "";
  setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + kDataHome + "/no-bus").c_str(), 1);
  EXPECT_FALSE(PortalStart());
  double x = 5, y = 6;
  EXPECT_FALSE(PortalPointer(x, y));
  EXPECT_EQ(x, 5);
  PortalStop();  // nothing running: returns at once
  if (saved.empty())
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
  else
    setenv("DBUS_SESSION_BUS_ADDRESS", saved.c_str(), 1);
}

}  // namespace
