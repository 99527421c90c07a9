// What the Request Manager's request handlers share: the families and routes,
// reading the data of a request, and the state of one request (Service::Call).
// Internal to the Request Manager; service.cc holds the route table.
#pragma once
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "records/layout.h"
#include "service.h"

namespace qlm::rqmgr {

// ---------------------------------------------------------------------------
// Families and routes

// Where the entries of a family live.
enum class Scope {
  Installation,  // one set for the installation (projects, communication profiles)
  Project,       // one set per project
};

// The handle a request must carry.
enum class Needs {
  None,     // no context
  Project,  // item 102: a project context
  Parent,   // item 101: the project context an agent opens under
  Adbk,     // item 102: an address book context
  Mbox,     // item 102: a mailbox context
  Msys,     // item 102: a message system context
};

enum class Kind {
  Shutdown, OpenProject, CloseProject, AddProject, DeleteProject, OpenAgent, CloseAgent,
  ErrText, Add, Replace, Delete, List, Assign, Unassign,
  // The message system (sessions.cc)
  StartSession, EndSession, Send, Receive, Query, Purge, ProcessDropBox, Recover,
};

using ComputeFn = void (*)(Store &, const Entry &, Computed &);
// Checks and rewrites the fields that an add or replace of the entry `self` (0 for
// an add) is about to store; a refusal stores nothing.
using PrepareFn = Err (*)(Store &, std::int64_t self, Fields &);
// Refuses the delete of an entry, or lets it pass (Err::None).
using GuardFn = Err (*)(Store &, const Entry &);

// The server's view of an entity: its record tables and where its entries live.
struct Family {
  const rec::Entity *entity;
  Scope scope;
  bool keyIsContext;    // the entry a replace or delete acts on is the request's project
  ComputeFn compute;    // fills the values the Request Manager computes, or null
  std::uint16_t addStamp = 0;  // a field that an add leaving it blank gets the time of, or 0
  PrepareFn prepare = nullptr;
  GuardFn guardRemove = nullptr;
  constexpr std::uint16_t kind() const { return entity->segType; }
};

// Families kept side by side on a shelf: listed as one mixed list (each entry in
// its own kind's segment), deleted together.
struct Shelf {
  std::uint16_t nameId;                     // segment type and item of the shelf's name (delete)
  std::span<const Family *const> families;
};

struct Route {
  std::uint16_t request;
  std::uint16_t relation;    // item 134 it answers to: 0 none, kNoRelation, or the container's key
  Kind kind;
  Needs needs;
  const Family *family;      // the entries acted on or listed (the member of a relation), or null
  const Shelf *shelf;        // the families acted on or listed together, or null
  const Family *container;   // the container of a relation, or null
  std::uint16_t containerData;  // the container's name comes in a data segment of this type
                                // (item of the same name ID), not as item 133; or 0
  std::uint16_t linkField;   // members of the container are the entries whose field of this
                             // name ID holds its key; 0: the entries assigned to it
  CtxKind agent;             // the agent opened or closed
  bool writes;               // takes the write lock
};

// ---------------------------------------------------------------------------
// Reading the data of a request

std::string_view trimRight(std::string_view v);
// `v` cut to `width` bytes, less trailing blanks.
std::string cut(std::string_view v, std::size_t width);
// The request's first data segment when it has the segment type `type`.
const Segment *dataSegment(const Request &r, long type);
// Reads the record a request sends (add, replace): the key and the other fields,
// each cut to its width, blank ones left out; items the request does not send are
// passed over.
Err readRecord(const Request &r, const rec::Send &send, std::string *key, Fields *fields);
// The fields of a data segment that `items` names, each cut to its width, blank
// ones left out.
void readFields(const Segment &s, const rec::Layout &items, Fields *fields);
// The key item `keyId` of a data segment of type `keyId`, cut to `width`.
Err readKey(const Request &r, std::uint16_t keyId, std::size_t width, std::string *key);
// The scope of a family's entries for a request in the context `project`.
std::int64_t scopeOf(const Family &f, std::int64_t project);
std::uint16_t keyWidth(const Family &f);
// The family whose key has the name ID `kind`, or null.
const Family *familyOf(std::uint16_t kind);

// A counter as the records carry it: five digits, zero-padded (at most 99999).
std::string counterText(std::int64_t n);

// ---------------------------------------------------------------------------
// One request

struct Service::Call {
  Call(const Request &r, const Route &rt, int cl, std::vector<Row> &rs) : req(r), route(rt), client(cl), rows(rs) {}
  const Request &req;
  const Route &route;
  int client;
  const Context *ctx = nullptr;   // the context the handle names
  std::int64_t scope = kInstallation;
  std::string handle;             // item 102 of the answer
  std::vector<Row> &rows;         // record segments of the answer
  std::vector<std::function<void()>> after;  // applied once committed
  bool keep = false;              // commit although the answer is a refusal or failure
  // Forgets what a try did, before the request runs again.
  void restart() {
    ctx = nullptr;
    scope = kInstallation;
    handle.clear();
    rows.clear();
    after.clear();
    keep = false;
  }
};

// How often a request that conflicts with a concurrent transaction is run.
inline constexpr int kAttempts = 20;

}  // namespace qlm::rqmgr
