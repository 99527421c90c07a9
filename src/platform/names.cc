// Names: the string handles of the DDE calls (atoms: equal names without regard to
// case give the same handle in every instance of the process), service and
// instance-specific names. See platform/windows.h.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "platform/frames.h"
#include "platform/internal.h"

namespace qlm::platform {

namespace {
struct Atom {
  std::string name;  // as first created
  int refs = 0;
};
// The layer's state is never destroyed, so that the library may still use it while
// the process ends (its unload path runs after the static destructors).
std::map<std::string, Atom *> &g_atoms = *new std::map<std::string, Atom *>;  // by upper-case name
constexpr std::size_t kMaxAtom = 255;
}  // namespace

std::string Upper(const char *s) {
  std::string r(s != nullptr ? s : "");
  for (char &c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

HSZ AcquireAtom(const std::string &name) {
  Atom *&a = g_atoms[Upper(name.c_str())];
  if (a == nullptr) a = new Atom{name, 0};
  ++a->refs;
  return reinterpret_cast<HSZ>(a);
}

void ReleaseAtom(HSZ h) {
  Atom *a = reinterpret_cast<Atom *>(h);
  if (a == nullptr || --a->refs > 0) return;
  g_atoms.erase(Upper(a->name.c_str()));
  delete a;
}

const std::string *AtomName(HSZ h) {
  Atom *a = reinterpret_cast<Atom *>(h);
  return a != nullptr ? &a->name : nullptr;
}

bool PlainName(const std::string &n) {
  return !n.empty() && n.size() <= kMaxName && n.find_first_of("./") == std::string::npos;
}

bool ParseInstanceName(const std::string &s, std::string *service, DWORD *pid, DWORD *inst) {
  const std::size_t d1 = s.find('.');
  if (d1 == std::string::npos) return false;
  const std::size_t d2 = s.find('.', d1 + 1);
  if (d2 == std::string::npos) return false;
  auto number = [](const std::string &t, DWORD *out) {
    if (t.empty() || t.size() > 10 || t.find_first_not_of("0123456789") != std::string::npos) return false;
    const unsigned long long v = std::stoull(t);
    if (v == 0 || v > 0xFFFFFFFFull) return false;
    *out = static_cast<DWORD>(v);
    return true;
  };
  *service = s.substr(0, d1);
  return PlainName(*service) && number(s.substr(d1 + 1, d2 - d1 - 1), pid) && number(s.substr(d2 + 1), inst);
}

}  // namespace qlm::platform

using namespace qlm::platform;

HSZ DdeCreateStringHandleA(DWORD, LPCSTR psz, int) {
  if (psz == nullptr || std::strlen(psz) > kMaxAtom) return nullptr;
  return AcquireAtom(psz);
}

BOOL DdeFreeStringHandle(DWORD, HSZ hsz) {
  if (hsz == nullptr) return FALSE;
  ReleaseAtom(hsz);
  return TRUE;
}

int DdeCmpStringHandles(HSZ hsz1, HSZ hsz2) {
  if (hsz1 == hsz2) return 0;
  if (hsz1 == nullptr) return -1;
  if (hsz2 == nullptr) return 1;
  const int r = Upper(AtomName(hsz1)->c_str()).compare(Upper(AtomName(hsz2)->c_str()));
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

DWORD DdeQueryStringA(DWORD, HSZ hsz, LPSTR psz, DWORD cchMax, int) {
  const std::string *name = AtomName(hsz);
  if (name == nullptr) return 0;
  if (psz != nullptr && cchMax > 0) {
    const std::size_t n = std::min<std::size_t>(name->size(), cchMax - 1);
    std::memcpy(psz, name->data(), n);
    psz[n] = '\0';
  }
  return static_cast<DWORD>(name->size());
}

namespace qlm {

bool InstanceServiceName(char *out, std::size_t size, const char *service, DWORD pid, DWORD instance) {
  const int n = std::snprintf(out, size, "%s.%u.%u", platform::Upper(service).c_str(), static_cast<unsigned>(pid),
                              static_cast<unsigned>(instance));
  return n > 0 && static_cast<std::size_t>(n) < size;
}

}  // namespace qlm
