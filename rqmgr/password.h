// Passwords of network logons: stored only as salted hashes (yescrypt, through
// the system's crypt library; on Windows PBKDF2, rqmgr/win32/password.cc), never
// as sent.
#pragma once
#include <string>
#include <string_view>

namespace qlm::rqmgr {

// A new salted hash of `password`; empty when the system cannot make one.
std::string hashPassword(std::string_view password);
// Whether `password` is the one `hash` was made from.
bool checkPassword(std::string_view password, const std::string &hash);

}  // namespace qlm::rqmgr
