// Writes the seed corpora of the fuzz targets into <dir>/request, <dir>/reader and
// <dir>/frame: the library makes every call of the reader target against a real
// Service (over a database in a temporary directory); each request it sends is a
// request seed, and the answers of each call, in the reader target's input format,
// are a reader seed. Frame seeds are a few well-formed conversations.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "errortext.h"
#include "interface/exchange.h"
#include "interface/state.h"
#include "platform/frames.h"
#include "platform/windows.h"
#include "reader_calls.h"
#include "interface/buffer.h"
#include "rmil/message.h"
#include "service.h"
#include "store.h"

namespace {

using namespace qlm;
using Bytes = std::vector<std::uint8_t>;

std::string g_out;
rqmgr::Service *g_service = nullptr;
std::deque<Bytes> g_answers;
Bytes g_seed;  // the reader seed of the call under way
int g_files = 0;

void Write(const std::string &sub, const Bytes &b) {
  std::ofstream(g_out + "/" + sub + "/seed" + std::to_string(++g_files), std::ios::binary)
      .write(reinterpret_cast<const char *>(b.data()), static_cast<std::streamsize>(b.size()));
}

int Send(const void *data, int length) {
  const auto *p = static_cast<const std::uint8_t *>(data);
  Write("request", Bytes(p, p + length));
  for (Bytes &m : g_service->handle(1, p, static_cast<std::size_t>(length)).messages) g_answers.push_back(std::move(m));
  return 0;
}

// The answer as the reader target takes it: flags (the continuation mark), length,
// and the items after the header segment.
void Record(const Bytes &m) {
  rmil::Message msg = rmil::Message::reading(m.data(), static_cast<int>(m.size()));
  for (rmil::Item i; msg.next(&i) == rmil::Read::Item;) {
  }
  const Bytes body(m.begin() + std::min<long>(msg.cursor().read, static_cast<long>(m.size())), m.end());
  g_seed.push_back(msg.moreData() ? 32 : 0);
  g_seed.push_back(static_cast<std::uint8_t>(body.size()));
  g_seed.push_back(static_cast<std::uint8_t>(body.size() >> 8));
  g_seed.insert(g_seed.end(), body.begin(), body.end());
}

int Receive(void *buffer, int *length) {
  if (g_answers.empty()) return -21;
  const Bytes m = std::move(g_answers.front());
  g_answers.pop_front();
  Record(m);
  const int n = static_cast<int>(m.size()) < *length ? static_cast<int>(m.size()) : *length;
  std::memcpy(buffer, m.data(), static_cast<std::size_t>(n));
  *length = n;
  return 0;
}
int Active() { return 0; }
constexpr Link kLink{Send, Receive, Active};

// A frame of the frame target's input: a 16-bit length, then the frame.
void AddFrame(Bytes &seed, const Bytes &f) {
  seed.push_back(static_cast<std::uint8_t>(f.size()));
  seed.push_back(static_cast<std::uint8_t>(f.size() >> 8));
  seed.insert(seed.end(), f.begin(), f.end());
}

void FrameSeeds() {
  using namespace platform;
  const Bytes hello{'h', 'e', 'l', 'l', 'o'}, go{'[', 'g', 'o', ']'};
  const Bytes connect = ConnectFrame{"FUZZSRV", "TOPIC", 0, 1}.encode();  // the pid: put in by the target
  const Bytes poke = PokeFrame{CF_TEXT, "TOPIC", hello}.encode();
  const Bytes execute = ExecuteFrame{go}.encode();
  const Bytes reply = ConnectReplyFrame{true}.encode(), ack = AckFrame{DDE_FACK}.encode();
  Bytes server{2}, client{7};
  for (const Bytes *f : {&connect, &poke, &execute, &poke}) AddFrame(server, *f);
  for (const Bytes *f : {&reply, &ack, &ack, &ack}) AddFrame(client, *f);
  Write("frame", server);
  Write("frame", client);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  g_out = argv[1];
  for (const char *sub : {"", "/request", "/reader", "/frame"}) ::mkdir((g_out + sub).c_str(), 0700);
  char tmpl[] = "/tmp/qlmseedXXXXXX";
  if (::mkdtemp(tmpl) == nullptr) return 1;
  const std::string dir = tmpl;
  ::setenv("QLM_ROOTDIR", "/nonexistent-qlm-fuzz-root", 1);
  {
    rqmgr::Store store(dir + "/quillmar.db");
    rqmgr::ErrorTexts texts;
    rqmgr::NetworkConfig network;  // files the requests name stay in the temporary directory
    network.exchangeDir = dir;
    network.messagesDir = dir;
    rqmgr::Service service(store, texts, "errortxt.fil", [](const std::string &) {}, network);
    g_service = &service;
    cfSetLink(&kLink);
    if (cfRmilInit() != 0) return 1;
    ifc().interfaceOpen = 1;
    cfSetReceiveTimeoutValue(0);
    // The project of the calls, added and opened for real, with its address book,
    // mailbox and message system.
    fuzz::Area project = fuzz::Request(sizeof(QlmProj)), info(sizeof(QlmProjInfo));
    QlmAddProj(project.get(), info.get());
    fuzz::Area open(sizeof(QlmProjOpen)), result(sizeof(QlmProjOpenResult));
    std::memcpy(open.get(), fuzz::kProject, sizeof fuzz::kProject - 1);
    QlmOpenProj(open.get(), result.get());
    fuzz::Area context = fuzz::Name();
    std::memset(context.get(), ' ', 20);
    std::memcpy(context.get(), fuzz::kProject, sizeof fuzz::kProject - 1);
    QlmOpenAdbk(context.get());
    QlmOpenMbox(context.get());
    QlmOpenMsys(context.get());
    const auto &calls = fuzz::Calls();
    for (int round = 0; round < 2; ++round)
      for (std::size_t i = 0; i < calls.size(); ++i) {
        g_seed = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(round == 0 ? 4 : 23)};
        calls[i](round == 0 ? 5 : 24);
        g_answers.clear();
        Write("reader", g_seed);
      }
    cfFreeBuffer();
  }
  FrameSeeds();
  std::filesystem::remove_all(dir);
  std::printf("%d seeds written to %s\n", g_files, g_out.c_str());
  return 0;
}
