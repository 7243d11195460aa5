// The contact effect: approach particles, the snap contraction, the impact
// with rings, flare and core, and the spark burst.
#include "platform/overlay_scene.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

namespace snapfx {
namespace {

constexpr float kPi = 3.14159265358979f;

std::mutex g_RandomLock;
uint32_t g_Random = 0x2545F491u;

// Impact clock marks.
constexpr float kRingsAt = 0.57f;
constexpr float kGrowAt = 0.95f;
constexpr float kFadeAt = 1.55f;
constexpr float kBurstAt = 1.69f;
constexpr float kRingSpan = 1.25f;  // rings outlive the burst mark
constexpr size_t kMaxParticles = 220;

float Clamp01(float v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }

// Size class of a particle or spark.
float SizeClass() {
  float b = UnitRandom(), c = UnitRandom();
  if (b < 0.55f) return 0.4f + 0.7f * c;
  if (b < 0.85f) return 1.1f + 1.4f * c;
  if (b < 0.96f) return 2.6f + 2.0f * c;
  return 4.6f + 3.0f * c;
}

Col Hsv(float h, float s, float v) {
  h = std::fmod(h, 360.0f);
  if (h < 0) h += 360;
  float c = v * s, x = c * (1 - std::fabs(std::fmod(h / 60.0f, 2.0f) - 1)), m = v - c;
  float r = 0, g = 0, b = 0;
  if (h < 60) r = c, g = x;
  else if (h < 120) r = x, g = c;
  else if (h < 180) g = c, b = x;
  else if (h < 240) g = x, b = c;
  else if (h < 300) r = x, b = c;
  else r = c, b = x;
  return {r + m, g + m, b + m};
}

struct Particle {
  int kind = 0;      // 0: from the moving side, 1: from the target side
  float along = 0;   // offset along the contact line, pixels
  float across = 0;  // lateral jitter, -1..1
  float size = 1, speed = 1, dist = 0;
  float phase1 = 0, phase2 = 0, wobbleRate = 1, wobble = 0, drift = 0;
  int variant = 0;
  float age = 0;
  bool released = false;  // handed to a click: pulled into the contact
  float fade = 1;
  float x = 0, y = 0;  // last drawn position (desktop)
};

struct Spark {
  float x = 0, y = 0, vx = 0, vy = 0, size = 1, life = 0.5f, age = 0, rot = 0;
  bool secondary = false;
};

struct Ring {
  float born = 0;  // impact clock
  float speed = 1, width = 2;
};

struct Contact {
  float x = 0, y = 0, nx = 1, ny = 0, tx = 0, ty = 1, length = 60, gap = 0;
};

Contact FromGuide(const Guide& g) {
  Contact c;
  float scale = g.scale == 0 ? 1.0f : g.scale / 96.0f;
  c.x = static_cast<float>(g.x);
  c.y = static_cast<float>(g.y);
  c.nx = static_cast<float>(g.nx);
  c.ny = static_cast<float>(g.ny);
  c.length = std::clamp(g.length / scale, 60.0f, 360.0f);
  c.gap = g.gap / scale;
  if (g.ny != 0) c.tx = 1, c.ty = 0;
  else c.tx = 0, c.ty = 1;
  return c;
}

}  // namespace

float UnitRandom() {
  std::lock_guard<std::mutex> lock(g_RandomLock);
  uint32_t x = g_Random;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  g_Random = x;
  return static_cast<float>(x >> 8) * (1.0f / 16777216.0f);
}

struct Scene::Impl {
  std::mutex lock;
  // Posted inputs.
  Guide postedApproach;
  Guide postedClick;
  double postedSeconds = 0;
  bool postedClickPending = false;
  unsigned postedAccent = 0x00FF88;
  bool postedLight = false;

  // Animation state (drawing thread).
  unsigned accent = 0xFFFFFFFF;  // forces the first palette
  bool light = false;
  Col primary, secondary;

  bool approachActive = false;
  Contact approach;
  float intensity = 0, focus = 0, strength = 0;
  float spawnDebt = 0;
  float clock = 0;  // running time for wobbles

