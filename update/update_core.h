#pragma once
// The update rules that need no network, disk or crypto library: manifest
// fields, version and tier shapes, version order, the download host list,
// the signed text, and the order in which a manifest is judged.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/os_update.h"  // UpdateManifestInfo

// Build identity.
constexpr const char* kCurrentVersion = "1.0.2";
constexpr const char* kBuildEdition = "free";
constexpr const char* kUpdateUserAgent = "Pellomar/1.0";

// The product's hosts. Download links are accepted only from the first three;
// the tester site serves pre-release builds and is never a source for release
// editions.
constexpr const char* kProductWebHost = "pellomar.app";
constexpr const char* kProductApiHost = "api.pellomar.app";
constexpr const char* kProductDownloadHost = "dl.pellomar.app";
constexpr const char* kProductTesterHost = "testers.pellomar.app";

// Largest manifest accepted, in bytes.
constexpr size_t kMaxManifestBytes = 16384;

namespace UpdateCore {

struct Version {
  int64_t major = 0;
  int64_t minor = 0;
  int64_t patch = 0;
  bool hasBeta = false;
  int64_t beta = 0;
  bool valid = false;
};

// Digits text[begin, end): 1 to 5 decimal digits, read in decimal.
bool ParseVersionGroup(const std::string& text, size_t begin, size_t end, int64_t& value);
// "M.m.p" or "M.m.p-beta.N"; anything else gives valid == false.
Version ParseVersionWithTag(const std::string& text);
// False unless both parse; a release is above the betas of its numbers.
bool IsVersionGreater(const std::string& a, const std::string& b);
bool IsValidTierShape(const std::string& text);
// "https://" + exactly one of the product's hosts (compared lower-cased).
bool IsAllowedInstallerHost(const std::string& url);

// Field scanners for flat JSON texts (not a JSON parser).
std::string ExtractJsonStringField(const std::string& json, const std::string& key);
bool ExtractJsonBoolField(const std::string& json, const std::string& key, bool defaultValue);

// The text the release key signs.
std::string BuildManifestPayload(const std::string& tier, const std::string& version,
                                 const std::string& sha256, const std::string& url);

using VerifyFn = std::function<bool(const std::string& signedText, const std::string& sigHex)>;

// True when the manifest is well formed, its signature verifies, it is for
// the expected tier, offers a version above the current one and links to an
// allowed host; only then is `info` filled.
bool EvaluateManifest(const VerifyFn& verify, const std::string& manifest,
                      const std::string& expectedTier, const std::string& currentVersion,
                      UpdateManifestInfo& info);

}  // namespace UpdateCore
