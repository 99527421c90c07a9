// The message system: sessions, the operations run in them (send, receive, query,
// purge), processing a drop box, and recovering a session that a Request Manager
// left active when it ended. docs/network.md tells users what each does.
//
// A session belongs to one message system handle of this process, one at a time.
// Its state is a session receipt (status ACTIV until it ends) and a row of the
// sessions table naming the logon, its mailbox, this process's token and the
// handle. Closing the message system or its project, or losing the client, ends
// the session (ENDED); a session whose Request Manager died stays ACTIV until it is
// recovered (RECOV).
//
// Every operation runs in its request's transaction. A send adds the message's
// head under a savepoint and copies the file to the message's body (flushed) before
// that transaction commits; a receive writes each file (temporary name, flush,
// rename) before the transaction that removes its message commits, and the body
// goes once it has; so a message is either waiting or received whenever the
// process dies. An operation refused before
// anything moved makes no receipt and changes nothing; one that fails after it
// started undoes its part of the network, makes a receipt FAILD, and its request
// commits that receipt and answers 20 with error 30028.
#include <cstdio>
#include <cstdlib>

#include "password.h"
#include "records/addressbook.h"
#include "records/mailbox.h"
#include "records/sessions.h"
#include "service_internal.h"
#include "transfer.h"

