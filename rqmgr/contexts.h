// The contexts that clients hold open in this Request Manager: projects, and per
// open project its address book, mailbox and message system.
//
// Each open context has a handle: 10 printable characters, the kind letter (P
// project, A address book, M mailbox, S message system) followed by nine decimal
// digits of a counter of this process ("P000000001"). Handles are never reused
// while the process lives. A handle belongs to the client that opened it; any other
// client's use of it is refused. Opening the same project twice gives two
// independent project contexts. Each project context holds at most one address
// book, one mailbox and one message system.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qlm::rqmgr {

enum class CtxKind : char { Project = 'P', Adbk = 'A', Mbox = 'M', Msys = 'S' };

struct Context {
  std::string handle;
  CtxKind kind;
  int client;
  std::int64_t project;        // the project's entry id
  std::string projectHandle;   // for an agent: its project context; for a project: its own handle
};

class Contexts {
 public:
  // A new handle of that kind (not yet in use).
  std::string newHandle(CtxKind kind);
  // Registers an open context. For a project, `projectHandle` is its own handle;
  // for an agent, the handle of its project context.
  void add(const Context &c) { byHandle_[c.handle] = c; }
  // The client's context of that kind with that handle, or null.
  const Context *find(int client, CtxKind kind, const std::string &handle) const;
  // The agent of that kind open under a project context, or null.
  const Context *agentOf(const std::string &projectHandle, CtxKind kind) const;
  // Closes a context; closing a project context closes its agents too. Returns the
  // handles closed.
  std::vector<std::string> close(const std::string &handle);
  // Closes every context of a client, or of a project for one client; returns the
  // project handles closed.
  std::vector<std::string> closeClient(int client);
  std::vector<std::string> closeProject(int client, std::int64_t project);
  // The handles of a client's contexts of one kind.
  std::vector<std::string> handlesOf(int client, CtxKind kind) const;
  // Whether a client other than `client` holds the project open.
  bool openByOther(std::int64_t project, int client) const;
  // Whether any client holds the project open.
  bool isOpen(std::int64_t project) const;
  std::size_t size() const { return byHandle_.size(); }

 private:
  std::vector<std::string> closeWhere(bool (*match)(const Context &, int, std::int64_t), int client,
                                      std::int64_t project);
  std::map<std::string, Context> byHandle_;
  std::uint32_t counter_ = 0;
};

}  // namespace qlm::rqmgr
