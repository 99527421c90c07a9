#include "service.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <array>
#include <charconv>
#include <optional>
#include <span>

#include "records/addressbook.h"
#include "records/common.h"
#include "records/mailbox.h"
#include "catalog.h"
#include "password.h"
#include "request_names.h"
#include "records/sessions.h"
#include "service_internal.h"

namespace qlm::rqmgr {

namespace {

constexpr std::uint16_t kAdbkKinds[] = {rec::kAddr.segType, rec::kDistList.segType, rec::kTradProf.segType};
constexpr std::uint16_t kMboxKinds[] = {rec::kSendOrdr.segType, rec::kRecvOrdr.segType, rec::kSendRcpt.segType,
                                        rec::kRecvRcpt.segType,  rec::kDropBox.segType,  rec::kSessRcpt.segType};

const char *yesNo(bool b) { return b ? "Y" : "N"; }

// Appends the decimal digits of `n` (no allocation past the string's capacity).
std::string &appendNumber(std::string &to, std::int64_t n) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
  return to.append(digits, end);
}

// A network logon: 475 "Y" while a running Request Manager holds a session on it,
// 477 the messages waiting for its mailbox.
void computeVnLogon(Store &store, const Entry &e, Computed &out) {
  out.set(rec::kLogonInSession) = yesNo(store.liveSessions(e.id) > 0);
  const auto mailbox = e.fields.find(rec::kLogonMailbox);
  out.set(rec::kLogonWaiting) = counterText(mailbox == e.fields.end() ? 0 : store.countMessages(mailbox->second));
}

// A network logon's password (474) is stored only as a salted hash, and its
// mailbox (473) is the mailbox of no other logon of the installation.
Err prepareVnLogon(Store &store, std::int64_t self, Fields &f) {
  if (const auto m = f.find(rec::kLogonMailbox); m != f.end())
    for (const std::int64_t other : store.findByField(rec::kVnLogon.segType, rec::kLogonMailbox, m->second))
      if (other != self) return Err::MailboxTaken;
  if (const auto p = f.find(rec::kLogonPassword); p != f.end() && (p->second = hashPassword(p->second)).empty())
    throw StoreError("no password hash could be made");
  return Err::None;
}

// A session receipt is not deleted while a running Request Manager holds its session.
Err guardSessionReceipt(Store &store, const Entry &e) {
  const auto s = store.session(e.id);
  return s && store.holderAlive(*s) ? Err::SessionActive : Err::None;
}

void computeProject(Store &store, const Entry &e, Computed &out) {
  const Store::ProjectFacts f = store.projectFacts(e.id, kAdbkKinds, kMboxKinds, rec::kCommProf.segType);
  out.set(rec::kProjChanged) = e.changed;
  out.set(rec::kProjInUse) = yesNo(f.open);
  std::string &counts = out.set(rec::kProjCounts);
  appendNumber(counts, f.inA).append(" address book entries, ");
  appendNumber(counts, f.inB).append(" mailbox entries");
  out.set(rec::kProjOnCommProf) = yesNo(f.assigned);
}

// A drop box: 653 "N" while no order is assigned to it, "S" with send orders
// only, "R" with receive orders only, "B" with both; 672 "<n> orders assigned".
void computeDropBox(Store &store, const Entry &e, Computed &out) {
  const std::int64_t send = store.memberCount(e.id, rec::kSendOrdr.segType);
  const std::int64_t recv = store.memberCount(e.id, rec::kRecvOrdr.segType);
  out.set(rec::kDropBoxKinds) = send && recv ? "B" : send ? "S" : recv ? "R" : "N";
  appendNumber(out.set(rec::kDropBoxCount), send + recv).append(send + recv == 1 ? " order assigned" : " orders assigned");
}

constexpr Family kProject{&rec::kProj, Scope::Installation, true, computeProject};
constexpr Family kAddr{&rec::kAddr, Scope::Project, false, nullptr};
constexpr Family kDistList{&rec::kDistList, Scope::Project, false, nullptr};
constexpr Family kTradProf{&rec::kTradProf, Scope::Project, false, nullptr};
constexpr Family kCommProf{&rec::kCommProf, Scope::Installation, false, nullptr};
constexpr Family kVnLogon{&rec::kVnLogon, Scope::Project, false, computeVnLogon, 0, prepareVnLogon};
// The mailbox. A receipt whose add leaves `startdate` blank gets the time of the add.
constexpr Family kSendOrdr{&rec::kSendOrdr, Scope::Project, false, nullptr};
constexpr Family kRecvOrdr{&rec::kRecvOrdr, Scope::Project, false, nullptr};
constexpr Family kSendRcpt{&rec::kSendRcpt, Scope::Project, false, nullptr, rec::kSendRcptStart};
constexpr Family kRecvRcpt{&rec::kRecvRcpt, Scope::Project, false, nullptr, rec::kRecvRcptStart};
constexpr Family kDropBox{&rec::kDropBox, Scope::Project, false, computeDropBox};
constexpr Family kSessRcpt{&rec::kSessRcpt, Scope::Project, false, nullptr, 0, nullptr, guardSessionReceipt};
static_assert(rec::kSendRcpt.record.has(kSendRcpt.addStamp) && rec::kRecvRcpt.record.has(kRecvRcpt.addStamp));

// The shelves "$Default$": every order, respectively every receipt, of the mailbox
// (their list codes: catalog.cc).
constexpr const Family *kOrders[] = {&kSendOrdr, &kRecvOrdr};
constexpr const Family *kReceipts[] = {&kSendRcpt, &kRecvRcpt};
constexpr Shelf kOrdrShlf{rec::kOrdrShlf.nameId, kOrders};
constexpr Shelf kRcptShlf{rec::kRcptShlf.nameId, kReceipts};

constexpr Route entityRoute(Kind k, Needs n, const Family &f) {
  const rec::Entity &e = *f.entity;
  const std::uint16_t id = k == Kind::Add ? e.add.request
                         : k == Kind::Replace ? e.replace.request
                         : k == Kind::Delete ? e.remove.request
                                             : e.list.request;
  return {id, 0, k, n, &f, nullptr, nullptr, 0, 0, CtxKind::Project, k != Kind::List};
}
constexpr Route relationRoute(std::uint16_t request, Kind k, Needs n, const Family &member, const Family &container) {
  return {request, container.kind(), k, n, &member, nullptr, &container, 0, 0, CtxKind::Project, k != Kind::List};
}
// A list of the entries related to a container as `on` sends it: the members of
// `member` (or of every family of `shelf`), by assignment or by `linkField`.
constexpr Route listOnRoute(const rec::ListOn &on, const Family *member, const Shelf *shelf, const Family &container,
                            std::uint16_t linkField = 0) {
  return {on.request, on.relation, Kind::List, Needs::Mbox, member, shelf, &container, on.dataKey, linkField,
          CtxKind::Project, false};
}
// The shelf's delete (relation 10001, its name in a data segment) and its list.
constexpr Route shelfRoute(std::uint16_t request, Kind k, const Shelf &shelf) {
  return {request, rec::kNoRelation, k, Needs::Mbox, nullptr, &shelf, nullptr, 0, 0, CtxKind::Project, k != Kind::List};
}
constexpr Route contextRoute(std::uint16_t request, Kind k, Needs n, CtxKind agent, bool writes) {
  return {request, 0, k, n, nullptr, nullptr, nullptr, 0, 0, agent, writes};
}
// An operation of the message system.
constexpr Route operationRoute(std::uint16_t request, Kind k, bool writes) {
  return contextRoute(request, k, Needs::Msys, CtxKind::Msys, writes);
}

constexpr const Family *kFamilies[] = {&kProject,  &kAddr,     &kDistList, &kTradProf, &kCommProf, &kVnLogon,
                                       &kSendOrdr, &kRecvOrdr, &kSendRcpt, &kRecvRcpt, &kDropBox,  &kSessRcpt};

// Every request the Request Manager knows, by identifier and relation parameter.
constexpr Route kRoutes[] = {
    contextRoute(rec::kShutdown, Kind::Shutdown, Needs::None, CtxKind::Project, false),
    contextRoute(rec::kOpenProj, Kind::OpenProject, Needs::None, CtxKind::Project, true),
    contextRoute(rec::kCloseProj, Kind::CloseProject, Needs::Project, CtxKind::Project, true),
    contextRoute(rec::kProj.add.request, Kind::AddProject, Needs::None, CtxKind::Project, true),
    contextRoute(rec::kProj.remove.request, Kind::DeleteProject, Needs::Project, CtxKind::Project, true),
    contextRoute(rec::kOpenAdbk, Kind::OpenAgent, Needs::Parent, CtxKind::Adbk, false),
    contextRoute(rec::kCloseAdbk, Kind::CloseAgent, Needs::Adbk, CtxKind::Adbk, false),
    contextRoute(rec::kOpenMbox, Kind::OpenAgent, Needs::Parent, CtxKind::Mbox, false),
    contextRoute(rec::kCloseMbox, Kind::CloseAgent, Needs::Mbox, CtxKind::Mbox, false),
    contextRoute(rec::kOpenMsys, Kind::OpenAgent, Needs::Parent, CtxKind::Msys, false),
    contextRoute(rec::kCloseMsys, Kind::CloseAgent, Needs::Msys, CtxKind::Msys, false),
    contextRoute(rec::kRetrieveErrTextSend.request, Kind::ErrText, Needs::Project, CtxKind::Project, false),
    // Projects
    entityRoute(Kind::Replace, Needs::Project, kProject),
    entityRoute(Kind::List, Needs::None, kProject),
    relationRoute(rec::kListProjsOnCommProf.request, Kind::List, Needs::None, kProject, kCommProf),
    relationRoute(rec::kAsgProjToCommProf.request, Kind::Assign, Needs::Project, kProject, kCommProf),
    relationRoute(rec::kUsgProjFromCommProf.request, Kind::Unassign, Needs::Project, kProject, kCommProf),
    // Communication profiles and network logons
    entityRoute(Kind::Add, Needs::Project, kCommProf),
    entityRoute(Kind::Replace, Needs::Project, kCommProf),
    entityRoute(Kind::Delete, Needs::Project, kCommProf),
    entityRoute(Kind::List, Needs::Project, kCommProf),
    entityRoute(Kind::Add, Needs::Project, kVnLogon),
    entityRoute(Kind::Replace, Needs::Project, kVnLogon),
    entityRoute(Kind::Delete, Needs::Project, kVnLogon),
    entityRoute(Kind::List, Needs::Project, kVnLogon),
    // The address book
    entityRoute(Kind::Add, Needs::Adbk, kAddr),
    entityRoute(Kind::Replace, Needs::Adbk, kAddr),
    entityRoute(Kind::Delete, Needs::Adbk, kAddr),
    entityRoute(Kind::List, Needs::Adbk, kAddr),
    entityRoute(Kind::Add, Needs::Adbk, kDistList),
    entityRoute(Kind::Replace, Needs::Adbk, kDistList),
    entityRoute(Kind::Delete, Needs::Adbk, kDistList),
    entityRoute(Kind::List, Needs::Adbk, kDistList),
    entityRoute(Kind::Add, Needs::Adbk, kTradProf),
    entityRoute(Kind::Replace, Needs::Adbk, kTradProf),
    entityRoute(Kind::Delete, Needs::Adbk, kTradProf),
    entityRoute(Kind::List, Needs::Adbk, kTradProf),
    relationRoute(rec::kAsgAddrToDistList.request, Kind::Assign, Needs::Adbk, kAddr, kDistList),
    relationRoute(rec::kAsgAddrToTradProf.request, Kind::Assign, Needs::Adbk, kAddr, kTradProf),
    relationRoute(rec::kUsgAddrFromDistList.request, Kind::Unassign, Needs::Adbk, kAddr, kDistList),
    relationRoute(rec::kUsgAddrFromTradProf.request, Kind::Unassign, Needs::Adbk, kAddr, kTradProf),
    relationRoute(rec::kAsgDistListToTradProf.request, Kind::Assign, Needs::Adbk, kDistList, kTradProf),
    relationRoute(rec::kUsgDistListFromTradProf.request, Kind::Unassign, Needs::Adbk, kDistList, kTradProf),
    relationRoute(rec::kListAddrsOnDistList.request, Kind::List, Needs::Adbk, kAddr, kDistList),
    relationRoute(rec::kListAddrsOnTradProf.request, Kind::List, Needs::Adbk, kAddr, kTradProf),
    relationRoute(rec::kListDistListsOnTradProf.request, Kind::List, Needs::Adbk, kDistList, kTradProf),
    // The mailbox: orders, receipts, the shelves, drop boxes and their orders
    entityRoute(Kind::Add, Needs::Mbox, kSendOrdr),
    entityRoute(Kind::Replace, Needs::Mbox, kSendOrdr),
    entityRoute(Kind::Delete, Needs::Mbox, kSendOrdr),
    entityRoute(Kind::List, Needs::Mbox, kSendOrdr),
    entityRoute(Kind::Add, Needs::Mbox, kRecvOrdr),
    entityRoute(Kind::Replace, Needs::Mbox, kRecvOrdr),
    entityRoute(Kind::Delete, Needs::Mbox, kRecvOrdr),
    entityRoute(Kind::List, Needs::Mbox, kRecvOrdr),
    entityRoute(Kind::Add, Needs::Mbox, kSendRcpt),
    entityRoute(Kind::List, Needs::Mbox, kSendRcpt),
    listOnRoute(rec::kListSendRcptsOnSendOrdr, &kSendRcpt, nullptr, kSendOrdr, rec::kSendRcptOrder),
    entityRoute(Kind::Add, Needs::Mbox, kRecvRcpt),
    entityRoute(Kind::List, Needs::Mbox, kRecvRcpt),
    shelfRoute(rec::kOrdrShlf.deleteRequest, Kind::Delete, kOrdrShlf),
    shelfRoute(rec::kOrdrShlf.list.request, Kind::List, kOrdrShlf),
    shelfRoute(rec::kRcptShlf.deleteRequest, Kind::Delete, kRcptShlf),
    shelfRoute(rec::kRcptShlf.list.request, Kind::List, kRcptShlf),
    entityRoute(Kind::Add, Needs::Mbox, kDropBox),
    entityRoute(Kind::Replace, Needs::Mbox, kDropBox),
    entityRoute(Kind::Delete, Needs::Mbox, kDropBox),
    entityRoute(Kind::List, Needs::Mbox, kDropBox),
    listOnRoute(rec::kListOrdrsOnDropBox, nullptr, &kOrdrShlf, kDropBox),
    relationRoute(rec::kAsgSendOrdrToDropBox.request, Kind::Assign, Needs::Mbox, kSendOrdr, kDropBox),
    relationRoute(rec::kAsgRecvOrdrToDropBox.request, Kind::Assign, Needs::Mbox, kRecvOrdr, kDropBox),
    relationRoute(rec::kUsgSendOrdrFromDropBox.request, Kind::Unassign, Needs::Mbox, kSendOrdr, kDropBox),
    relationRoute(rec::kUsgRecvOrdrFromDropBox.request, Kind::Unassign, Needs::Mbox, kRecvOrdr, kDropBox),
    // Session receipts, with the send and receive receipts assigned to them
    entityRoute(Kind::Add, Needs::Mbox, kSessRcpt),
    entityRoute(Kind::Delete, Needs::Mbox, kSessRcpt),
    entityRoute(Kind::List, Needs::Mbox, kSessRcpt),
    relationRoute(rec::kAsgSendRcptToSessRcpt.request, Kind::Assign, Needs::Mbox, kSendRcpt, kSessRcpt),
    relationRoute(rec::kAsgRecvRcptToSessRcpt.request, Kind::Assign, Needs::Mbox, kRecvRcpt, kSessRcpt),
    listOnRoute(rec::kListRcptsOnSessRcpt, nullptr, &kRcptShlf, kSessRcpt),
    // The message system: sessions and their operations (sessions.cc)
    operationRoute(rec::kStartSess.send.request, Kind::StartSession, true),
    operationRoute(rec::kEndSess.send.request, Kind::EndSession, true),
    operationRoute(rec::kDoSendOrdr.send.request, Kind::Send, true),
    operationRoute(rec::kDoRecvOrdr.send.request, Kind::Receive, true),
    operationRoute(rec::kQuryOrdr.request, Kind::Query, false),
    operationRoute(rec::kDoPurgOrdr.send.request, Kind::Purge, true),
    operationRoute(rec::kProcDropBox.send.request, Kind::ProcessDropBox, true),
    operationRoute(rec::kRecoverSessRcpt.send.request, Kind::Recover, true),
};

constexpr bool routesDistinct() {
  for (std::size_t i = 0; i < std::size(kRoutes); ++i)
    for (std::size_t j = i + 1; j < std::size(kRoutes); ++j)
      if (kRoutes[i].request == kRoutes[j].request && kRoutes[i].relation == kRoutes[j].relation) return false;
  return true;
}
static_assert(routesDistinct(), "two routes answer the same identifier and relation");
static_assert(rec::kListProjsOnCommProf.relation == rec::kCommProf.segType);
static_assert(rec::kListSendRcptsOnSendOrdr.relation == rec::kSendOrdr.segType &&
              rec::kListSendRcptsOnSendOrdr.dataKey == 0);
static_assert(rec::kListOrdrsOnDropBox.relation == rec::kNoRelation &&
              rec::kListOrdrsOnDropBox.dataKey == rec::kDropBox.segType);
static_assert(rec::kListRcptsOnSessRcpt.relation == rec::kNoRelation &&
              rec::kListRcptsOnSessRcpt.dataKey == rec::kSessRcpt.segType &&
              rec::kAsgSendRcptToSessRcpt.member.nameId == rec::kSendRcpt.segType &&
              rec::kAsgRecvRcptToSessRcpt.member.nameId == rec::kRecvRcpt.segType);
static_assert(rec::kAsgSendOrdrToDropBox.container.nameId == rec::kDropBox.segType &&
              rec::kAsgSendOrdrToDropBox.member.nameId == rec::kSendOrdr.segType &&
              rec::kAsgRecvOrdrToDropBox.member.nameId == rec::kRecvOrdr.segType);

// The route of an identifier and relation: found; nullptr with `known` when the
// identifier exists with other relations. A relation of 10001 ("none") and an
// absent one are the same unless the identifier has routes for both (366: the
// drop boxes, and the orders of one drop box).
const Route *findRoute(int request, long relation, bool *known) {
  *known = false;
  const Route *other = nullptr;
  for (const Route &r : kRoutes) {
    if (r.request != request) continue;
    *known = true;
    if (r.relation == relation) return &r;
    const bool none = relation == 0 || relation == wire::kNoRelation;
    if (none && (r.relation == 0 || r.relation == wire::kNoRelation)) other = &r;
  }
  return other;
}

// A request for the log: its identifier and what it does.
std::string requestText(int request) {
  for (const Route &r : kRoutes)
    if (r.request == request) return "request " + std::to_string(request) + " (" + RouteWords(r) + ")";
  return "request " + std::to_string(request);
}

}  // namespace

