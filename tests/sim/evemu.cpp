// evemu descriptions and recordings, and small event builders.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "tests/sim/sim_kernel.h"

namespace pmrsim {
namespace {

bool ParseHex(const std::string& s, long& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(s.c_str(), &end, 16);
  if (errno || *end) return false;
  out = v;
  return true;
}

// Decimal with optional sign and leading zeros ("-001", "0042").
bool ParseDec(const std::string& s, long& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(s.c_str(), &end, 10);
  if (errno || *end) return false;
  out = v;
  return true;
}

template <size_t N>
void SetBits(std::bitset<N>& bits, size_t byteIndex, unsigned byte) {
  for (int b = 0; b < 8; ++b) {
    size_t bit = byteIndex * 8 + b;
    if ((byte >> b) & 1u) {
      if (bit < N) bits.set(bit);
    }
  }
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  std::string f;
  while (in >> f) {
    if (f[0] == '#') break;
    out.push_back(f);
  }
  return out;
}

}  // namespace

bool ParseEvemu(const std::string& text, DeviceDesc& out, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  out = DeviceDesc{};
  std::map<int, size_t> bytesSeen;  // per event type: bytes of its mask read so far
  bool haveName = false;
  bool haveBase = false;
  long baseSec = 0, baseUsec = 0;
  std::istringstream in(text);
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() < 2 || line[1] != ':') continue;
    const char tag = line[0];
    const std::string rest = line.substr(2);
    const std::string where = " (line " + std::to_string(lineNo) + ")";
    if (tag == 'N') {
      size_t b = rest.find_first_not_of(' ');
      out.name = b == std::string::npos ? "" : rest.substr(b);
      haveName = true;
      continue;
    }
    std::vector<std::string> f = Fields(rest);
    if (tag == 'I') {
      long v[4];
      if (f.size() < 4) return fail("short I: line" + where);
      for (int i = 0; i < 4; ++i)
        if (!ParseHex(f[i], v[i])) return fail("bad I: field" + where);
      out.id.bustype = static_cast<__u16>(v[0]);
      out.id.vendor = static_cast<__u16>(v[1]);
      out.id.product = static_cast<__u16>(v[2]);
      out.id.version = static_cast<__u16>(v[3]);
    } else if (tag == 'P') {
      for (size_t i = 0; i < f.size(); ++i) {
        long byte;
        if (!ParseHex(f[i], byte)) return fail("bad P: byte" + where);
        SetBits(out.props, bytesSeen[-1]++, static_cast<unsigned>(byte));
      }
    } else if (tag == 'B') {
      long type;
      if (f.empty() || !ParseHex(f[0], type)) return fail("bad B: type" + where);
      for (size_t i = 1; i < f.size(); ++i) {
        long byte;
        if (!ParseHex(f[i], byte)) return fail("bad B: byte" + where);
        size_t idx = bytesSeen[type]++;
        unsigned b = static_cast<unsigned>(byte);
        switch (type) {
          case EV_SYN: break;  // the SYN codes; every device has EV_SYN
          case EV_KEY: SetBits(out.key, idx, b); break;
          case EV_REL: SetBits(out.rel, idx, b); break;
          case EV_ABS: SetBits(out.abs, idx, b); break;
          case EV_MSC: SetBits(out.msc, idx, b); break;
          case EV_LED: SetBits(out.led, idx, b); break;
          case EV_SND: SetBits(out.snd, idx, b); break;
          case EV_SW: SetBits(out.sw, idx, b); break;
          case EV_FF: SetBits(out.ff, idx, b); break;
          case EV_REP:
            if (b) out.ev.set(EV_REP);
            break;
          default: break;
        }
      }
    } else if (tag == 'A') {
      long code, v[5] = {0, 0, 0, 0, 0};
      if (f.size() < 5 || !ParseHex(f[0], code) || code < 0 || code >= ABS_CNT)
        return fail("bad A: line" + where);
      for (size_t i = 1; i < f.size() && i <= 5; ++i)
        if (!ParseDec(f[i], v[i - 1])) return fail("bad A: value" + where);
      input_absinfo& a = out.absinfo[code];
      a.minimum = static_cast<__s32>(v[0]);
      a.maximum = static_cast<__s32>(v[1]);
      a.fuzz = static_cast<__s32>(v[2]);
      a.flat = static_cast<__s32>(v[3]);
      a.resolution = static_cast<__s32>(v[4]);
      a.value = a.minimum > 0 ? a.minimum : (a.maximum < 0 ? a.maximum : 0);
      out.abs.set(code);
    } else if (tag == 'L' || tag == 'S') {
      long code, value;
      if (f.size() < 2 || !ParseHex(f[0], code) || !ParseDec(f[1], value))
        return fail("bad L:/S: line" + where);
      if (tag == 'L' && code >= 0 && code < LED_CNT) out.ledState[code] = value != 0;
      if (tag == 'S' && code >= 0 && code < SW_CNT) out.swState[code] = value != 0;
    } else if (tag == 'E') {
      long type, code, value;
      if (f.size() < 4) return fail("short E: line" + where);
      const std::string& t = f[0];
      size_t dot = t.find('.');
      long sec, usec = 0;
      if (!ParseDec(t.substr(0, dot), sec)) return fail("bad E: time" + where);
      if (dot != std::string::npos) {
        std::string frac = t.substr(dot + 1);
        frac.resize(6, '0');
        if (!ParseDec(frac.substr(0, 6), usec)) return fail("bad E: time" + where);
      }
      if (!ParseHex(f[1], type) || !ParseHex(f[2], code) || !ParseDec(f[3], value))
        return fail("bad E: event" + where);
      if (!haveBase) {
        baseSec = sec;
        baseUsec = usec;
        haveBase = true;
      }
      long long rel = (static_cast<long long>(sec) - baseSec) * 1000000LL + (usec - baseUsec);
      if (rel < 0) rel = 0;
      input_event ev{};
      ev.input_event_sec = rel / 1000000;
      ev.input_event_usec = rel % 1000000;
      ev.type = static_cast<__u16>(type);
      ev.code = static_cast<__u16>(code);
      ev.value = static_cast<__s32>(value);
      out.events.push_back(ev);
    }
  }
  if (!haveName) return fail("no N: line");
  // Event types follow from the code masks, as evemu creates devices.
  out.ev.set(EV_SYN);
  if (out.key.any()) out.ev.set(EV_KEY);
  if (out.rel.any()) out.ev.set(EV_REL);
  if (out.abs.any()) out.ev.set(EV_ABS);
  if (out.msc.any()) out.ev.set(EV_MSC);
  if (out.led.any()) out.ev.set(EV_LED);
  if (out.snd.any()) out.ev.set(EV_SND);
  if (out.sw.any()) out.ev.set(EV_SW);
  if (out.ff.any()) out.ev.set(EV_FF);
  return true;
}

