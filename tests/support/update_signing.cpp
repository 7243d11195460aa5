#include "tests/support/update_signing.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <stdexcept>

#include "update/update_core.h"

namespace pmrtest {

SigningKey NewSigningKey() {
  EVP_PKEY* k = EVP_EC_gen("P-256");
  if (!k) throw std::runtime_error("EVP_EC_gen failed");
  return SigningKey(k, EVP_PKEY_free);
}

SigningKey LoadSigningKey(const std::string& pemPath) {
  FILE* f = std::fopen(pemPath.c_str(), "r");
  if (!f) throw std::runtime_error("cannot open " + pemPath);
  EVP_PKEY* k = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
  std::fclose(f);
  if (!k) throw std::runtime_error("cannot read key " + pemPath);
  return SigningKey(k, EVP_PKEY_free);
}

SigningKey TestReleaseSigningKey() {
  return LoadSigningKey(std::string(PMR_FIXTURES_DIR) + "/update/TEST-ONLY-signing-key.pem");
}

std::string PublicBlob(const SigningKey& key) {
  unsigned char point[65];
  size_t len = 0;
  if (EVP_PKEY_get_octet_string_param(key.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &len) != 1 ||
      len != 65)
    throw std::runtime_error("no public point");
  std::string blob("ECS1\x20\0\0\0", 8);
  blob.append(reinterpret_cast<char*>(point + 1), 64);
  return blob;
}

std::string Hex(const std::string& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

std::string SignHex(const SigningKey& key, const std::string& message) {
  EVP_MD_CTX* md = EVP_MD_CTX_new();
  size_t len = 0;
  std::string der;
  if (EVP_DigestSignInit(md, nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
      EVP_DigestSign(md, nullptr, &len, reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1) {
    der.resize(len);
    if (EVP_DigestSign(md, reinterpret_cast<unsigned char*>(der.data()), &len,
                       reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1)
      der.resize(len);
    else
      der.clear();
  }
  EVP_MD_CTX_free(md);
  if (der.empty()) throw std::runtime_error("signing failed");
  const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
  ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size()));
  unsigned char rs[64];
  BN_bn2binpad(ECDSA_SIG_get0_r(sig), rs, 32);
  BN_bn2binpad(ECDSA_SIG_get0_s(sig), rs + 32, 32);
  ECDSA_SIG_free(sig);
  return Hex(std::string(reinterpret_cast<char*>(rs), 64));
}

std::string SignedManifest(const SigningKey& key, const std::string& tier, const std::string& version,
                           const std::string& url, const std::string& sha256) {
  std::string sig = SignHex(key, UpdateCore::BuildManifestPayload(tier, version, sha256, url));
  return "{\"tier\":\"" + tier + "\",\"version\":\"" + version + "\",\"url\":\"" + url + "\",\"sha256\":\"" +
         sha256 + "\",\"sig\":\"" + sig + "\"}";
}

std::string Sha256Hex(const std::string& bytes) {
  unsigned char d[32];
  unsigned int len = 0;
  EVP_Digest(bytes.data(), bytes.size(), d, &len, EVP_sha256(), nullptr);
  return Hex(std::string(reinterpret_cast<char*>(d), 32));
}

}  // namespace pmrtest