const Family *familyOf(std::uint16_t kind) {
  for (const Family *f : kFamilies)
    if (f->kind() == kind) return f;
  return nullptr;
}

// ---------------------------------------------------------------------------
// One request

Service::Service(Store &store, const ErrorTexts &texts, std::string textSource, LogFn log, NetworkConfig network)
    : store_(store), texts_(texts), textSource_(std::move(textSource)), log_(std::move(log)),
      network_(std::move(network)) {}

bool Service::mayWait(const std::uint8_t *data, std::size_t length) {
  int id = -1;
  long relation = 0;
  peekRequest(data, length, &id, &relation);
  bool known = false;
  const Route *route = findRoute(id, relation, &known);
  return route == nullptr || route->writes;
}

Answer Service::handle(int client, const std::uint8_t *data, std::size_t length) {
  Request &req = req_;
  Err e = decodeRequest(data, length, &req);
  bool known = false;
  const Route *route = e == Err::None ? findRoute(req.id, req.relation, &known) : nullptr;
  if (e == Err::None && route == nullptr) e = known ? Err::Malformed : Err::UnknownRequest;
  if (e != Err::None) {
    logRefusal(client, req.id, e);
    return answer(req, e, nullptr);
  }
  if (route->kind == Kind::Shutdown) return {{}, true};

  // One transaction; one that conflicts with a concurrent transaction (PostgreSQL)
  // is run again, after a pause that grows, a few times.
  // The rows of the last answer keep their buffers for this one's.
  for (Row &r : rows_)
    if (spareRows_.size() < kSpareRows) spareRows_.push_back(std::move(r));
  rows_.clear();
  Call c{req, *route, client, rows_};
  for (int attempt = 1;; ++attempt) {
    try {
      Store::Transaction txn(store_, route->writes);
      e = resolveContext(c);
      if (e == Err::None) e = run(c);
      if (e == Err::None || c.keep) {
        txn.commit();
        for (auto &f : c.after) f();
      }
      break;
    } catch (const StoreError &x) {
      if (x.retry() && attempt < kAttempts) {
        c.restart();
        std::this_thread::sleep_for(std::chrono::milliseconds(attempt * (1 + std::rand() % 5)));
        continue;
      }
      log_("client " + std::to_string(client) + ": " + requestText(req.id) + ": database failure: " + x.what());
      e = Err::Database;
      break;
    }
  }
  if (e != Err::None && e != Err::Database) logRefusal(client, req.id, e);
  if (e == Err::Database) c.keep = false;
  return answer(req, e, &c);
}

