// Fuzz target: the Request Manager's request decoder and dispatch. Every input is one
// request as a client would poke it (the RMIL bytes after the ICC header), handled by
// one Service over one database of this process's memory (made afresh every 20000
// inputs, so that it stays small). Every request but the shutdown gets an answer,
// and each answer message must fit a client's buffer and carry a well-formed RMIL
// header.
//
// Requests name files that the network reads and writes, relative to a private
// directory made for the run, or absolute: tools/fuzz.sh runs this target as an
// unprivileged user when it is started as root.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "errortext.h"
#include "request.h"
#include "service.h"
#include "store.h"

namespace {

using namespace qlm::rqmgr;

struct World {
  NetworkConfig network;
  std::unique_ptr<Store> store;
  ErrorTexts texts;
  std::unique_ptr<Service> service;
  long inputs = 0;
};
World *g_world = nullptr;

void Fresh() {
  World &w = *g_world;
  w.service.reset();
  w.store.reset();
  w.store = std::make_unique<Store>(":memory:");
  w.service = std::make_unique<Service>(*w.store, w.texts, "errortxt.fil", [](const std::string &) {}, w.network);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  g_world = new World;
  char dir[] = "/tmp/qlmfuzzXXXXXX";
  if (::mkdtemp(dir) == nullptr) std::abort();
  g_world->network.exchangeDir = std::string(dir) + "/exchange";
  g_world->network.messagesDir = std::string(dir) + "/messages";
  ::mkdir(g_world->network.exchangeDir.c_str(), 0700);
  ::mkdir(g_world->network.messagesDir.c_str(), 0700);
  g_world->network.maxMessageBytes = 64 * 1024;  // transfers stay cheap
  Fresh();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  World &w = *g_world;
  if (++w.inputs % 20000 == 0) Fresh();  // keeps the database small, so each input stays cheap
  Request r;
  (void)decodeRequest(data, size, &r);
  // Three clients, so that contexts opened by one are seen (and refused) by another.
  const int client = 1 + static_cast<int>(size % 3);
  const Answer a = w.service->handle(client, data, size);
  if (a.shutdown != a.messages.empty()) std::abort();  // an answer to every request but the shutdown
  for (const Bytes &m : a.messages) {
    if (m.size() < static_cast<std::size_t>(qlm::wire::kHeaderSize) || m.size() > qlm::wire::kBufSize) std::abort();
    if (qlm::wire::getI16(m.data() + 2) != static_cast<std::int16_t>(m.size())) std::abort();  // rmilLen
  }
  return 0;
}
