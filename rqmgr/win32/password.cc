// Passwords on Windows, where there is no crypt(3): PBKDF2 with SHA-256 of the
// system's CNG (bcrypt.dll), stored as "$pbkdf2-sha256$<rounds>$<salt>$<hash>" (salt
// and hash in hexadecimal). A hash made by crypt on Linux is not understood here and
// checks as wrong.
#include "password.h"

#include <windows.h>  // first: <bcrypt.h> needs its types

#include <bcrypt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qlm::rqmgr {

namespace {

constexpr const char kPrefix[] = "$pbkdf2-sha256$";
constexpr unsigned long kRounds = 200000;
constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kHashBytes = 32;

std::string hex(const unsigned char *p, std::size_t n) {
  std::string s;
  char two[3];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(two, sizeof two, "%02x", p[i]);
    s += two;
  }
  return s;
}

// The stored form for a password, salt and number of rounds; empty on failure.
std::string derive(std::string_view password, const std::string &salt, unsigned long rounds) {
  BCRYPT_ALG_HANDLE alg = nullptr;
  if (BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG) != 0) return {};
  unsigned char out[kHashBytes];
  const NTSTATUS st = BCryptDeriveKeyPBKDF2(alg, reinterpret_cast<PUCHAR>(const_cast<char *>(password.data())),
                                            static_cast<ULONG>(password.size()),
                                            reinterpret_cast<PUCHAR>(const_cast<char *>(salt.data())),
                                            static_cast<ULONG>(salt.size()), rounds, out, sizeof out, 0);
  BCryptCloseAlgorithmProvider(alg, 0);
  if (st != 0) return {};
  return kPrefix + std::to_string(rounds) + "$" + salt + "$" + hex(out, sizeof out);
}

}  // namespace

std::string hashPassword(std::string_view password) {
  unsigned char raw[kSaltBytes];
  if (BCryptGenRandom(nullptr, raw, sizeof raw, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) return {};
  return derive(password, hex(raw, sizeof raw), kRounds);
}

bool checkPassword(std::string_view password, const std::string &hash) {
  if (hash.compare(0, sizeof kPrefix - 1, kPrefix) != 0) return false;
  const char *at = hash.c_str() + sizeof kPrefix - 1;
  char *end = nullptr;
  const unsigned long rounds = std::strtoul(at, &end, 10);
  if (end == at || *end != '$' || rounds == 0 || rounds > 10 * kRounds) return false;
  const char *saltEnd = std::strchr(end + 1, '$');
  if (saltEnd == nullptr) return false;
  const std::string again = derive(password, std::string(static_cast<const char *>(end + 1), saltEnd), rounds);
  if (again.empty() || again.size() != hash.size()) return false;
  unsigned char differ = 0;  // every byte compared: the time tells nothing
  for (std::size_t i = 0; i < hash.size(); ++i) differ |= static_cast<unsigned char>(again[i] ^ hash[i]);
  return differ == 0;
}

}  // namespace qlm::rqmgr