void Service::logRefusal(int client, int request, Err e) const {
  log_("client " + std::to_string(client) + ": " + requestText(request) + " refused: " +
       std::to_string(static_cast<int>(e)) + " " + builtInMessage(static_cast<int>(e)));
}

Answer Service::answer(const Request &req, Err e, const Call *c) {
  // A failed request answers with the records of what it kept (a receipt of a
  // failed transfer), then the error segment.
  const bool rows = c != nullptr && (e == Err::None || c->keep);
  Reply &r = reply_;
  r.start(req.id + 1, req.reference, e == Err::None ? kRcOk : returnCodeOf(e),
          e == Err::None ? std::string_view(c->handle) : std::string_view());
  if (rows && !writeRows(r, c->rows)) log_("request " + std::to_string(req.id) + ": a record does not fit a message");
  if (e != Err::None) r.error(*texts_.find(static_cast<int>(e)));
  Answer a;
  a.messages = r.finish(sent_);
  return a;
}

void Service::forgetClient(int client) {
  const std::vector<std::string> sessions = contexts_.handlesOf(client, CtxKind::Msys);
  const std::vector<std::string> closed = contexts_.closeClient(client);
  if (closed.empty()) return;
  try {
    Store::Transaction txn(store_, true);
    for (const std::string &h : sessions) endSessionOf(h);
    for (const std::string &h : closed) store_.markClosed(h);
    txn.commit();
  } catch (const StoreError &x) {
    log_("client " + std::to_string(client) + ": open marks not removed: " + x.what());
  }
}

