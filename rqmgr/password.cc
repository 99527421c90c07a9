#include "password.h"

#include <crypt.h>

#include <cstddef>

namespace qlm::rqmgr {

namespace {
// crypt_rn with the setting (a salt, or a stored hash whose salt it reuses).
std::string crypt(std::string_view password, const char *setting) {
  crypt_data data{};
  const std::string phrase(password);
  const char *out = crypt_rn(phrase.c_str(), setting, &data, sizeof data);
  // A failed crypt returns null or a string starting with '*'.
  return out == nullptr || out[0] == '*' ? std::string() : std::string(out);
}
}  // namespace

std::string hashPassword(std::string_view password) {
  char salt[CRYPT_GENSALT_OUTPUT_SIZE];
  if (crypt_gensalt_rn("$y$", 0, nullptr, 0, salt, sizeof salt) == nullptr) return {};
  return crypt(password, salt);
}

bool checkPassword(std::string_view password, const std::string &hash) {
  const std::string again = crypt(password, hash.c_str());
  if (again.empty() || again.size() != hash.size()) return false;
  unsigned char differ = 0;  // every byte compared: the time tells nothing
  for (std::size_t i = 0; i < hash.size(); ++i) differ |= static_cast<unsigned char>(again[i] ^ hash[i]);
  return differ == 0;
}

}  // namespace qlm::rqmgr