  bool snapping = false, clickStarted = false;
  Contact click;
  float elapsed = 0, duration = 0.06f, pull = 12, snapStrength = 1, progress = 0;

  bool impact = false, burstFired = false, ringsMade = false;
  float T = 0;

  std::vector<Particle> particles;
  std::vector<Spark> sparks;
  std::vector<Ring> rings;

  bool attached = false;
  int dot = -1, streak = -1, stripH = -1, stripV = -1, hair = -1;

  void MakePalette() {
    primary = {((accent >> 16) & 255) / 255.0f, ((accent >> 8) & 255) / 255.0f, (accent & 255) / 255.0f};
    float mx = std::max({primary.r, primary.g, primary.b});
    float mn = std::min({primary.r, primary.g, primary.b});
    float s = mx > 0 ? (mx - mn) / mx : 0;
    if (mx == 0 || s < 0.2f) {
      secondary = light ? Col{0.3725f, 0.3333f, 0.5882f} : Col{0.6667f, 0.7059f, 1.0f};
      return;
    }
    float h;
    float d = mx - mn;
    if (mx == primary.r) h = 60 * std::fmod((primary.g - primary.b) / d, 6.0f);
    else if (mx == primary.g) h = 60 * ((primary.b - primary.r) / d + 2);
    else h = 60 * ((primary.r - primary.g) / d + 4);
    secondary = Hsv(h + 45, s * 0.85f, mx);
  }

  void Spawn(float reach, int kind, float spread) {
    Particle p;
    float g1 = (UnitRandom() + UnitRandom() + UnitRandom() - 1.5f) / 1.5f;
    p.along = spread * g1 * 0.36f;
    float g2 = (UnitRandom() + UnitRandom() + UnitRandom() - 1.5f) / 1.5f;
    p.across = g2;
    p.size = SizeClass();
    p.speed = 1.3f + 1.4f * UnitRandom();
    p.dist = 14 + std::max(reach, 0.0f) + 46 * UnitRandom();
    p.phase1 = 2 * kPi * UnitRandom();
    p.phase2 = 2 * kPi * UnitRandom();
    p.wobbleRate = 1.5f + 5 * UnitRandom();
    p.wobble = (UnitRandom() - 0.5f) * 14;
    p.drift = (UnitRandom() - 0.5f) * 2;
    p.variant = static_cast<int>(24 * UnitRandom());
    p.kind = kind;
    particles.push_back(p);
  }

