// Snapping geometry.
#include "snap/geometry.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace snap {
namespace {

int Scaled(int value, int dpi) { return static_cast<int>((static_cast<long long>(value) * dpi + 48) / 96); }

}  // namespace

bool Overlaps(const Rect& a, const Rect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

Point Position(int x, int y, int w, int h, const std::vector<Rect>& others, int dpi, Guides* guides,
               int threshold) {
  if (guides) *guides = Guides{};
  if (others.empty()) return {x, y};
  if (dpi < 1) dpi = 96;
  const int g = Scaled(8, dpi);
  const int e = Scaled(28, dpi);
  const int s = Scaled(threshold, dpi);

  long long bestX = LLONG_MAX, bestY = LLONG_MAX;
  const Rect* qx = nullptr;
  const Rect* py = nullptr;
  long long dx = 0, dy = 0;
  // Widened to 64 bits: positions near the int range must not wrap.
  const long long X = x, Y = y, W = w, H = h;
  auto tryMove = [](long long d, long long limit, long long& best, long long& delta, const Rect*& which,
                    const Rect& r) {
    long long ad = d < 0 ? -d : d;
    if (ad <= limit && ad < best) {
      best = ad;
      delta = d;
      which = &r;
    }
  };
  for (const Rect& r : others) {
    if (Y < r.bottom + static_cast<long long>(g) && r.top - static_cast<long long>(g) < Y + H) {
      long long d = r.right - X;
      tryMove(d, d > 0 ? g : s, bestX, dx, qx, r);
      d = r.left - (X + W);
      tryMove(d, d <= 0 ? g : s, bestX, dx, qx, r);
    }
    if (X < r.right + static_cast<long long>(g) && r.left - static_cast<long long>(g) < X + W) {
      long long d = r.bottom - Y;
      tryMove(d, d > 0 ? g : s, bestY, dy, py, r);
      d = r.top - (Y + H);
      tryMove(d, d > 0 ? s : g, bestY, dy, py, r);
    }
  }

  bool corner = false;
  if (qx && py) {
    if (std::max(bestX, bestY) <= g) {
      corner = true;
    } else if (bestX <= bestY) {
      dy = 0;
      py = nullptr;
    } else {
      dx = 0;
      qx = nullptr;
    }
  }
  long long nx = X + dx, ny = Y + dy;
  auto overlapsAny = [&](long long left, long long top) {
    for (const Rect& r : others)
      if (left < r.right && r.left < left + W && top < r.bottom && r.top < top + H) return true;
    return false;
  };
  const bool overlapped = overlapsAny(nx, ny);

  if (!corner && qx && !py) {
    bool has = false;
    long long aligned = 0;
    if (std::llabs(qx->top - Y) <= e) {
      aligned = qx->top;
      has = true;
    } else if (std::llabs(qx->bottom - (Y + H)) <= e) {
      aligned = qx->bottom - H;
      has = true;
    }
    if (has && (overlapped || !overlapsAny(nx, aligned))) ny = aligned;
    for (const Rect& r : others) {
      if (!(nx < r.right && r.left < nx + W)) continue;
      if (std::llabs(r.bottom - ny) <= g) {
        ny = r.bottom;
        py = &r;
        break;
      }
      if (std::llabs(r.top - (ny + H)) <= g) {
        ny = r.top - H;
        py = &r;
        break;
      }
    }
  } else if (!corner && py && !qx) {
    bool has = false;
    long long aligned = 0;
    if (std::llabs(py->left - X) <= e) {
      aligned = py->left;
      has = true;
    } else if (std::llabs(py->right - (X + W)) <= e) {
      aligned = py->right - W;
      has = true;
    }
    if (has && (overlapped || !overlapsAny(aligned, ny))) nx = aligned;
    for (const Rect& r : others) {
      if (!(ny < r.bottom && r.top < ny + H)) continue;
      if (std::llabs(r.right - nx) <= g) {
        nx = r.right;
        qx = &r;
        break;
      }
      if (std::llabs(r.left - (nx + W)) <= g) {
        nx = r.left - W;
        qx = &r;
        break;
      }
    }
  }

  const int rx = static_cast<int>(std::clamp<long long>(nx, INT_MIN, INT_MAX));
  const int ry = static_cast<int>(std::clamp<long long>(ny, INT_MIN, INT_MAX));
  if (guides) {
    if (qx) {
      int lx = nx == qx->right ? rx : qx->left;
      long long from = std::max<long long>(qx->top, ny), to = std::min<long long>(qx->bottom, ny + H);
      if (from < to) {
        int i = guides->count++;
        guides->line[i] = Rect{lx, static_cast<int>(from), lx + 1, static_cast<int>(to)};
        guides->vertical[i] = true;
        guides->target[i] = *qx;
        guides->side[i] = nx == qx->right ? 1 : -1;
      }
    }
    if (py) {
      int ly = ny == py->bottom ? ry : py->top;
      long long from = std::max<long long>(py->left, nx), to = std::min<long long>(py->right, nx + W);
      if (from < to) {
        int i = guides->count++;
        guides->line[i] = Rect{static_cast<int>(from), ly, static_cast<int>(to), ly + 1};
        guides->vertical[i] = false;
        guides->target[i] = *py;
        guides->side[i] = ny == py->bottom ? 1 : -1;
      }
    }
  }
  return {rx, ry};
}

bool Touching(const Rect& a, const Rect& b) {
  auto near = [](int p, int q) { return std::llabs(static_cast<long long>(p) - q) <= 1; };
  if (a.top < b.bottom && b.top < a.bottom && (near(a.left, b.right) || near(a.right, b.left))) return true;
  if (a.left < b.right && b.left < a.right && (near(a.top, b.bottom) || near(a.bottom, b.top))) return true;
  return false;
}

std::vector<size_t> Joined(const Rect& self, const std::vector<Rect>& others) {
  std::vector<size_t> result;
  std::vector<bool> visited(others.size(), false);
  std::vector<Rect> stack{self};
  while (!stack.empty()) {
    Rect c = stack.back();
    stack.pop_back();
    for (size_t i = 0; i < others.size(); ++i) {
      if (visited[i] || !Touching(c, others[i])) continue;
      visited[i] = true;
      result.push_back(i);
      stack.push_back(others[i]);
    }
  }
  return result;
}

double SlideSeconds(int distance, int dpi) {
  if (dpi < 1) dpi = 96;
  double t = std::abs(static_cast<double>(distance)) * 96.0 / dpi / 64.0;
  if (t >= 1) return 0.22;
  return 0.10 + 0.12 * t;
}

Contact ContactFor(const Guides& g, int i) {
  if (i < 0 || i >= g.count || i >= 2) return Contact{};
  Contact c;
  c.valid = true;
  const Rect& l = g.line[i];
  if (g.vertical[i]) {
    c.nx = g.side[i];
    c.ny = 0;
    c.x = l.left;
    c.y = static_cast<int>((static_cast<long long>(l.top) + l.bottom) / 2);
    c.length = l.bottom - l.top;
  } else {
    c.nx = 0;
    c.ny = g.side[i];
    c.x = static_cast<int>((static_cast<long long>(l.left) + l.right) / 2);
    c.y = l.top;
    c.length = l.right - l.left;
  }
  c.gap = 0;
  return c;
}

Contact Approach(int x, int y, int w, int h, const Guides& g) {
  if (g.count <= 0) return Contact{};
  Contact c = ContactFor(g, 0);
  const Rect& t = g.target[0];
  const Rect& l = g.line[0];
  long long gap;
  if (g.vertical[0]) {
    long long lo = std::max<long long>(t.top, y), hi = std::min<long long>(t.bottom, static_cast<long long>(y) + h);
    gap = g.side[0] == 1 ? static_cast<long long>(x) - l.left : l.left - (static_cast<long long>(x) + w);
    if (lo < hi) {
      c.length = static_cast<int>(hi - lo);
      c.y = static_cast<int>((lo + hi) / 2);
    }
  } else {
    long long lo = std::max<long long>(t.left, x), hi = std::min<long long>(t.right, static_cast<long long>(x) + w);
    gap = g.side[0] == 1 ? static_cast<long long>(y) - l.top : l.top - (static_cast<long long>(y) + h);
    if (lo < hi) {
      c.length = static_cast<int>(hi - lo);
      c.x = static_cast<int>((lo + hi) / 2);
    }
  }
  if (gap < -1) {
    c.valid = false;
    c.gap = 0;
  } else {
    c.gap = static_cast<int>(std::min<long long>(std::max<long long>(gap, 0), INT_MAX));
  }
  return c;
}

}  // namespace snap
