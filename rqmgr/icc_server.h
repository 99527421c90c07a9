// The Request Manager's end of the ICC conversations with its clients.
//
// The control service (Init and End) and the data service (requests), and the ICC
// messages: wire/wire.h. Every client is one DDE instance <pid>.<n> of a library;
// the server learns it from the CONNECT of each conversation and answers through
// that instance's own service, connecting to "<service>.<pid>.<n>" (the service
// named in the Init) by its instance-specific name. The Init Response carries a
// new ClientKey, or 0 when the Init is refused (malformed, or every key is in use).
// A request is answered with one data message per RMIL response message. End, or
// the closing of any of a client's conversations, forgets the client and closes
// its contexts. The shutdown request ends the loop.
//
// Events are acknowledged in the DDE callback and carried out afterwards, in
// arrival order, by the loop. The loop never waits for one client: answers are
// poked without waiting (at most kAnswerWindow unacknowledged per client, the rest
// kept in the client's outbox), and a client's next request is carried out once the
// answers to its previous one are acknowledged (at most kMaxWaitingRequests wait;
// a client that sends more is dropped). A client that does not take its answers
// (kAckLimitMs without an ACK, or its conversation's queue full) is dropped: its
// conversations are closed, so that its next call fails at once instead of waiting.
// Every drop is logged. A connection claiming to be this server itself is refused.
//
// Owner: a server started for one application (QLM_OWNER_PID) ends once that
// process has ended and no client is left.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/unique_fd.h"
#include "platform/windows.h"
#include "service.h"

namespace qlm::rqmgr {

inline constexpr std::size_t kAnswerWindow = 8;         // answers unacknowledged per client
// The transport reads batched ACKs at once only while its own window is full: a
// smaller window here would wait for ACKs that are read along (qlm::BatchAcks).
#ifndef _WIN32  // DDEML keeps no such window
static_assert(kAnswerWindow == kMaxUnacked);
#endif
inline constexpr std::size_t kMaxWaitingRequests = 16;  // requests waiting per client
inline constexpr int kMaxWarnings = 8;                   // log lines about one conversation's garbage
inline constexpr const char kServerVersion[] = "QLMRQMGR 6.1.0";

class IccServer {
 public:
  using Message = std::vector<std::uint8_t>;  // one ICC message

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
  // Ends run() once process `pid` has ended and no client is left.
  void watchOwner(pid_t pid);
  // As a service, the shutdown request is logged and does not end run().
  void setService(bool on) { asService_ = on; }

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
    std::deque<Message> outbox;    // messages not yet handed to the transport
    std::size_t unacked = 0;       // handed over, ACK not yet in
    std::deque<Message> requests;  // waiting for the answers of the one before
    bool endWaits = false;         // its End came behind the waiting requests
  };
  struct Event {
    enum Type { Confirm, Poke, Disconnect, Complete } type = Poke;
    HCONV conv = nullptr;
    bool control = false;
    Partner partner;
    std::vector<std::uint8_t> data;
    ULONG_PTR detail = 0;  // Disconnect: why (kDrop*); Complete: 1 when accepted
    int warnings = 0;      // Confirm: log lines written about this conversation
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
  void onComplete(const Event &e);
  void onDisconnect(const Event &e);
  void serve(Client &c, const std::uint8_t *request, std::size_t length);
  bool feed(Client &c);
  bool hand(Client &c, const Message &m);
  void forget(int key, const std::string &why, bool hangUp = false);
  int newKey() const;
  Client *clientOf(const Partner &p);
  Client *clientByReply(HCONV conv);
  std::string partnerText(const Partner &p) const;
  void warn(HCONV conv, const std::string &text);
  bool ownerGone();

  Service &service_;
  LogFn log_;
  DWORD inst_ = 0;
  HSZ control_ = nullptr, controlTopic_ = nullptr, data_ = nullptr, dataTopic_ = nullptr;
  bool registered_ = false;
  bool stopping_ = false;
  std::map<HCONV, Event> convs_;          // accepted conversations: partner and channel
  std::map<int, Client> clients_;         // by ClientKey
  std::map<HCONV, Partner> refused_;      // refused Inits: closed once the answer is taken
  // Events in arrival order from queueHead_ on; the room of the vector, and of the
  // data of up to kSpareData events, is kept for the next ones (no allocation for a
  // request once the server has run a while).
  std::vector<Event> queue_;
  std::size_t queueHead_ = 0;
  std::vector<std::vector<std::uint8_t>> spareData_;
  Message answer_;  // an answer on its way to the transport
  pid_t owner_ = 0;
  bool asService_ = false;
  UniqueFd ownerFd_;                      // a pidfd of the owner, when the system has them
};

}  // namespace qlm::rqmgr
