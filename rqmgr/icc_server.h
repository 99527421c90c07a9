// The Request Manager's end of the ICC conversations with its clients.
//
// Services: "REQMNGRI"/"RMICC" (control: Init and End) and "REQMNGR"/"COURIER"
// (data: requests). Every client is one DDE instance <pid>.<n> of a library; the
// server learns it from the CONNECT of each conversation and answers through that
// instance's own service, connecting to "<service>.<pid>.<n>" / "COURIER" by its
// instance-specific name (the service named in the Init, normally "CAPIAPP").
//
// ICC messages (integers little-endian):
//   Init, from the client on the control channel: 0 u32 isIccCmd 1, 4 u32 0,
//     8 u32 iccCmd 1, 12 the client's service name (12 bytes, NUL-terminated),
//     24 the client's version (29 bytes); at least 24 bytes are needed.
//   Init Response, to the client, 54 bytes: 0 u32 isIccCmd 1, 4 u32 ClientKey,
//     8 u32 iccCmd 2, 12 i16 ClientKey, 14..23 zero, 24 the server's version string
//     (30 bytes, NUL-padded). ClientKey is 1..32767, or 0 when the Init is refused
//     (malformed, or every key is in use).
//   End, from the client: 0 u32 1, 4 u32 ClientKey, 8 u32 iccCmd 3.
//   Data, both ways: 0 u32 isIccCmd 0, 4 u32 ClientKey, 8.. one RMIL message.
// A request is answered with one data message per RMIL response message. End, or
// the closing of any of a client's conversations, forgets the client and closes
// its contexts. The shutdown request ends the loop.
//
// Events are acknowledged in the DDE callback and carried out afterwards, in
// arrival order, by the loop; so no callback work runs inside the server's own
// pokes to a client.
#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/windows.h"
#include "service.h"

namespace qlm::rqmgr {

inline constexpr int kInitResponseLength = 54;
inline constexpr int kVersionWidth = 30;
inline constexpr DWORD kPokeTimeoutMs = 5000;
inline constexpr const char kServerVersion[] = "QLMRQMGR 6.1.0";

class IccServer {
 public:
  IccServer(Service &service, LogFn log);
  ~IccServer();

  // Creates the DDE instance and registers both services; false (logged) on failure.
  bool start();
  // Pumps messages until the shutdown request, a termination signal (see
  // requestStop) or a failure of the pump.
  void run();
  // Unregisters the services and ends the instance (every conversation closes).
  void stop();
  // Makes run() return at its next timer tick (safe from a signal handler).
  static void requestStop();

  std::size_t clientCount() const { return clients_.size(); }

 private:
  struct Partner {
    DWORD pid = 0, instance = 0;
    bool operator<(const Partner &o) const { return std::pair(pid, instance) < std::pair(o.pid, o.instance); }
  };
  struct Client {
    int key = 0;
    Partner partner;
    std::string service;  // the client's own service name, from the Init
    HCONV reply = nullptr;  // our conversation to the client's service
  };
  struct Event {
    enum Type { Confirm, Poke, Disconnect } type = Poke;
    HCONV conv = nullptr;
    bool control = false;
    Partner partner;
    std::vector<std::uint8_t> data;
    static Event of(Type t, HCONV c) {
      Event e;
      e.type = t;
      e.conv = c;
      return e;
    }
  };

  static HDDEDATA callback(UINT type, UINT fmt, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data, ULONG_PTR,
                           ULONG_PTR);
  static void timerProc(HWND, UINT, UINT_PTR, DWORD);
  void drain();
  void onPoke(const Event &e);
  void onInit(const Partner &p, const std::uint8_t *m, std::size_t n);
  void onData(const Partner &p, const std::uint8_t *m, std::size_t n);
  void forget(int key, const char *why);
  int newKey() const;
  bool poke(Client &c, const std::uint8_t *data, std::size_t n);
  Client *clientOf(const Partner &p);
  std::string partnerText(const Partner &p) const;

  Service &service_;
  LogFn log_;
  DWORD inst_ = 0;
  HSZ control_ = nullptr, controlTopic_ = nullptr, data_ = nullptr, dataTopic_ = nullptr;
  bool registered_ = false;
  bool stopping_ = false;
  std::map<HCONV, Event> convs_;          // accepted conversations: partner and channel
  std::map<int, Client> clients_;         // by ClientKey
  std::deque<Event> queue_;
};

}  // namespace qlm::rqmgr
