// Words for requests and entry kinds (request_names.h).
#include "request_names.h"

#include <utility>

namespace qlm::rqmgr {
namespace {

constexpr std::pair<std::uint16_t, const char *> kKindWords[] = {
    {451, "project"},        {465, "commprofile"},    {105, "address"},    {135, "distlist"},
    {137, "tradingprofile"}, {472, "logon"},          {1180, "sendorder"}, {687, "receiveorder"},
    {1802, "sendreceipt"},   {721, "receivereceipt"}, {652, "dropbox"},    {274, "sessionreceipt"},
};

const char *Verb(Kind k) {
  switch (k) {
    case Kind::Shutdown: return "shutdown";
    case Kind::OpenProject: return "open project";
    case Kind::CloseProject: return "close project";
    case Kind::AddProject: return "add project";
    case Kind::DeleteProject: return "delete project";
    case Kind::OpenAgent: return "open";
    case Kind::CloseAgent: return "close";
    case Kind::ErrText: return "error texts";
    case Kind::Add: return "add";
    case Kind::Replace: return "replace";
    case Kind::Delete: return "delete";
    case Kind::List: return "list";
    case Kind::Assign: return "assign";
    case Kind::Unassign: return "unassign";
    case Kind::StartSession: return "start session";
    case Kind::EndSession: return "end session";
    case Kind::Send: return "send";
    case Kind::Receive: return "receive";
    case Kind::Query: return "query";
    case Kind::Purge: return "purge";
    case Kind::ProcessDropBox: return "process drop box";
    case Kind::Recover: return "recover session";
  }
  return "request";
}

const char *Agent(CtxKind k) {
  switch (k) {
    case CtxKind::Adbk: return " address book";
    case CtxKind::Mbox: return " mailbox";
    case CtxKind::Msys: return " message system";
    case CtxKind::Project: break;
  }
  return " project";
}

}  // namespace

std::string KindWord(std::uint16_t kind) {
  for (const auto &[n, word] : kKindWords)
    if (n == kind) return word;
  return std::to_string(kind);
}

std::uint16_t KindOfWord(const std::string &word) {
  for (const auto &[n, w] : kKindWords)
    if (word == w) return n;
  if (word.empty() || word.size() > 5 || word.find_first_not_of("0123456789") != std::string::npos) return 0;
  const unsigned long n = std::stoul(word);
  return n < 65536 ? static_cast<std::uint16_t>(n) : 0;
}

std::string RouteWords(const Route &r) {
  std::string words = Verb(r.kind);
  if (r.kind == Kind::OpenAgent || r.kind == Kind::CloseAgent) return words + Agent(r.agent);
  if (r.family != nullptr) words += " " + KindWord(r.family->kind());
  else if (r.shelf != nullptr) words += " shelf";
  if (r.container != nullptr) words += (r.kind == Kind::Assign || r.kind == Kind::Unassign ? " to " : " of ") +
                                       KindWord(r.container->kind());
  return words;
}

}  // namespace qlm::rqmgr