Err Service::resolveContext(Call &c) {
  const Request &r = c.req;
  switch (c.route.needs) {
    case Needs::None:
      return Err::None;
    case Needs::Project:
    case Needs::Parent: {
      const std::string &h = c.route.needs == Needs::Parent ? r.projectHandle : r.handle;
      c.ctx = contexts_.find(c.client, CtxKind::Project, h);
      if (c.ctx == nullptr) return Err::ProjectNotOpen;
      break;
    }
    case Needs::Adbk:
    case Needs::Mbox:
    case Needs::Msys: {
      const CtxKind k = c.route.needs == Needs::Adbk ? CtxKind::Adbk : c.route.needs == Needs::Mbox ? CtxKind::Mbox : CtxKind::Msys;
      c.ctx = contexts_.find(c.client, k, r.handle);
      if (c.ctx == nullptr) return Err::BadHandle;
      break;
    }
  }
  // A project deleted meanwhile by another Request Manager of the installation.
  if (!store_.get(c.ctx->project)) return Err::NoProject;
  c.scope = c.ctx->project;
  return Err::None;
}

Err Service::run(Call &c) {
  switch (c.route.kind) {
    case Kind::Shutdown: return Err::None;
    case Kind::OpenProject: return openProject(c);
    case Kind::CloseProject: return closeProject(c);
    case Kind::AddProject: return addProject(c);
    case Kind::DeleteProject: return deleteProject(c);
    case Kind::OpenAgent: return openAgent(c);
    case Kind::CloseAgent: return closeAgent(c);
    case Kind::ErrText: return errText(c);
    case Kind::Add: return add(c);
    case Kind::Replace: return replace(c);
    case Kind::Delete: return remove(c);
    case Kind::List: return list(c);
    case Kind::Assign: return assign(c, true);
    case Kind::Unassign: return assign(c, false);
    case Kind::StartSession: return startSession(c);
    case Kind::EndSession: return endSession(c);
    case Kind::Send: return transfer(c, rec::kDoSendOrdr);
    case Kind::Receive: return transfer(c, rec::kDoRecvOrdr);
    case Kind::Query: return query(c);
    case Kind::Purge: return purge(c);
    case Kind::ProcessDropBox: return processDropBox(c);
    case Kind::Recover: return recover(c);
  }
  return Err::UnknownRequest;
}