namespace qlm::rqmgr {

// The outcome of one operation.
struct Outcome {
  Err err = Err::None;       // a refusal (nothing moved), or TransferFailed
  std::int64_t receipt = 0;  // the receipt made; 0 for a refusal
};

namespace {

// The name IDs the message system gives a meaning (docs/network.md).
namespace nid {
// network logon
inline constexpr std::uint16_t kLogonMailbox = 473, kLogonPassword = 474;
// session receipt (and the start record's logon and password)
inline constexpr std::uint16_t kStatus = 275, kDropBox = 276, kStarted = 280, kEnded = 281, kSent = 285,
                               kReceived = 286, kPurged = 287, kFailed = 288;
inline constexpr std::uint16_t kStartLogon = 1115, kStartPassword = 668;
// send and receive operations, and the orders of a drop box
inline constexpr std::uint16_t kSendTo = 773, kSendClass = 780, kSendFile = 781, kSendSubject = 790;
inline constexpr std::uint16_t kRecvFrom = 690, kRecvClass = 697, kRecvTarget = 698;
inline constexpr std::uint16_t kMoved = 8022;
// query entry
inline constexpr std::uint16_t kQuerySender = 2570, kQueryId = 2576, kQueryClass = 2577, kQuerySent = 2583,
                               kQuerySize = 2584, kQueryFile = 2590, kQuerySubject = 2591;
// purge, drop box, recovery
inline constexpr std::uint16_t kPurgeWhich = 2612, kPurgeCount = 2614;
inline constexpr std::uint16_t kDropBoxLogon = 654, kDropBoxPassword = 668, kProcessName = 1150;
inline constexpr std::uint16_t kRecoverName = 1172, kRecoverFlag = 1173;
}  // namespace nid

static_assert(rec::kVnLogon.add.items.has(nid::kLogonMailbox) && rec::kVnLogon.add.items.has(nid::kLogonPassword));
static_assert(rec::kSessRcpt.record.has(nid::kStatus) && rec::kSessRcpt.record.has(nid::kDropBox) &&
              rec::kSessRcpt.record.has(nid::kEnded) && rec::kSessRcpt.record.has(nid::kFailed));
static_assert(rec::kStartSess.send.items.has(nid::kStartLogon) && rec::kStartSess.send.items.has(nid::kStartPassword));
static_assert(rec::kDoSendOrdr.send.items.has(nid::kSendFile) && rec::kSendOrdr.record.has(nid::kSendSubject));
static_assert(rec::kDoRecvOrdr.send.items.has(nid::kRecvTarget) && rec::kRecvOrdr.record.has(nid::kRecvFrom));
static_assert(rec::kQuryOrdrEntries.read.fields.has(nid::kQueryId) && rec::kDoPurgOrdr.result.fields.has(nid::kPurgeCount));
static_assert(rec::kDropBox.record.has(nid::kDropBoxLogon) && rec::kDropBox.record.has(nid::kDropBoxPassword));
static_assert(rec::kRecoverSessRcpt.result.fields.has(nid::kRecoverFlag));

// The receipt an operation makes: its family and the name IDs of its fields.
struct ReceiptKind {
  std::uint16_t kind;
  const char *prefix;  // of the names the Request Manager makes
  std::uint16_t status, started, ended, order, mailbox, cls, file;
  std::uint16_t message;  // the message id, where a listed receipt shows it
  std::uint16_t counter;  // the session receipt's counter of successes
};
inline constexpr ReceiptKind kSendReceipt{1802, "SEND", 1803, 1804, 1805, 1806, 1808, 1813, 1825, 1826, nid::kSent};
inline constexpr ReceiptKind kRecvReceipt{721, "RECV", 722, 723, 724, 725, 727, 731, 732, 1831, nid::kReceived};

consteval bool fieldsOf(const ReceiptKind &k, const rec::Entity &e) {
  return k.kind == e.segType && e.record.has(k.status) && e.record.has(k.started) && e.record.has(k.ended) &&
         e.record.has(k.order) && e.record.has(k.mailbox) && e.record.has(k.cls) && e.record.has(k.file) &&
         e.listed.read.fields.has(k.message) && e.record.find(k.message)->width == 20;
}
static_assert(fieldsOf(kSendReceipt, rec::kSendRcpt) && fieldsOf(kRecvReceipt, rec::kRecvRcpt));

constexpr std::uint16_t kSessionKind = rec::kSessRcpt.segType;
constexpr int kNameDigits = 8;  // SESS00000001

// What one send or receive moves.
struct Transfer {
  std::string mailbox;  // send: the destination; receive: only from this sender (empty: any)
  std::string cls;      // send: the class; receive: only of this class (empty: any)
  std::string file;     // send: the file; receive: the file or directory it goes to
  std::string subject;  // send only
  std::string order;    // the order it runs for (processing a drop box), or empty
};

std::string valueOf(const Fields &f, std::uint16_t id) {
  const auto it = f.find(id);
  return it == f.end() ? std::string() : it->second;
}

Transfer sending(const Fields &f, std::string order = {}) {
  return {valueOf(f, nid::kSendTo), valueOf(f, nid::kSendClass), valueOf(f, nid::kSendFile),
          valueOf(f, nid::kSendSubject), std::move(order)};
}
Transfer receiving(const Fields &f, std::string order = {}) {
  return {valueOf(f, nid::kRecvFrom), valueOf(f, nid::kRecvClass), valueOf(f, nid::kRecvTarget), {}, std::move(order)};
}

std::string messageId(std::int64_t id) {
  char text[24];
  std::snprintf(text, sizeof text, "%016lld", static_cast<long long>(id));
  return text;
}

}  // namespace

// The network as one session of one project sees it, in one request.
class Network {
 public:
  Network(Store &store, const NetworkConfig &config, std::int64_t project, const Session &session)
      : store_(store), config_(config), bodies_(config.messagesDir), project_(project), session_(session) {}

  Outcome send(const Transfer &t);
  Outcome receive(const Transfer &t);
  // Removes the messages waiting for the session's mailbox; how many.
  std::int64_t purgeAll();
  bool purge(std::int64_t id);
  // Adds `by` to a counter of the session receipt.
  void count(std::uint16_t counter, std::int64_t by);
  // The bodies of the messages removed, to go once the request commits.
  std::vector<std::int64_t> removed;

 private:
  std::int64_t receipt(const ReceiptKind &k, const char *status, const std::string &started, Fields f);
  bool writeOut(const MessageHead &m, const std::string &path);
  // A message's body: a file beside an SQLite database, pieces in PostgreSQL's.
  bool writeBody(std::int64_t id, SourceFile &in, std::int64_t *size);
  bool readBody(const MessageHead &m, TargetFile &out);
  Outcome failed(Err e) {
    count(nid::kFailed, 1);
    return {e, 0};
  }

