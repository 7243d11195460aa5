// Snapping geometry: landing positions, contacts, groups and slide times.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "snap/geometry.h"

namespace {

using snap::Contact;
using snap::Guides;
using snap::Point;
using snap::Rect;

const Rect kA{0, 0, 400, 300};

struct PositionCase {
  const char* what;
  int x, y, w, h;
  std::vector<Rect> others;
  int threshold;
  Point want;
  int lines;
  Rect line0;
  bool vertical0;
  int side0;
};

TEST(SnapPosition, Table) {
  const Rect b{400, 0, 600, 300};  // right of A, touching it
  const PositionCase cases[] = {
      {"no others", 17, 23, 100, 100, {}, 64, {17, 23}, 0, {}, false, 0},
      {"right of A, tops aligned", 405, 10, 200, 200, {kA}, 64, {400, 0}, 1, {400, 0, 401, 200}, true, 1},
      {"right of A, too far to align", 450, 40, 200, 200, {kA}, 64, {400, 40}, 1, {400, 40, 401, 240}, true, 1},
      {"outside the small threshold", 470, 10, 200, 200, {kA}, 8, {470, 10}, 0, {}, false, 0},
      {"small overlap pulled out", 395, 10, 200, 200, {kA}, 64, {400, 0}, 1, {400, 0, 401, 200}, true, 1},
      {"deep overlap stays", 385, 10, 200, 200, {kA}, 64, {385, 10}, 0, {}, false, 0},
      {"below A, lefts aligned", 10, 305, 200, 100, {kA}, 64, {0, 300}, 1, {0, 300, 200, 301}, false, 1},
      {"corner fit gives no line", 402, 303, 100, 100, {kA}, 64, {400, 300}, 0, {}, false, 0},
      {"left of A", -230, 20, 200, 200, {kA}, 64, {-200, 0}, 1, {0, 0, 1, 200}, true, -1},
      {"above A, rights aligned", 220, -130, 200, 100, {kA}, 64, {200, -100}, 1, {200, 0, 400, 1}, false, -1},
      {"bottoms aligned", 420, 120, 200, 200, {kA}, 64, {400, 100}, 1, {400, 100, 401, 300}, true, 1},
      // Alignment would overlap B, which sits where the aligned rectangle would go.
      {"alignment refused by overlap", 605, 25, 100, 100, {b, Rect{650, -50, 750, 10}}, 64, {600, 25}, 1,
       {600, 25, 601, 125}, true, 1},
      // Both moves within the gap tolerance: a corner fit that touches two windows.
      {"corner fit on two windows", 605, 25, 100, 100, {b, Rect{600, -100, 700, 20}}, 64, {600, 20}, 2,
       {600, 20, 601, 120}, true, 1},
      // The nearer of two windows wins; on a tie the earlier one.
      {"nearer window wins", 430, 0, 100, 100, {kA, Rect{540, 0, 700, 300}}, 64, {440, 0}, 1,
       {540, 0, 541, 100}, true, -1},
      {"tie goes to the earlier", 450, 0, 100, 100, {kA, Rect{600, 0, 700, 300}}, 64, {400, 0}, 1,
       {400, 0, 401, 100}, true, 1},
  };
  for (const auto& c : cases) {
    Guides g;
    g.count = 7;  // must be reset
    Point p = snap::Position(c.x, c.y, c.w, c.h, c.others, 96, &g, c.threshold);
    EXPECT_EQ(p, c.want) << c.what << ": got " << p.x << "," << p.y;
    ASSERT_EQ(g.count, c.lines) << c.what;
    if (c.lines > 0) {
      EXPECT_EQ(g.line[0], c.line0) << c.what << ": " << g.line[0].left << "," << g.line[0].top << ","
                                    << g.line[0].right << "," << g.line[0].bottom;
      EXPECT_EQ(g.vertical[0], c.vertical0) << c.what;
      EXPECT_EQ(g.side[0], c.side0) << c.what;
    }
  }
}

TEST(SnapPosition, SideBySideAlignsThenFlushesOnAStackedWindow) {
  // The candidate snaps right of A; its bottom (20 px above A's bottom) is
  // aligned to A's, and then D, standing below that column, is flush under it.
  const Rect d{400, 300, 600, 500};
  Guides g;
  Point p = snap::Position(405, 170, 200, 110, {kA, d}, 96, &g, 64);
  EXPECT_EQ(p, (Point{400, 190}));
  ASSERT_EQ(g.count, 2);
  EXPECT_EQ(g.line[0], (Rect{400, 190, 401, 300}));
  EXPECT_EQ(g.target[0], kA);
  EXPECT_EQ(g.side[0], 1);
  EXPECT_EQ(g.line[1], (Rect{400, 300, 600, 301}));
  EXPECT_EQ(g.target[1], d);
  EXPECT_EQ(g.side[1], -1);
}

TEST(SnapPosition, VerticalAndHorizontalLineTogether) {
  // B stands right of A; the candidate drops below A and its right edge runs
  // into... instead: a window snapping below A near B's left edge gets both a
  // horizontal line (on A) and, after the flush, a vertical one (on B).
  const Rect b{400, 300, 700, 700};
  Guides g;
  Point p = snap::Position(190, 304, 205, 100, {kA, b}, 96, &g, 64);
  EXPECT_EQ(p, (Point{195, 300}));
  ASSERT_EQ(g.count, 2);
  EXPECT_TRUE(g.vertical[0]);  // the vertical line always comes first
  EXPECT_EQ(g.line[0], (Rect{400, 300, 401, 400}));
  EXPECT_EQ(g.side[0], -1);
  EXPECT_EQ(g.target[0], b);
  EXPECT_FALSE(g.vertical[1]);
  EXPECT_EQ(g.line[1], (Rect{195, 300, 400, 301}));
  EXPECT_EQ(g.target[1], kA);
  EXPECT_EQ(g.side[1], 1);
}

TEST(SnapPosition, DpiScalesTheDistances) {
  // At 192 dpi the snap distance of 8 becomes 16 and a 12-pixel gap closes.
  Point p = snap::Position(412, 0, 100, 100, {kA}, 192, nullptr, 8);
  EXPECT_EQ(p, (Point{400, 0}));
  EXPECT_EQ(snap::Position(412, 0, 100, 100, {kA}, 96, nullptr, 8), (Point{412, 0}));
  // Below 1 counts as 96.
  EXPECT_EQ(snap::Position(412, 0, 100, 100, {kA}, 0, nullptr, 8), (Point{412, 0}));
}

TEST(SnapPosition, ExtremeCoordinatesDoNotWrap) {
  const Rect far{INT_MAX - 100, INT_MIN, INT_MAX, INT_MIN + 100};
  Guides g;
  Point p = snap::Position(INT_MAX - 50, INT_MIN + 10, 40, 40, {far, kA}, 96, &g, 64);
  EXPECT_EQ(p, (Point{INT_MAX - 50, INT_MIN + 10}));  // deep inside: no move
  // A huge window ending one pixel short of A's corner closes the pixel on both axes.
  p = snap::Position(INT_MIN, INT_MIN, INT_MAX, INT_MAX, {kA}, 96, &g, 64);
  EXPECT_EQ(p, (Point{INT_MIN + 1, INT_MIN + 1}));
}

TEST(SnapTouching, Table) {
  struct {
    Rect a, b;
    bool want;
  } cases[] = {
      {{0, 0, 100, 100}, {101, 10, 200, 90}, true},   // one-pixel gap
      {{0, 0, 100, 100}, {99, 10, 200, 90}, true},    // one-pixel overlap
      {{0, 0, 100, 100}, {102, 10, 200, 90}, false},  // two pixels apart
      {{0, 0, 100, 100}, {100, 100, 200, 200}, false},  // corner only
      {{0, 0, 100, 100}, {10, 100, 90, 200}, true},   // below
      {{10, 100, 90, 200}, {0, 0, 100, 100}, true},   // symmetric
      {{0, 0, 100, 100}, {100, 100, 200, 101}, false},
      {{0, 0, 100, 100}, {-100, 50, 0, 60}, true},    // left side
  };
  for (const auto& c : cases)
    EXPECT_EQ(snap::Touching(c.a, c.b), c.want) << c.a.left << "," << c.a.top << " vs " << c.b.left << "," << c.b.top;
}

TEST(SnapJoined, ChainsInDiscoveryOrder) {
  const Rect self{0, 0, 100, 100};
  std::vector<Rect> others = {
      {300, 0, 400, 100},  // 0: touches 2 only
      {500, 500, 600, 600},  // 1: alone
      {200, 0, 300, 100},  // 2: touches 3 and 0
      {100, 0, 200, 100},  // 3: touches self
      {0, 100, 100, 200},  // 4: touches self (below)
  };
  // Self finds 3 and 4; 4 is popped first (last pushed) and finds nothing new;
  // then 3 finds 2, and 2 finds 0.
  EXPECT_EQ(snap::Joined(self, others), (std::vector<size_t>{3, 4, 2, 0}));
  EXPECT_TRUE(snap::Joined(self, {}).empty());
  EXPECT_TRUE(snap::Joined(self, {Rect{100, 100, 200, 200}}).empty());
}

TEST(SnapSlideSeconds, Table) {
  struct {
    int distance, dpi;
    double want;
  } cases[] = {{0, 96, 0.10}, {32, 96, 0.16}, {-64, 96, 0.22}, {32, 192, 0.13}, {1000, 96, 0.22},
               {30, 96, 0.10 + 0.12 * 30 / 64.0}, {32, 0, 0.16}, {INT_MIN, 96, 0.22}};
  for (const auto& c : cases)
    EXPECT_NEAR(snap::SlideSeconds(c.distance, c.dpi), c.want, 1e-9) << c.distance << "@" << c.dpi;
}

TEST(SnapContact, ContactForAndApproach) {
  Guides g;
  snap::Position(420, 10, 200, 200, {kA}, 96, &g, 64);
  ASSERT_EQ(g.count, 1);
  EXPECT_EQ(g.line[0].left, 400);
  Contact c = snap::ContactFor(g, 0);
  EXPECT_EQ(c, (Contact{true, 400, 100, 1, 0, 200, 0}));
  EXPECT_EQ(snap::Approach(420, 10, 200, 200, g), (Contact{true, 400, 110, 1, 0, 200, 20}));
  // Overlapping the target by 5: no valid contact.
  Contact over = snap::Approach(395, 10, 200, 200, g);
  EXPECT_FALSE(over.valid);
  EXPECT_EQ(over.gap, 0);
  // One pixel of overlap still counts, as touching.
  Contact one = snap::Approach(399, 10, 200, 200, g);
  EXPECT_TRUE(one.valid);
  EXPECT_EQ(one.gap, 0);
  // Out of range and empty guides give the empty contact.
  EXPECT_EQ(snap::ContactFor(g, 1), Contact{});
  EXPECT_EQ(snap::ContactFor(Guides{}, 0), Contact{});
  EXPECT_EQ(snap::Approach(0, 0, 10, 10, Guides{}), Contact{});
  EXPECT_EQ(Contact{}.nx, 1);
}

TEST(SnapContact, HorizontalLinesAndNegativeHalves) {
  Guides g;
  snap::Position(-31, -130, 60, 100, {Rect{-100, 0, 0, 50}}, 96, &g, 64);
  ASSERT_EQ(g.count, 1);
  EXPECT_FALSE(g.vertical[0]);
  EXPECT_EQ(g.side[0], -1);
  Contact c = snap::ContactFor(g, 0);
  EXPECT_EQ(c.ny, -1);
  EXPECT_EQ(c.nx, 0);
  EXPECT_EQ(c.y, 0);
  // The line runs -60..0 after the right edges align; its middle is -30.
  EXPECT_EQ(c.x, (g.line[0].left + g.line[0].right) / 2);
  EXPECT_EQ(c.length, g.line[0].right - g.line[0].left);
  Contact a = snap::Approach(-31, -130, 60, 100, g);
  EXPECT_EQ(a.gap, 30);
  EXPECT_EQ(a.length, 31);  // -31..0 of the target's -100..0
  EXPECT_EQ(a.x, -15);      // (-31 + 0) / 2 rounds toward zero
}

}  // namespace