  void Burst() {
    sparks.reserve(sparks.size() + 90);
    for (int i = 0; i < 90; ++i) {
      Spark s;
      float speed = 380 + 900 * UnitRandom();
      if (UnitRandom() < 0.2f) speed *= 1.4f;
      float sign = UnitRandom() < 0.5f ? 1.0f : -1.0f;
      float offset = (UnitRandom() - 0.5f) * 3;
      float u1 = UnitRandom(), u2 = UnitRandom(), u3 = UnitRandom();
      float side = (20 + 90 * u1 * u2) * (u3 - 0.5f);
      s.size = 0.8f * SizeClass();
      s.life = 0.3f + 0.4f * UnitRandom();
      s.rot = 2 * kPi * UnitRandom();
      s.secondary = UnitRandom() < 0.5f;
      s.x = click.x + click.tx * offset;
      s.y = click.y + click.ty * offset;
      s.vx = click.nx * speed * sign + click.tx * side;
      s.vy = click.ny * speed * sign + click.ty * side;
      sparks.push_back(s);
    }
  }
};

Scene::Scene() : impl_(std::make_unique<Impl>()) {}
Scene::~Scene() = default;

void Scene::SetStyle(unsigned accent, bool light) {
  std::lock_guard<std::mutex> lock(impl_->lock);
  impl_->postedAccent = accent & 0xFFFFFFu;
  impl_->postedLight = light;
}

bool Scene::Approach(const Guide& g) {
  std::lock_guard<std::mutex> lock(impl_->lock);
  if (!g.active && !impl_->postedApproach.active) return false;
  impl_->postedApproach = g;
  return true;
}

void Scene::Click(const Guide& g, double seconds) {
  std::lock_guard<std::mutex> lock(impl_->lock);
  impl_->postedClick = g;
  impl_->postedSeconds = seconds;
  impl_->postedClickPending = true;
  impl_->postedApproach.active = false;
}

void Scene::Update() {
  Impl& s = *impl_;
  Guide approach, click;
  double seconds;
  bool clickPending;
  unsigned accent;
  bool light;
  {
    std::lock_guard<std::mutex> lock(s.lock);
    approach = s.postedApproach;
    click = s.postedClick;
    seconds = s.postedSeconds;
    clickPending = s.postedClickPending;
    s.postedClickPending = false;
    accent = s.postedAccent;
    light = s.postedLight;
  }
  if (accent != s.accent || light != s.light) {
    s.accent = accent;
    s.light = light;
    s.MakePalette();
  }
  if (approach.active) {
    s.approach = FromGuide(approach);
    s.approachActive = true;
  } else {
    s.approachActive = false;
  }
  if (clickPending) {
    s.click = FromGuide(click);
    s.pull = s.approachActive ? std::max(6.0f, s.approach.gap) : 12.0f;
    s.snapStrength = std::max(1.0f, s.strength);
    s.duration = static_cast<float>(std::max(seconds, 0.06));
    s.snapping = true;
    s.clickStarted = true;
    s.elapsed = 0;
    s.progress = 0;
    s.rings.clear();
    s.impact = false;
    for (Particle& p : s.particles) p.released = true;
    s.approachActive = false;
  }
}

bool Scene::Busy() const {
  const Impl& s = *impl_;
  return s.approachActive || s.snapping || s.impact || !s.particles.empty() || !s.sparks.empty();
}

bool Scene::Snapping() const { return impl_->snapping || impl_->impact; }
bool Scene::ImpactRunning() const { return impl_->impact; }
float Scene::ApproachIntensity() const { return impl_->approachActive ? impl_->intensity : 0.0f; }

void Scene::Palette(Col& primary, Col& secondary) const {
  primary = impl_->primary;
  secondary = impl_->secondary;
}

bool Scene::TakeClickStarted() {
  bool was = impl_->clickStarted;
  impl_->clickStarted = false;
  return was;
}

void Scene::Center(float& x, float& y) const {
  const Impl& s = *impl_;
  if (s.snapping || s.impact) {
    x = s.click.x;
    y = s.click.y;
  } else {
    x = s.approach.x;
    y = s.approach.y;
  }
}

void Scene::Drop() {
  Impl& s = *impl_;
  s.particles.clear();
  s.sparks.clear();
  s.rings.clear();
  s.approachActive = false;
  s.snapping = false;
  s.impact = false;
  std::lock_guard<std::mutex> lock(s.lock);
  s.postedApproach.active = false;  // a dropped approach must not come back at the next Update
  s.postedClickPending = false;
}

void Scene::Attach(Canvas& canvas) {
  Impl& s = *impl_;
  if (s.attached) return;
  s.attached = true;
  // Each pixel is the mean of 3 x 3 samples of a density over (u, v) in 0..1.
  auto make = [&](int w, int h, auto density) {
    std::vector<uint8_t> px(static_cast<size_t>(w) * h);
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i) {
        float sum = 0;
        for (int a = 0; a < 3; ++a)
          for (int b = 0; b < 3; ++b)
            sum += Clamp01(density((i + (a + 0.5f) / 3) / w, (j + (b + 0.5f) / 3) / h));
        px[static_cast<size_t>(j) * w + i] = static_cast<uint8_t>(std::lround(sum / 9 * 255));
      }
    return canvas.AddSprite(w, h, px.data());
  };
  // A soft round glow with a brighter heart.
  s.dot = make(64, 64, [](float u, float v) {
    float r = std::sqrt((u - 0.5f) * (u - 0.5f) + (v - 0.5f) * (v - 0.5f)) * 2;
    if (r >= 1) return 0.0f;
    float k = 1 - r;
    return 0.55f * k * k + 0.45f * std::exp(-r * r * 18);
  });
  // A comet streak: bright head at the right, tapering tail.
  s.streak = make(128, 32, [](float u, float v) {
    float across = std::exp(-std::pow((v - 0.5f) * 5.5f, 2.0f));
    float along = u < 0.85f ? std::pow(u / 0.85f, 1.6f) : (1 - u) / 0.15f;
    return across * along;
  });
  auto strip = [](float along, float across) {
    float ends = 1 - std::pow(std::fabs(2 * along - 1), 4.0f);
    return ends * std::exp(-std::pow((across - 0.5f) * 4.5f, 2.0f));
  };
  std::vector<uint8_t> buf;
  auto direct = [&](int w, int h, auto density) {
    buf.assign(static_cast<size_t>(w) * h, 0);
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i)
        buf[static_cast<size_t>(j) * w + i] =
            static_cast<uint8_t>(std::lround(Clamp01(density((i + 0.5f) / w, (j + 0.5f) / h)) * 255));
    return canvas.AddSprite(w, h, buf.data());
  };
  s.stripH = direct(256, 64, [&](float u, float v) { return strip(u, v); });
  s.stripV = direct(32, 256, [&](float u, float v) { return strip(v, u); });
  s.hair = direct(256, 4, [](float u, float v) { return std::sin(kPi * u) * (1 - std::fabs(2 * v - 1) * 0.5f); });
}