Row Service::rowOf(const Entry &e, const rec::Read &read) const {
  Row row;
  rowInto(row, e, read);
  return row;
}

void Service::rowInto(Row &row, const Entry &e, const rec::Read &read) const {
  computed_.clear();
  if (const Family *fam = familyOf(e.kind); fam && fam->compute) fam->compute(store_, e, computed_);
  row.segType = read.segType;
  row.seq = e.id;
  std::size_t used = 0;
  for (const rec::Field &f : read.fields.fields) {
    const std::string *v = nullptr;
    if (f.nameId == e.kind) v = &e.key;
    else if (const std::string *computed = computed_.find(f.nameId)) v = computed;
    else if (auto it = e.fields.find(f.nameId); it != e.fields.end()) v = &it->second;
    if (!v || v->empty()) continue;
    if (used == row.record.size()) row.record.emplace_back();
    Value &out = row.record[used++];
    out.id = f.nameId;
    out.text.assign(*v, 0, f.width);
  }
  row.record.resize(used);
}

Row &Service::newRow(Call &c) {
  if (spareRows_.empty()) return c.rows.emplace_back();
  c.rows.push_back(std::move(spareRows_.back()));
  spareRows_.pop_back();
  return c.rows.back();
}

// ---------------------------------------------------------------------------
// Contexts

