// Fuzz target: the transport's frame parser, both ends. The input is a mode byte and
// frames (each a 16-bit length and its bytes). Server side: a raw socket connects to
// an endpoint of a DDE instance of this process and sends the frames; a CONNECT that
// the mode allows gets this process's pid put in, so that the conversation opens and
// POKE and EXECUTE frames reach the callback. Client side: a conversation opened
// without waiting to a raw endpoint, with asynchronous transactions in flight, gets
// the frames as its partner's (CONNECT_REPLY, ACKs, anything). The messages are
// dispatched after each frame; the instance must survive whatever comes.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/windows.h"

namespace {

DWORD g_inst = 0;
std::string g_dir, g_server, g_rawName;
HSZ g_topic = nullptr, g_rawService = nullptr;

HDDEDATA Callback(UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA data, ULONG_PTR, ULONG_PTR) {
  if (type == XTYP_CONNECT) return reinterpret_cast<HDDEDATA>(std::uintptr_t{1});
  if (type == XTYP_POKE || type == XTYP_EXECUTE) {
    std::vector<BYTE> b(DdeGetData(data, nullptr, 0, 0));
    DdeGetData(data, b.data(), static_cast<DWORD>(b.size()), 0);
    return reinterpret_cast<HDDEDATA>(static_cast<std::uintptr_t>(b.empty() || b[0] != 0x42 ? DDE_FACK : DDE_FBUSY));
  }
  return nullptr;
}

void Pump() {
  MSG m;
  for (int i = 0; i < 256 && PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE); ++i) {
    if (m.message == WM_TIMER) PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE);
    DispatchMessageA(&m);
  }
}

int Connected(const std::string &path) {
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) std::abort();
  return fd;
}

// The frames of the input, each sent on `fd` with the messages dispatched after it.
void Feed(int fd, const std::uint8_t *p, std::size_t n, bool patchConnect) {
  while (n >= 2) {
    std::size_t len = (p[0] | (p[1] << 8)) % 512;
    p += 2;
    n -= 2;
    if (len > n) len = n;
    std::vector<std::uint8_t> f(p, p + len);
    p += len;
    n -= len;
    if (patchConnect && f.size() >= 32 && f[0] == 1) {
      const std::uint32_t pid = static_cast<std::uint32_t>(::getpid());
      for (int i = 0; i < 4; ++i) f[24 + i] = static_cast<std::uint8_t>(pid >> (8 * i));
    }
    (void)!::send(fd, f.data(), f.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    Pump();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  char tmpl[] = "/tmp/qlmfrXXXXXX";
  if (::mkdtemp(tmpl) == nullptr) std::abort();
  g_dir = tmpl;
  ::setenv("QLM_RUNDIR", g_dir.c_str(), 1);
  if (DdeInitializeA(&g_inst, Callback, APPCLASS_STANDARD, 0) != DMLERR_NO_ERROR) std::abort();
  if (DdeNameService(g_inst, DdeCreateStringHandleA(g_inst, "FUZZSRV", CP_WINANSI), nullptr, DNS_REGISTER) == nullptr)
    std::abort();
  char name[64];
  qlm::InstanceServiceName(name, sizeof name, "FUZZSRV", static_cast<DWORD>(::getpid()), g_inst);
  g_server = g_dir + "/" + name;
  qlm::InstanceServiceName(name, sizeof name, "RAWF", static_cast<DWORD>(::getpid()), 77);
  g_rawName = name;
  g_rawService = DdeCreateStringHandleA(g_inst, name, CP_WINANSI);
  g_topic = DdeCreateStringHandleA(g_inst, "TOPIC", CP_WINANSI);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t mode = data[0];
  if ((mode & 1) == 0) {  // the server side reads the frames
    const int fd = Connected(g_server);
    Feed(fd, data + 1, size - 1, (mode & 2) != 0);
    ::close(fd);
    Pump();
    return 0;
  }
  // The client side: a raw endpoint takes the CONNECT, then answers with the frames.
  const std::string path = g_dir + "/" + g_rawName;
  const int l = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  ::unlink(path.c_str());
  if (::bind(l, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(l, 4) != 0) std::abort();
  HCONV conv = qlm::ConnectNoWait(g_inst, g_rawService, g_topic);
  const int fd = conv != nullptr ? ::accept4(l, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK) : -1;
  if (fd >= 0) {
    std::uint8_t connect[64];
    (void)!::recv(fd, connect, sizeof connect, 0);
    BYTE poke[] = {'x', 'y'};
    for (int i = 0; i < (mode >> 1) % 12; ++i)
      DdeClientTransaction(poke, sizeof poke, conv, g_topic, CF_TEXT, XTYP_POKE, TIMEOUT_ASYNC, nullptr);
    Feed(fd, data + 1, size - 1, false);
    ::close(fd);
    Pump();
  }
  DdeDisconnect(conv);  // FALSE when the layer ended it already
  ::close(l);
  ::unlink(path.c_str());
  return 0;
}