  Store &store_;
  const NetworkConfig &config_;
  MessageBodies bodies_;
  std::int64_t project_;
  const Session &session_;
};


void Network::count(std::uint16_t counter, std::int64_t by) {
  if (by == 0) return;
  const auto e = store_.get(session_.receipt);
  if (!e) return;
  const std::int64_t was = std::atoll(valueOf(e->fields, counter).c_str());
  store_.change(session_.receipt, {{counter, counterText(was + by)}}, {}, Store::now());
}

std::int64_t Network::receipt(const ReceiptKind &k, const char *status, const std::string &started, Fields f) {
  std::erase_if(f, [](const auto &v) { return v.second.empty(); });
  const std::string ended = Store::now();
  f[k.status] = status;
  f[k.started] = started;
  f[k.ended] = ended;
  const std::int64_t id = store_.add(project_, k.kind, store_.nextName(project_, k.kind, k.prefix, kNameDigits), f, ended);
  store_.assign(session_.receipt, id);
  return id;
}

Outcome Network::send(const Transfer &t) {
  if (t.mailbox.empty() || store_.findByField(rec::kVnLogon.segType, nid::kLogonMailbox, t.mailbox).empty())
    return failed(Err::UnknownMailbox);
  SourceFile in;
  if (t.file.empty() || !in.open(resolvePath(config_.exchangeDir, t.file))) return failed(Err::FileNotReadable);
  if (in.size() > config_.maxMessageBytes) return failed(Err::MessageTooLarge);
  const std::string started = Store::now();
  Fields f{{kSendReceipt.mailbox, t.mailbox}, {kSendReceipt.cls, t.cls}, {kSendReceipt.file, t.file},
           {kSendReceipt.order, t.order}};
  store_.savepoint();
  const std::int64_t id = store_.addMessage({0, session_.mailbox, t.mailbox, t.cls, t.subject, t.file, 0, started});
  std::int64_t size = 0;
  if (!writeBody(id, in, &size)) {
    store_.rollbackToSavepoint();
    count(nid::kFailed, 1);
    return {Err::TransferFailed, receipt(kSendReceipt, "FAILD", started, f)};
  }
  store_.setMessageSize(id, size);
  store_.release();
  f[nid::kMoved] = f[kSendReceipt.message] = messageId(id);
  count(kSendReceipt.counter, 1);
  return {Err::None, receipt(kSendReceipt, "SENT", started, f)};
}

bool Network::writeBody(std::int64_t id, SourceFile &in, std::int64_t *size) {
  *size = 0;
  if (store_.dialect() == Dialect::Sqlite) {
    TargetFile body;
    return body.open(bodies_.pathOf(id)) && copyFile(in, body, config_.maxMessageBytes, size) && body.commit();
  }
  std::string piece(kCopyBytes, '\0');
  for (std::int64_t seq = 0;; ++seq) {
    std::size_t filled = 0;
    while (filled < piece.size()) {
      const long got = in.read(piece.data() + filled, piece.size() - filled);
      if (got < 0) return false;
      if (got == 0) break;
      filled += static_cast<std::size_t>(got);
    }
    if (filled == 0) return true;
    if ((*size += static_cast<std::int64_t>(filled)) > config_.maxMessageBytes) return false;
    store_.addBodyPiece(id, seq, std::string_view(piece.data(), filled));
    if (filled < piece.size()) return true;
  }
}

bool Network::readBody(const MessageHead &m, TargetFile &out) {
  std::int64_t size = 0;
  if (store_.dialect() == Dialect::Sqlite) {
    SourceFile body;
    return body.open(bodies_.pathOf(m.id)) && copyFile(body, out, m.size, &size) && size == m.size;
  }
  for (std::int64_t seq = 0;; ++seq) {
    const auto piece = store_.bodyPiece(m.id, seq);
    if (!piece) return size == m.size;
    size += static_cast<std::int64_t>(piece->size());
    if (!out.write(piece->data(), piece->size())) return false;
  }
}

bool Network::writeOut(const MessageHead &m, const std::string &path) {
  TargetFile out;
  return out.open(path) && readBody(m, out) && out.commit();
}

std::int64_t Network::purgeAll() {
  const std::vector<std::int64_t> ids = store_.removeMessages(session_.mailbox);
  removed.insert(removed.end(), ids.begin(), ids.end());
  return static_cast<std::int64_t>(ids.size());
}

bool Network::purge(std::int64_t id) {
  const auto m = store_.message(id);
  if (!m || m->receiver != session_.mailbox || !store_.removeMessage(id)) return false;
  removed.push_back(id);
  return true;
}

Outcome Network::receive(const Transfer &t) {
  const std::string place = t.file.empty() ? std::string() : resolvePath(config_.exchangeDir, t.file);
  const bool intoDirectory = !place.empty() && isDirectory(place);
  if (place.empty() || !writableDirectory(intoDirectory ? place : directoryOf(place)))
    return failed(Err::FileNotWritable);
  const std::string started = Store::now();
  const std::vector<MessageHead> waiting =
      store_.messages({session_.mailbox, t.mailbox, t.cls}, 0, intoDirectory ? -1 : 1);
  Fields f{{kRecvReceipt.mailbox, t.mailbox}, {kRecvReceipt.cls, t.cls}, {kRecvReceipt.file, t.file},
           {kRecvReceipt.order, t.order}};
  std::int64_t moved = 0;
  bool broke = false;
  for (const MessageHead &m : waiting) {
    if (!writeOut(m, intoDirectory ? place + "/" + messageId(m.id) : place)) {
      broke = true;
      break;
    }
    store_.removeMessage(m.id);
    removed.push_back(m.id);
    ++moved;
  }
  if (moved == 1) {  // one message: the receipt names it, its sender and its class
    f[nid::kMoved] = f[kRecvReceipt.message] = messageId(waiting.front().id);
    f[kRecvReceipt.mailbox] = waiting.front().sender;
    f[kRecvReceipt.cls] = waiting.front().cls;
  } else if (moved > 1) {
    f[nid::kMoved] = std::to_string(moved) + " messages";
  }
  count(kRecvReceipt.counter, moved);
  if (broke) count(nid::kFailed, 1);
  const char *status = broke ? "FAILD" : moved > 0 ? "RECVD" : "EMPTY";
  return {broke ? Err::TransferFailed : Err::None, receipt(kRecvReceipt, status, started, f)};
}

namespace {

// Starts a session of the logon `logonId` of `project` on the message system
// `handle`; `params` (the other fields of the start record or of the drop box) are
// kept with its session receipt.
Err openSession(Store &store, std::int64_t project, const std::string &handle, const std::string &logonId,
                const std::string &password, Fields params, Session *out) {
  if (logonId.empty()) return Err::BlankKey;
  if (store.sessionHeld(handle)) return Err::SessionActive;
  const auto logon = store.find(project, rec::kVnLogon.segType, logonId);
  if (!logon) return Err::UnknownLogon;
  const auto hash = logon->fields.find(nid::kLogonPassword);
  if (hash != logon->fields.end() && !checkPassword(password, hash->second)) return Err::WrongPassword;
  const std::string mailbox = valueOf(logon->fields, nid::kLogonMailbox);
  if (mailbox.empty()) return Err::UnknownMailbox;
  const std::string now = Store::now();
  params[nid::kStartLogon] = logonId;
  params[nid::kStatus] = "ACTIV";
  params[nid::kStarted] = now;
  for (std::uint16_t counter : {nid::kSent, nid::kReceived, nid::kPurged, nid::kFailed})
    params[counter] = counterText(0);
  const std::string name = store.nextName(project, kSessionKind, "SESS", kNameDigits);
  *out = Session{store.add(project, kSessionKind, name, params, now), logon->id, mailbox, store.owner(), handle};
  store.addSession(*out);
  return Err::None;
}

void closeSession(Store &store, std::int64_t receipt, const char *status, Fields extra = {}) {
  const std::string now = Store::now();
  extra[nid::kStatus] = status;
  extra[nid::kEnded] = now;
  store.change(receipt, extra, {}, now);
  store.removeSession(receipt);
}

}  // namespace

// ---------------------------------------------------------------------------
// The requests

namespace {
// The request's data segment of `type` as fields of `items`; null when it is missing.
const Segment *readData(const Request &r, const rec::Send &send, Fields *f) {
  const Segment *s = dataSegment(r, send.segType);
  if (s != nullptr) readFields(*s, send.items, f);
  return s;
}
}  // namespace

// The entry `id` answered in `read`'s layout, when the request asked for a record;
// a reply that may carry any segment type goes as a session receipt.
void Service::answerWith(Call &c, std::int64_t id, const rec::Read &read) const {
  if (!c.req.wantRecord) return;
  Row row = rowOf(*store_.get(id), read);
  if (row.segType == rec::kAnySegType) row.segType = kSessionKind;
  c.rows.push_back(std::move(row));
}

Err Service::startSession(Call &c) {
  Fields f;
  if (!readData(c.req, rec::kStartSess.send, &f)) return Err::Malformed;
  const std::string password = valueOf(f, nid::kStartPassword);
  f.erase(nid::kStartPassword);  // never stored
  Session session;
  const Err e = openSession(store_, c.scope, c.ctx->handle, valueOf(f, nid::kStartLogon), password, f, &session);
  if (e == Err::None) answerWith(c, session.receipt, rec::kStartSess.result);
  return e;
}

Err Service::endSession(Call &c) {
  Fields f;
  if (!readData(c.req, rec::kEndSess.send, &f)) return Err::Malformed;
  const auto session = heldSession(c);
  if (!session) return Err::NoSession;
  closeSession(store_, session->receipt, "ENDED", f);
  answerWith(c, session->receipt, rec::kEndSess.result);
  return Err::None;
}

void Service::endSessionOf(const std::string &msysHandle) {
  if (const auto s = store_.sessionHeld(msysHandle)) closeSession(store_, s->receipt, "ENDED");
}

// The outcome of an operation as its request's answer: the receipt it made in
// `read`'s layout; a transfer that broke off commits that receipt. The bodies of
// the messages the request removed go once it has committed.
Err Service::conclude(Call &c, const Outcome &o, const rec::Read &read, Network &net) const {
  if (o.receipt != 0) answerWith(c, o.receipt, read);
  if (o.err == Err::TransferFailed) c.keep = true;
  forgetBodies(c, net);
  return o.err;
}

void Service::forgetBodies(Call &c, const Network &net) const {
  if (!net.removed.empty() && store_.dialect() == Dialect::Sqlite)  // PostgreSQL removed them with the messages
    c.after.push_back([bodies = MessageBodies(network_.messagesDir), ids = net.removed] {
      for (const std::int64_t id : ids) bodies.remove(id);
    });
}

std::optional<Session> Service::heldSession(const Call &c) { return store_.sessionHeld(c.ctx->handle); }

// One send (`op` kDoSendOrdr) or receive of the session: the request's fields as a
// transfer, the receipt it made as the answer.
Err Service::transfer(Call &c, const rec::Operation &op) {
  Fields f;
  if (!readData(c.req, op.send, &f)) return Err::Malformed;
  const auto session = heldSession(c);
  if (!session) return Err::NoSession;
  Network net(store_, network_, c.scope, *session);
  const bool send = &op == &rec::kDoSendOrdr;
  return conclude(c, send ? net.send(sending(f)) : net.receive(receiving(f)), op.result, net);
}

Err Service::query(Call &c) {
  const auto session = heldSession(c);
  if (!session) return Err::NoSession;
  if (!c.req.wantRecord) return Err::None;
  const rec::Layout &entry = rec::kQuryOrdrEntries.read.fields;
  for (const MessageHead &m : store_.messages({session->mailbox, {}, {}}, c.req.list.start - 1, c.req.list.count)) {
    Row row{rec::kQuryOrdrEntries.read.segType, {}, m.id};
    for (const auto &[id, value] : {std::pair<std::uint16_t, std::string>{nid::kQuerySender, m.sender},
                                    {nid::kQueryId, messageId(m.id)},
                                    {nid::kQueryClass, m.cls},
                                    {nid::kQuerySent, m.sent},
                                    {nid::kQuerySize, std::to_string(m.size)},
                                    {nid::kQueryFile, m.fileName},
                                    {nid::kQuerySubject, m.subject}})
      if (!value.empty()) row.record.push_back({id, value.substr(0, entry.find(id)->width)});
    c.rows.push_back(std::move(row));
  }
  return Err::None;
}

Err Service::purge(Call &c) {
  Fields f;
  if (!readData(c.req, rec::kDoPurgOrdr.send, &f)) return Err::Malformed;
  const auto session = heldSession(c);
  if (!session) return Err::NoSession;
  const std::string which = valueOf(f, nid::kPurgeWhich);
  if (which.empty()) return Err::BlankKey;
  Network net(store_, network_, c.scope, *session);
  std::int64_t purged = 1;
  if (which == "*") {
    purged = net.purgeAll();
  } else {
    const bool digits = which.size() <= 18 && which.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || !net.purge(std::atoll(which.c_str()))) return Err::NoMessage;
  }
  net.count(nid::kPurged, purged);
  forgetBodies(c, net);
  if (c.req.wantRecord) c.rows.push_back(Row{rec::kDoPurgOrdr.result.segType, {{nid::kPurgeCount, std::to_string(purged)}}, 0});
  return Err::None;
}