Err Service::openProject(Call &c) {
  std::string name;
  if (Err e = readKey(c.req, rec::kProj.segType, keyWidth(kProject), &name); e != Err::None) return e;
  auto p = store_.find(kInstallation, rec::kProj.segType, name);
  if (!p) return Err::NoProject;
  c.handle = contexts_.newHandle(CtxKind::Project);
  store_.markOpen(p->id, c.handle);
  const rec::Read &result = rec::kProjOpen.result;
  c.rows.push_back(Row{result.segType, {{result.fields.fields[0].nameId, p->created}}, 0});
  c.after.push_back([this, h = c.handle, client = c.client, id = p->id] {
    contexts_.add({h, CtxKind::Project, client, id, h});
  });
  return Err::None;
}

Err Service::closeProject(Call &c) {
  if (const Context *msys = contexts_.agentOf(c.ctx->handle, CtxKind::Msys)) endSessionOf(msys->handle);
  store_.markClosed(c.ctx->handle);
  c.after.push_back([this, h = c.ctx->handle] { contexts_.close(h); });
  return Err::None;
}

Err Service::addProject(Call &c) {
  std::string name;
  Fields fields;
  if (Err e = readRecord(c.req, rec::kProj.add, &name, &fields); e != Err::None) return e;
  if (store_.find(kInstallation, rec::kProj.segType, name)) return Err::ProjectExists;
  const std::int64_t id = store_.add(kInstallation, rec::kProj.segType, name, fields, Store::now());
  c.handle = contexts_.newHandle(CtxKind::Project);
  store_.markOpen(id, c.handle);
  c.after.push_back([this, h = c.handle, client = c.client, id] { contexts_.add({h, CtxKind::Project, client, id, h}); });
  if (c.req.wantRecord) c.rows.push_back(rowOf(*store_.get(id), rec::kProj.returned));
  return Err::None;
}