bool LoadEvemu(const std::string& path, DeviceDesc& out, std::string* error) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    if (error) *error = "cannot open " + path;
    return false;
  }
  std::stringstream ss;
  ss << f.rdbuf();
  return ParseEvemu(ss.str(), out, error);
}

std::vector<std::vector<input_event>> SplitFrames(const std::vector<input_event>& events) {
  std::vector<std::vector<input_event>> frames;
  std::vector<input_event> cur;
  for (const input_event& e : events) {
    cur.push_back(e);
    if (e.type == EV_SYN && e.code == SYN_REPORT) {
      frames.push_back(std::move(cur));
      cur.clear();
    }
  }
  if (!cur.empty()) frames.push_back(std::move(cur));
  return frames;
}

std::string FixturePath(const std::string& rel) {
  return std::string(PMR_SIM_FIXTURES_DIR) + "/" + rel;
}

input_event Ev(int type, int code, int value) {
  input_event e{};
  e.type = static_cast<__u16>(type);
  e.code = static_cast<__u16>(code);
  e.value = value;
  return e;
}

std::vector<input_event> KeyFrame(int code, int value, bool withScan) {
  std::vector<input_event> f;
  if (withScan) f.push_back(Ev(EV_MSC, MSC_SCAN, 0x70000 + code));
  f.push_back(Ev(EV_KEY, code, value));
  f.push_back(Ev(EV_SYN, SYN_REPORT, 0));
  return f;
}

std::vector<input_event> HiResWheel::Frame(int raw) {
  std::vector<input_event> f;
  if (raw != 0 && multiplier > 0) {
    int hiRes = raw * 120 / multiplier;
    accumulated += hiRes;
    int loRes = accumulated / 120;
    if (loRes) accumulated -= loRes * 120;
    if (loRes) f.push_back(Ev(EV_REL, REL_WHEEL, loRes));
    f.push_back(Ev(EV_REL, REL_WHEEL_HI_RES, hiRes));
  }
  f.push_back(Ev(EV_SYN, SYN_REPORT, 0));
  return f;
}

DeviceDesc BasicKeyboard(const std::string& name) {
  DeviceDesc d;
  d.name = name;
  d.id = {BUS_USB, 0x1234, 0x0001, 0x0111};
  d.ev.set(EV_SYN).set(EV_KEY).set(EV_MSC).set(EV_LED).set(EV_REP);
  for (int c = KEY_ESC; c <= KEY_MICMUTE; ++c) d.key.set(c);
  d.msc.set(MSC_SCAN);
  for (int l = LED_NUML; l <= LED_KANA; ++l) d.led.set(l);
  return d;
}

DeviceDesc BasicMouse(const std::string& name, bool hiRes) {
  DeviceDesc d;
  d.name = name;
  d.id = {BUS_USB, 0x1234, 0x0002, 0x0111};
  d.ev.set(EV_SYN).set(EV_KEY).set(EV_REL).set(EV_MSC);
  for (int c = BTN_LEFT; c <= BTN_TASK; ++c) d.key.set(c);
  d.rel.set(REL_X).set(REL_Y).set(REL_WHEEL).set(REL_HWHEEL);
  if (hiRes) d.rel.set(REL_WHEEL_HI_RES).set(REL_HWHEEL_HI_RES);
  d.msc.set(MSC_SCAN);
  return d;
}

}  // namespace pmrsim
