// Fuzz target for the update manifest rules: the field scanners, the version
// and tier shapes, the host list and the whole judgement, with a verifier that
// accepts every signature so the checks after it are reached too.
//
// Built for libFuzzer (clang -fsanitize=fuzzer) it is a plain target; built
// with PMR_FUZZ_STANDALONE_MAIN it runs the given files, or a fixed number of
// deterministic mutations of built-in seeds, and aborts on a broken rule.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/os_update.h"
#include "update/update_core.h"

namespace {

void Require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "rule broken: %s\n", what);
    std::abort();
  }
}

bool IsLowerHex64(const std::string& s) {
  if (s.size() != 64) return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  for (const char* key : {"tier", "version", "url", "sha256", "sig", "line", "expect"}) {
    UpdateCore::ExtractJsonStringField(text, key);
    UpdateCore::ExtractJsonBoolField(text, key, true);
  }
  UpdateCore::ParseVersionWithTag(text);
  UpdateCore::IsValidTierShape(text);
  UpdateCore::IsAllowedInstallerHost(text);
  LinuxHexDecode(text);

  for (const char* tier : {"linux-free-appimage", "linux-free-deb"}) {
    UpdateManifestInfo info;
    std::string signedText;
    bool accepted = UpdateCore::EvaluateManifest(
        [&signedText](const std::string& t, const std::string&) {
          signedText = t;
          return true;
        },
        text, tier, kCurrentVersion, info);
    if (!accepted) continue;
    Require(info.tier == tier, "tier is the expected one");
    Require(UpdateCore::IsVersionGreater(info.version, kCurrentVersion), "version is newer");
    Require(IsLowerHex64(info.sha256), "sha256 shape");
    Require(UpdateCore::IsAllowedInstallerHost(info.url), "host allowed");
    Require(info.url.find('|') == std::string::npos, "no bar in url");
    Require(signedText == UpdateCore::BuildManifestPayload(info.tier, info.version, info.sha256, info.url),
            "signed text matches");
  }
  return 0;
}

#ifdef PMR_FUZZ_STANDALONE_MAIN
int main(int argc, char** argv) {
  auto run = [](const std::string& s) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  };
  if (argc > 1) {
    for (int i = 1; i < argc; ++i) {
      std::ifstream in(argv[i], std::ios::binary);
      run(std::string(std::istreambuf_iterator<char>(in), {}));
    }
    return 0;
  }
  const std::string sha(64, 'a');
  std::vector<std::string> seeds = {
      "{\"tier\":\"linux-free-appimage\",\"version\":\"1.1.0\",\"url\":\"https://dl.pellomar.app/p\","
      "\"sha256\":\"" + sha + "\",\"sig\":\"" + std::string(128, '0') + "\"}",
      "{\"sig\":\"ab\",\"url\":\"https://PELLOMAR.app@x/\",\"tier\":\"linux-free-deb\",\"version\":\"1.0.3-beta.1\","
      "\"sha256\":\"" + sha + "\"}",
      "{\"tier\":\"linux-free-deb\\\"\",\"version\":\"99999.99999.99999\",\"url\":\"https://api.pellomar.app:1/\\u\"",
      "\"url\":\"https://dl.pellomar.app\\/x\\\\y\" \"tier\" : \"",
  };
  const char alphabet[] = "{}\":,\\/.-|0123456789abcdefABCDEF htpsuri:@?#\n\t";
  std::mt19937 rng(1234);
  long iterations = std::getenv("PMR_FUZZ_ITERATIONS") ? std::atol(std::getenv("PMR_FUZZ_ITERATIONS")) : 200000;
  for (long n = 0; n < iterations; ++n) {
    std::string s = seeds[rng() % seeds.size()];
    int edits = 1 + static_cast<int>(rng() % 6);
    for (int e = 0; e < edits && !s.empty(); ++e) {
      size_t at = rng() % (s.size() + 1);
      switch (rng() % 4) {
        case 0: s.insert(at, 1, alphabet[rng() % (sizeof alphabet - 1)]); break;
        case 1: if (at < s.size()) s.erase(at, 1 + rng() % 8); break;
        case 2: if (at < s.size()) s[at] = static_cast<char>(rng()); break;
        case 3: s.insert(at, seeds[rng() % seeds.size()].substr(0, rng() % 40)); break;
      }
    }
    run(s);
  }
  std::printf("update_manifest_fuzz: %ld inputs, no rule broken\n", iterations);
  return 0;
}
#endif