void Scene::Tick(float dt, Canvas& canvas, float ox, float oy) {
  Impl& s = *impl_;
  if (!(dt >= 0)) dt = 0;
  s.clock += dt;
  const Mat shift{1, 0, 0, 1, -ox, -oy};
  auto at = [&](float x, float y) { return Mat{1, 0, 0, 1, x - ox, y - oy}; };
  auto rotated = [&](float x, float y, float dx, float dy) { return Mat{dx, dy, -dy, dx, x - ox, y - oy}; };
  auto dotAt = [&](float x, float y, float r, Col c, float a) {
    if (r > 0 && a > 0.003f) canvas.Sprite(s.dot, at(x, y), -r, -r, r, r, c, a);
  };

  // Approach intensity and new particles.
  if (s.approachActive) {
    float c = s.approach.gap / 64.0f;
    s.intensity = c < 1 ? std::pow(1 - c, 1.2f) : 0;
    s.focus = c < 1 ? std::min(1.0f, 1.25f * std::pow(1 - c, 0.6f)) : 0;
    s.strength = std::min(1.4f, s.focus + 0.4f * std::pow(std::max(0.0f, 1 - s.approach.gap / 40.0f), 1.5f));
    s.spawnDebt += dt * (20 + 160 * s.intensity);
    while (s.spawnDebt >= 1) {
      s.spawnDebt -= 1;
      if (s.particles.size() < kMaxParticles && s.intensity > 0)
        s.Spawn(s.approach.gap, UnitRandom() < 0.65f ? 0 : 1, s.approach.length * 0.5f);
    }
  } else {
    s.intensity = s.focus = 0;
    s.strength *= std::exp(-dt * 6);
    s.spawnDebt = 0;
  }

  // Snap and impact clocks.
  if (s.snapping) {
    s.elapsed += dt;
    float p = s.elapsed / s.duration;
    if (p < 1) {
      s.progress = std::sin(p * kPi / 2);
    } else {
      s.progress = 1;
      s.snapping = false;
      s.impact = true;
      s.T = 0;
      s.burstFired = false;
      s.ringsMade = false;
      s.rings.clear();
    }
  } else if (s.impact) {
    s.T += 1.9f * dt;
    if (!s.ringsMade && s.T >= kRingsAt) {
      s.ringsMade = true;
      for (int i = 0; i < 3; ++i) s.rings.push_back({s.T + 0.08f * i, 1.0f - 0.18f * i, 2.6f - 0.6f * i});
    }
    if (!s.burstFired && s.T >= kBurstAt) {
      s.burstFired = true;
      s.Burst();
    }
  }
  std::erase_if(s.rings, [&](const Ring& r) { return s.T - r.born > kRingSpan; });

  // Particles move toward their contact; released ones fall into the click.
  const Contact& home = s.snapping || s.impact ? s.click : s.approach;
  for (Particle& p : s.particles) {
    p.age += dt;
    float pullRate = 40 + 160 * std::max(s.strength, 0.2f);
    if (p.released) {
      p.dist -= p.speed * (pullRate + 900 * s.progress) * dt;
      p.fade -= dt * (s.impact ? 5.0f : 1.5f);
    } else {
      p.dist -= p.speed * pullRate * dt;
      if (!s.approachActive) p.fade -= dt * 3;
    }
    if (p.dist <= 0) {
      p.dist = 0;
      p.fade -= dt * 12;
    }
  }
  std::erase_if(s.particles, [](const Particle& p) { return p.fade <= 0; });

  for (Spark& k : s.sparks) {
    k.age += dt;
    k.x += k.vx * dt;
    k.y += k.vy * dt;
    float drag = std::exp(-dt * 3.2f);
    k.vx *= drag;
    k.vy *= drag;
  }
  std::erase_if(s.sparks, [](const Spark& k) { return k.age >= k.life; });

  if (s.impact && s.T > kFadeAt && s.rings.empty() && s.sparks.empty()) s.impact = false;

  // ---- drawing ----
  const Col pri = s.primary, sec = s.secondary;
  const Col white{1, 1, 1};
  canvas.SetAdditive(true);
  const float glow = std::max(s.intensity, s.snapping ? s.snapStrength * (1 - 0.3f * s.progress) : 0.0f);

  // Field: a wide soft cloud around the contact.
  if (glow > 0) {
    dotAt(home.x, home.y, 90 + 70 * glow, sec, 0.16f * glow);
    // Seam: a glowing strip along the contact line.
    float half = home.length * (0.35f + 0.25f * glow);
    if (home.tx != 0)
      canvas.Sprite(s.stripH, shift, home.x - half, home.y - 12, home.x + half, home.y + 12, pri, 0.55f * glow);
    else
      canvas.Sprite(s.stripV, shift, home.x - 12, home.y - half, home.x + 12, home.y + half, pri, 0.55f * glow);
    canvas.Sprite(s.hair, rotated(home.x, home.y, home.tx, home.ty), -half, -1, half, 1, white, 0.5f * glow);
    // Focus: a bright point at the contact.
    dotAt(home.x, home.y, 16 + 18 * s.focus, white, 0.35f * s.focus);
    dotAt(home.x, home.y, 26 + 20 * s.focus, pri, 0.5f * s.focus);
  }

  // Particles, drawn as short streaks pointing at the contact line.
  for (Particle& p : s.particles) {
    const Contact& c = p.released ? s.click : s.approach;
    float side = p.kind == 0 ? 1.0f : -1.0f;
    float wob = std::sin(p.phase1 + s.clock * p.wobbleRate) * p.wobble * std::min(1.0f, p.dist / 40);
    float along = p.along * (p.released ? 1 - s.progress : 1.0f) + wob + p.drift * p.age * 10;
    float lateral = p.across * 3 + std::sin(p.phase2 + s.clock * 2) * 1.5f;
    p.x = c.x + c.tx * along + c.nx * side * p.dist + c.tx * lateral;
    p.y = c.y + c.ty * along + c.ny * side * p.dist;
    float a = Clamp01(p.fade) * (0.45f + 0.55f * Clamp01(1 - p.dist / 120));
    float len = 3 + p.size * 3 + (p.released ? 10 * s.progress : 0);
    Col col = p.variant % 3 == 0 ? sec : pri;
    // The streak's head points along -normal*side (toward the contact).
    float dx = -c.nx * side, dy = -c.ny * side;
    canvas.Sprite(s.streak, rotated(p.x, p.y, dx, dy), -len, -p.size * 1.2f, p.size, p.size * 1.2f, col, a);
    if (p.size > 2.5f) dotAt(p.x, p.y, p.size * 2.2f, white, a * 0.25f);
  }

  // Rings expanding from the contact.
  for (const Ring& r : s.rings) {
    float age = s.T - r.born;
    if (age < 0) continue;
    float t = age / kRingSpan;
    float radius = 8 + 230 * r.speed * (1 - std::pow(1 - Clamp01(t), 2.2f));
    float a = 0.55f * std::pow(1 - Clamp01(t), 1.6f);
    Pt pts[49];
    for (int i = 0; i <= 48; ++i) {
      float ang = 2 * kPi * i / 48;
      // Flattened along the contact line: the burst leaves the seam sideways.
      pts[i] = {s.click.x - ox + std::cos(ang) * radius * (s.click.tx != 0 ? 1.0f : 0.55f),
                s.click.y - oy + std::sin(ang) * radius * (s.click.ty != 0 ? 1.0f : 0.55f)};
    }
    canvas.Stroke(Mat{}, pts, 49, r.width * (1 - 0.5f * t) + 0.5f, pri, a);
  }

  if (s.impact) {
    const float T = s.T;
    float grow = T < kGrowAt ? 0 : std::pow(std::min(1.0f, (T - kGrowAt) / 0.6f), 2.6f);
    float fade = T < kFadeAt ? 1 : Clamp01(1 - (T - kFadeAt) / 0.45f);
    float contract = Clamp01(T / kRingsAt);
    // Flare along the contact line.
    float flare = (0.35f + 1.1f * grow) * home.length * 0.5f;
    canvas.Sprite(s.streak, rotated(s.click.x, s.click.y, s.click.tx, s.click.ty), -flare, -10 - 14 * grow, flare,
                  10 + 14 * grow, pri, 0.7f * fade);
    canvas.Sprite(s.streak, rotated(s.click.x, s.click.y, -s.click.tx, -s.click.ty), -flare, -10 - 14 * grow, flare,
                  10 + 14 * grow, pri, 0.7f * fade);
    canvas.Sprite(s.hair, rotated(s.click.x, s.click.y, s.click.tx, s.click.ty), -flare * 1.3f, -1.5f, flare * 1.3f,
                  1.5f, white, 0.8f * fade);
    // Core.
    dotAt(s.click.x, s.click.y, 14 + 40 * grow + 10 * (1 - contract), pri, 0.9f * fade);
    dotAt(s.click.x, s.click.y, 8 + 18 * grow, white, 0.8f * fade);
    // Black hole: pulls in during the contraction and closes as the flare grows.
    canvas.SetAdditive(false);
    float hole = (2 + 7 * contract) * (1 - grow);
    if (hole > 0.2f) canvas.FillEllipse(shift, Pt{s.click.x, s.click.y}, hole, hole, Col{0, 0, 0}, 0.85f * fade);
    canvas.SetAdditive(true);
    if (s.burstFired) {
      for (const Spark& k : s.sparks) {
        float life = 1 - k.age / k.life;
        float sp = std::sqrt(k.vx * k.vx + k.vy * k.vy);
        if (sp < 1e-3f) continue;
        float len = 4 + sp * 0.02f * k.size;
        canvas.Sprite(s.streak, rotated(k.x, k.y, k.vx / sp, k.vy / sp), -len, -k.size, k.size, k.size,
                      k.secondary ? sec : pri, life);
        if (k.size > 2.5f) dotAt(k.x, k.y, k.size * 2, white, life * 0.4f);
      }
    }
  } else if (s.snapping) {
    float pulse = 0.6f + 0.4f * s.progress;
    dotAt(s.click.x, s.click.y, 12 + 10 * s.progress, pri, 0.8f * pulse);
    dotAt(s.click.x, s.click.y, 6 + 4 * s.progress, white, 0.7f * pulse);
  }
  canvas.SetAdditive(false);
}

}  // namespace snapfx