Err Service::processDropBox(Call &c) {
  Fields f;
  if (!readData(c.req, rec::kProcDropBox.send, &f)) return Err::Malformed;
  const std::string name = valueOf(f, nid::kProcessName);
  if (name.empty()) return Err::BlankKey;
  const auto box = store_.find(c.scope, rec::kDropBox.segType, name);
  if (!box) return Err::NoEntry;
  // The drop box's session parameters go with the session receipt as a start
  // record's would.
  Fields params{{nid::kDropBox, name}};
  for (const rec::Field &p : rec::kStartSess.send.items)
    if (p.nameId != nid::kStartLogon && p.nameId != nid::kStartPassword && box->fields.count(p.nameId))
      params[p.nameId] = box->fields.at(p.nameId);
  Session session;
  if (Err e = openSession(store_, c.scope, c.ctx->handle, valueOf(box->fields, nid::kDropBoxLogon),
                          valueOf(box->fields, nid::kDropBoxPassword), params, &session);
      e != Err::None)
    return e;
  Network net(store_, network_, c.scope, session);
  bool failures = false;
  for (const Entry &order : store_.members(box->id, rec::kSendOrdr.segType))
    failures |= net.send(sending(order.fields, order.key)).err != Err::None;
  for (const Entry &order : store_.members(box->id, rec::kRecvOrdr.segType))
    failures |= net.receive(receiving(order.fields, order.key)).err != Err::None;
  forgetBodies(c, net);
  closeSession(store_, session.receipt, failures ? "FAILD" : "ENDED");
  answerWith(c, session.receipt, rec::kProcDropBox.result);
  return Err::None;
}

Err Service::recover(Call &c) {
  Fields f;
  if (!readData(c.req, rec::kRecoverSessRcpt.send, &f)) return Err::Malformed;
  const std::string name = valueOf(f, nid::kRecoverName);
  if (name.empty()) return Err::BlankKey;
  const auto receipt = store_.find(c.scope, kSessionKind, name);
  if (!receipt || valueOf(receipt->fields, nid::kStatus) != "ACTIV") return Err::NotRecoverable;
  if (const auto s = store_.session(receipt->id); s && store_.holderAlive(*s)) return Err::NotRecoverable;
  Fields extra;
  if (f.count(nid::kRecoverFlag)) extra[nid::kRecoverFlag] = f.at(nid::kRecoverFlag);
  closeSession(store_, receipt->id, "RECOV", extra);
  answerWith(c, receipt->id, rec::kRecoverSessRcpt.result);
  return Err::None;
}

}  // namespace qlm::rqmgr
