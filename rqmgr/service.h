// Request handling: one RMIL request of one client in, its answer (one or more
// RMIL messages) out.
//
// A request is decoded (request.h), looked up by its identifier and relation
// parameter in the route table (service.cc), checked against the client's contexts,
// and carried out in one database transaction; the answer is built only after the
// commit, so an acknowledged change is on disk. Changes of the in-memory contexts
// are applied after the commit too, so a failed transaction changes nothing.
//
// Answers (reply.h): return code 0 with the records the request asked for (item
// 104 "10001"; "10000" gets none, lists included), or 16 with an error segment for
// a refusal, or 20 when the Request Manager failed (30014 the database, 30028 a
// transfer that broke off; such an answer carries the receipt it made before its
// error segment). Malformed requests get 30001, unknown identifiers 30002; the
// shutdown request gets no answer. Contexts:
// - a project handle (item 102, or 101 when opening an agent) that is missing or
//   not an open project of this client: 30016;
// - an address book, mailbox or message system handle that is not one of this
//   client's open contexts of that kind: 30003.
// Values the Request Manager computes for projects (project information record):
//   455 the time of the last add or replace, "YYYYMMDDhhmmss" (local time);
//   462 "Y" when some client of any Request Manager of the installation holds the
//       project open, else "N";
//   463 "<n> address book entries, <m> mailbox entries";
//   464 (lists only) "Y" when the project is assigned to a communication profile,
//       else "N";
//   452 (open result) the project's creation time, "YYYYMMDDhhmmss".
// and for drop boxes:
//   653 "N" nothing assigned, "S" send orders only, "R" receive orders only, "B" both;
//   672 "<n> orders assigned" ("1 order assigned").
// A receipt whose add leaves its start date (1804, 723) blank is stored with the
// time of the add.
// Mailbox shelves: the order shelf "$Default$" holds every order of the mailbox,
// the receipt shelf every receipt; deleting a shelf deletes those entries (and
// their assignments) and leaves the shelf in place.
// Network logons: 475 "Y" while a running Request Manager holds a session on the
// logon; 477 the messages waiting for its mailbox (5 digits). The password (474) is
// stored as a salted hash; a mailbox (473) belongs to one logon of the installation.
// The message system's sessions and operations: sessions.cc and docs/network.md.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "contexts.h"
#include "errortext.h"
#include "listing.h"
#include "records/layout.h"
#include "reply.h"
#include "request.h"
#include "store.h"

namespace qlm::rqmgr {

using LogFn = std::function<void(const std::string &)>;

// Where the network operations find and put files, and how large a message may be.
struct NetworkConfig {
  std::string exchangeDir = ".";  // relative file names are taken from here
  std::string messagesDir = ".";  // the bodies of the messages (transfer.h, MessageBodies)
  std::int64_t maxMessageBytes = 256LL * 1024 * 1024;
};

// The messages live in the Service until its next request.
struct Answer {
  std::span<Bytes> messages;  // empty only for the shutdown request
  bool shutdown = false;
};

struct Route;
struct Outcome;
class Network;

class Service {
 public:
  // `textSource` is what item 2657 of an error text answer names as the texts'
  // origin (the error text file's name).
  Service(Store &store, const ErrorTexts &texts, std::string textSource, LogFn log, NetworkConfig network = {});

  Answer handle(int client, const std::uint8_t *data, std::size_t length);
  // Whether handling the request may take long: it writes (and so may wait for the
  // installation's write lock and flushes the database). Read from its header alone.
  static bool mayWait(const std::uint8_t *data, std::size_t length);
  // The client is gone: its contexts are closed.
  void forgetClient(int client);
  // Called when the server has time: the store's put-off work.
  void idle() { store_.idle(); }
  // The end of a read's transaction after its answer (Store::lingerReads).
  void lingerReads(bool on) { store_.lingerReads(on); }
  void settle() noexcept { store_.settle(); }

  const Contexts &contexts() const { return contexts_; }

  struct Call;

 private:
  Err run(Call &c);
  Err resolveContext(Call &c);
  Err openProject(Call &c);
  Err closeProject(Call &c);
  Err addProject(Call &c);
  Err deleteProject(Call &c);
  Err openAgent(Call &c);
  Err closeAgent(Call &c);
  Err errText(Call &c);
  Err add(Call &c);
  Err replace(Call &c);
  Err remove(Call &c);
  Err list(Call &c);
  Err assign(Call &c, bool on);
  // The message system (sessions.cc).
  Err startSession(Call &c);
  Err endSession(Call &c);
  Err transfer(Call &c, const rec::Operation &op);
  Err query(Call &c);
  Err purge(Call &c);
  Err processDropBox(Call &c);
  Err recover(Call &c);
  // Ends the session held on a message system handle of this process, if any.
  void endSessionOf(const std::string &msysHandle);
  std::optional<Session> heldSession(const Call &c);
  void answerWith(Call &c, std::int64_t id, const rec::Read &read) const;
  Err conclude(Call &c, const Outcome &o, const rec::Read &read, Network &net) const;
  void forgetBodies(Call &c, const Network &net) const;
  Row rowOf(const Entry &e, const rec::Read &fields) const;
  // Fills `row` (its buffers reused) with the entry's values of `fields`.
  void rowInto(Row &row, const Entry &e, const rec::Read &fields) const;
  // A row appended to the answer's, one of an earlier answer's when there is one.
  Row &newRow(Call &c);
  Answer answer(const Request &req, Err e, const Call *c);
  void logRefusal(int client, int request, Err e) const;

  Store &store_;
  const ErrorTexts &texts_;
  std::string textSource_;
  LogFn log_;
  NetworkConfig network_;
  Contexts contexts_;
  // Kept from one request to the next for their buffers, so that a request reuses
  // what the one before it allocated: the request, the rows of the answer (and
  // those of earlier answers), the values computed for a row, the answer.
  Request req_;
  std::vector<Row> rows_, spareRows_;
  static constexpr std::size_t kSpareRows = 64;  // what a long answer took goes back
  mutable Computed computed_;
  Reply reply_;
  std::vector<Bytes> sent_;
};

}  // namespace qlm::rqmgr
