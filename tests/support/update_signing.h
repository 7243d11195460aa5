#pragma once
// Test-side signing of update manifests: P-256 keys made at test time or read
// from a PEM file, their 72-byte public blobs, r||s signatures in hex.
#include <memory>
#include <string>

struct evp_pkey_st;

namespace pmrtest {

using SigningKey = std::shared_ptr<evp_pkey_st>;

SigningKey NewSigningKey();
SigningKey LoadSigningKey(const std::string& pemPath);
// The TEST-ONLY key whose public half test builds accept.
SigningKey TestReleaseSigningKey();

// "ECS1", 32, X, Y as 72 bytes.
std::string PublicBlob(const SigningKey& key);
std::string Hex(const std::string& bytes);
// r||s as 128 lower-case hex digits.
std::string SignHex(const SigningKey& key, const std::string& message);

// A whole manifest, signed over its payload with `key`.
std::string SignedManifest(const SigningKey& key, const std::string& tier, const std::string& version,
                           const std::string& url, const std::string& sha256);

std::string Sha256Hex(const std::string& bytes);

}  // namespace pmrtest
