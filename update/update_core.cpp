// Update rules: manifest fields, shapes, version order, hosts and the order in
// which a manifest is judged.
#include "update/update_core.h"

namespace UpdateCore {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string ToLowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool IsLowerHexSha256(const std::string& s) {
  if (s.size() != 64) return false;
  for (char c : s)
    if (!IsDigit(c) && !(c >= 'a' && c <= 'f')) return false;
  return true;
}

bool HasUrlShape(const std::string& s) {
  for (char c : s) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 33 || u > 126 || c == '|') return false;
  }
  return true;
}

int CompareInt(int64_t a, int64_t b) { return a < b ? -1 : (a > b ? 1 : 0); }

}  // namespace

bool ParseVersionGroup(const std::string& text, size_t begin, size_t end, int64_t& value) {
  if (begin >= end || end > text.size() || end - begin > 5) return false;
  int64_t v = 0;
  for (size_t i = begin; i < end; ++i) {
    if (!IsDigit(text[i])) return false;
    v = v * 10 + (text[i] - '0');
  }
  value = v;
  return true;
}

Version ParseVersionWithTag(const std::string& text) {
  Version out;
  size_t dot1 = text.find('.');
  if (dot1 == std::string::npos) return out;
  size_t dot2 = text.find('.', dot1 + 1);
  if (dot2 == std::string::npos) return out;
  size_t patchEnd = dot2 + 1;
  while (patchEnd < text.size() && IsDigit(text[patchEnd])) ++patchEnd;
  Version v;
  if (!ParseVersionGroup(text, 0, dot1, v.major) || !ParseVersionGroup(text, dot1 + 1, dot2, v.minor) ||
      !ParseVersionGroup(text, dot2 + 1, patchEnd, v.patch))
    return out;
  if (patchEnd != text.size()) {
    static const std::string kBeta = "-beta.";
    if (text.compare(patchEnd, kBeta.size(), kBeta) != 0) return out;
    if (!ParseVersionGroup(text, patchEnd + kBeta.size(), text.size(), v.beta)) return out;
    v.hasBeta = true;
  }
  v.valid = true;
  return v;
}

bool IsVersionGreater(const std::string& a, const std::string& b) {
  Version va = ParseVersionWithTag(a);
  Version vb = ParseVersionWithTag(b);
  if (!va.valid || !vb.valid) return false;
  if (int c = CompareInt(va.major, vb.major)) return c > 0;
  if (int c = CompareInt(va.minor, vb.minor)) return c > 0;
  if (int c = CompareInt(va.patch, vb.patch)) return c > 0;
  if (!va.hasBeta && !vb.hasBeta) return false;
  if (!va.hasBeta) return true;   // release above a beta of the same numbers
  if (!vb.hasBeta) return false;
  return va.beta > vb.beta;
}

bool IsValidTierShape(const std::string& text) {
  static const char* const kPlain[] = {"free", "pro", "beta", "mac-free", "mac-pro", "mac-beta"};
  for (const char* t : kPlain)
    if (text == t) return true;
  static const std::string kLinux = "linux-";
  if (text.compare(0, kLinux.size(), kLinux) != 0) return false;
  std::string rest = text.substr(kLinux.size());
  size_t dash = rest.find('-');
  if (dash == std::string::npos) return false;
  std::string edition = rest.substr(0, dash);
  std::string package = rest.substr(dash + 1);
  bool editionOk = edition == "free" || edition == "pro" || edition == "beta";
  bool packageOk = package == "appimage" || package == "deb" || package == "rpm";
  return editionOk && packageOk;
}

bool IsAllowedInstallerHost(const std::string& url) {
  static const std::string kScheme = "https://";
  if (url.compare(0, kScheme.size(), kScheme) != 0) return false;
  size_t end = url.find_first_of("/?#", kScheme.size());
  std::string host = ToLowerAscii(url.substr(kScheme.size(), end == std::string::npos ? std::string::npos
                                                                                         : end - kScheme.size()));
  if (host == kProductWebHost || host == kProductApiHost || host == kProductDownloadHost) return true;
  // Pre-release builds also take links from the tester site.
  return std::string(kBuildEdition) == "beta" && host == kProductTesterHost;
}

namespace {

// Position just after the colon that follows the first quoted `key`, or npos.
size_t FindValueStart(const std::string& json, const std::string& key) {
  size_t at = json.find("\"" + key + "\"");
  if (at == std::string::npos) return std::string::npos;
  size_t colon = json.find(':', at + key.size() + 2);
  if (colon == std::string::npos) return std::string::npos;
  return colon + 1;
}

}  // namespace

std::string ExtractJsonStringField(const std::string& json, const std::string& key) {
  size_t start = FindValueStart(json, key);
  if (start == std::string::npos) return std::string();
  size_t quote = json.find('"', start);
  if (quote == std::string::npos) return std::string();
  std::string out;
  for (size_t i = quote + 1; i < json.size(); ++i) {
    char c = json[i];
    if (c == '"') break;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++i >= json.size()) break;
    switch (json[i]) {
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      default: out += json[i]; break;  // \" \\ \/ and any other character as itself
    }
  }
  return out;
}

bool ExtractJsonBoolField(const std::string& json, const std::string& key, bool defaultValue) {
  size_t i = FindValueStart(json, key);
  if (i == std::string::npos) return defaultValue;
  while (i < json.size() && json[i] == ' ') ++i;
  if (json.compare(i, 4, "true") == 0) return true;
  if (json.compare(i, 5, "false") == 0) return false;
  return defaultValue;
}

std::string BuildManifestPayload(const std::string& tier, const std::string& version,
                                 const std::string& sha256, const std::string& url) {
  return "PMR-UPDATE-1|" + tier + "|" + version + "|" + sha256 + "|" + url;
}

bool EvaluateManifest(const VerifyFn& verify, const std::string& manifest,
                      const std::string& expectedTier, const std::string& currentVersion,
                      UpdateManifestInfo& info) {
  UpdateManifestInfo m;
  m.tier = ExtractJsonStringField(manifest, "tier");
  m.version = ExtractJsonStringField(manifest, "version");
  m.url = ExtractJsonStringField(manifest, "url");
  m.sha256 = ExtractJsonStringField(manifest, "sha256");
  m.sig = ExtractJsonStringField(manifest, "sig");
  if (m.tier.empty() || m.version.empty() || m.url.empty() || m.sha256.empty() || m.sig.empty())
    return false;
  if (!IsValidTierShape(m.tier)) return false;
  if (!ParseVersionWithTag(m.version).valid) return false;
  if (!IsLowerHexSha256(m.sha256)) return false;
  if (!HasUrlShape(m.url)) return false;
  // The signature is checked before anything is compared with this build, so
  // a forged manifest is refused whatever it offers.
  if (!verify || !verify(BuildManifestPayload(m.tier, m.version, m.sha256, m.url), m.sig)) return false;
  if (m.tier != expectedTier) return false;
  if (!IsVersionGreater(m.version, currentVersion)) return false;
  if (!IsAllowedInstallerHost(m.url)) return false;
  info = m;
  return true;
}

}  // namespace UpdateCore