Err Service::deleteProject(Call &c) {
  const std::int64_t id = c.ctx->project;
  if (contexts_.openByOther(id, c.client) || store_.isOpen(id, false)) return Err::ProjectInUse;
  store_.remove(id);
  c.after.push_back([this, client = c.client, id] { contexts_.closeProject(client, id); });
  return Err::None;
}

Err Service::openAgent(Call &c) {
  if (contexts_.agentOf(c.ctx->handle, c.route.agent) != nullptr) return Err::AlreadyOpen;
  c.handle = contexts_.newHandle(c.route.agent);
  c.after.push_back([this, h = c.handle, k = c.route.agent, client = c.client, id = c.ctx->project,
                     parent = c.ctx->handle] { contexts_.add({h, k, client, id, parent}); });
  return Err::None;
}

Err Service::closeAgent(Call &c) {
  if (c.route.agent == CtxKind::Msys) endSessionOf(c.ctx->handle);
  c.after.push_back([this, h = c.ctx->handle] { contexts_.close(h); });
  return Err::None;
}

Err Service::errText(Call &c) {
  const Segment *s = dataSegment(c.req, rec::kRetrieveErrTextSend.segType);
  if (s == nullptr) return Err::Malformed;
  const Item *n = s->find(wire::kErrorNumber);
  const std::string_view digits = n ? trimRight(n->value) : std::string_view();
  if (digits.empty()) return Err::BlankKey;
  if (digits.size() > 5 || !std::all_of(digits.begin(), digits.end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
    return Err::Malformed;
  const auto t = texts_.find(std::stoi(std::string(digits)));
  if (!t) return Err::NoEntry;
  Row row{rec::kRetrievedErrTextType, errorRecord(*t), 0};
  row.record.push_back({rec::kErrTextSource, t->fromFile ? textSource_ : std::string("qlmrqmgr")});
  if (c.req.wantRecord) c.rows.push_back(std::move(row));
  return Err::None;
}

// ---------------------------------------------------------------------------
// Entries

Err Service::add(Call &c) {
  const Family &f = *c.route.family;
  std::string key;
  Fields fields;
  if (Err e = readRecord(c.req, f.entity->add, &key, &fields); e != Err::None) return e;
  const std::int64_t scope = scopeOf(f, c.scope);
  if (store_.find(scope, f.kind(), key)) return Err::DuplicateKey;
  if (f.prepare)
    if (Err e = f.prepare(store_, 0, fields); e != Err::None) return e;
  const std::string now = Store::now();
  if (f.addStamp != 0 && !fields.count(f.addStamp)) fields[f.addStamp] = now;
  const std::int64_t id = store_.add(scope, f.kind(), key, fields, now);
  if (c.req.wantRecord) c.rows.push_back(rowOf(*store_.get(id), f.entity->returned));
  return Err::None;
}

Err Service::replace(Call &c) {
  const Family &f = *c.route.family;
  const rec::Send &send = f.entity->replace;
  std::string key;
  Fields fields;
  Err e = readRecord(c.req, send, &key, &fields);
  if (e != Err::None && !(e == Err::BlankKey && f.keyIsContext)) return e;
  auto entry = f.keyIsContext ? store_.get(c.ctx->project) : store_.find(scopeOf(f, c.scope), f.kind(), key);
  if (!entry) return Err::NoEntry;
  if (f.prepare)
    if (Err e2 = f.prepare(store_, entry->id, fields); e2 != Err::None) return e2;
  std::vector<std::uint16_t> clear;
  for (const rec::Field &x : send.items.fields)
    if (x.nameId != f.kind()) clear.push_back(x.nameId);
  store_.change(entry->id, fields, clear, Store::now());
  if (c.req.wantRecord) c.rows.push_back(rowOf(*store_.get(entry->id), f.entity->returned));
  return Err::None;
}

Err Service::remove(Call &c) {
  if (const Shelf *shelf = c.route.shelf) {
    // The one shelf there is, "$Default$": deleting it empties it.
    std::string name;
    if (Err e = readKey(c.req, shelf->nameId, rec::kShelfNameWidth, &name); e != Err::None) return e;
    if (name != rec::kDefaultShelf) return Err::NoEntry;
    for (const Family *f : shelf->families) store_.removeAll(scopeOf(*f, c.scope), f->kind());
    return Err::None;
  }
  const Family &f = *c.route.family;
  std::string key;
  if (Err e = readKey(c.req, f.kind(), f.entity->remove.key.width, &key); e != Err::None) return e;
  auto entry = store_.find(scopeOf(f, c.scope), f.kind(), key);
  if (!entry) return Err::NoEntry;
  if (f.guardRemove)
    if (Err e = f.guardRemove(store_, *entry); e != Err::None) return e;
  store_.remove(entry->id);
  return Err::None;
}

namespace {
constexpr Cmp cmpOf(Op op) {
  switch (op) {
    case Op::Gt: return Cmp::Gt;
    case Op::Lt: return Cmp::Lt;
    case Op::Ne: return Cmp::Ne;
    case Op::Ge: return Cmp::Ge;
    case Op::Le: return Cmp::Le;
    case Op::Eq: break;
  }
  return Cmp::Eq;
}

// The stored code of a requested one in every kind listed; -1 when a kind lacks it
// or the kinds disagree.
int codeIn(std::span<const Family *const> families, std::uint16_t requested) {
  int code = -2;
  for (const Family *f : families) {
    const int c = storedCode(f->kind(), requested);
    if (c < 0 || (code != -2 && c != code)) return -1;
    code = c;
  }
  return code;
}
}  // namespace

Err Service::list(Call &c) {
  const Route &rt = c.route;
  const std::span<const Family *const> families =
      rt.shelf != nullptr ? rt.shelf->families : std::span<const Family *const>(&rt.family, 1);
  const ListQuery &q = c.req.list;
  ListPlan plan;
  plan.scope = scopeOf(*families.front(), c.scope);
  plan.kind = families.front()->kind();
  plan.group = families.size() > 1 ? codesOf(plan.kind)->group : 0;
  plan.descending = q.descending;
  plan.offset = q.start - 1;
  plan.limit = q.count;
  if (q.sortField != 0) {
    const int code = codeIn(families, q.sortField);
    if (code < 0) return Err::UnknownField;
    plan.sortCode = static_cast<std::uint16_t>(code);
  }
  if (q.selectField != 0) {
    const int code = codeIn(families, q.selectField);
    if (code < 0) return Err::UnknownField;
    if (q.selects()) plan.select.push_back({static_cast<std::uint16_t>(code), cmpOf(q.op), q.value});
  }
  if (rt.container != nullptr) {
    const Family &box = *rt.container;
    std::string name;
    if (rt.containerData != 0) {
      if (Err e = readKey(c.req, rt.containerData, keyWidth(box), &name); e != Err::None) return e;
    } else if ((name = cut(c.req.related, keyWidth(box))).empty()) {
      return Err::BlankKey;
    }
    const auto container = store_.find(scopeOf(box, c.scope), box.kind(), name);
    if (!container) return Err::NoEntry;
    if (rt.linkField != 0)  // the entries whose link field holds the container's key
      plan.select.push_back({static_cast<std::uint16_t>(storedCode(plan.kind, rt.linkField)), Cmp::Eq, container->key});
    else
      plan.container = container->id;
  }
  if (!c.req.wantRecord) return Err::None;  // the request asked for no entries
  for (const Entry &e : store_.list(plan)) rowInto(newRow(c), e, familyOf(e.kind)->entity->listed.read);
  return Err::None;
}

Err Service::assign(Call &c, bool on) {
  const Family &member = *c.route.family, &box = *c.route.container;
  const std::string boxName = cut(c.req.related, keyWidth(box));
  if (boxName.empty()) return Err::BlankKey;
  std::string memberName;
  if (Err e = readKey(c.req, member.kind(), keyWidth(member), &memberName); e != Err::None) return e;
  auto container = store_.find(scopeOf(box, c.scope), box.kind(), boxName);
  if (!container) return Err::NoEntry;
  auto m = store_.find(scopeOf(member, c.scope), member.kind(), memberName);
  if (!m) return member.kind() == kProject.kind() ? Err::NoProject : Err::NoMember;
  if (on) return store_.assign(container->id, m->id) ? Err::None : Err::AssignmentExists;
  return store_.unassign(container->id, m->id) ? Err::None : Err::NoAssignment;
}

}  // namespace qlm::rqmgr
