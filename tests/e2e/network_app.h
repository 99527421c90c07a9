// One application's side of the network, for the end-to-end tests and the
// benchmarks: a project with a network logon, its mailbox and message system, a
// session, and the operations, each one library call filled the way an
// application fills its records.
#pragma once
#include <string>
#include <vector>

#include "qlmc32.h"

namespace qlm::test {

class NetApp {
 public:
  NetApp(std::string project, std::string logon, std::string mailbox, std::string password = "");

  // Opens the project (adding it, with its logon, the first time) and its mailbox
  // and message system; the interface must be open. 0 or the failing call's code.
  QlmRc open();
  // Opens the interface first, then as open().
  QlmRc openAll();
  QlmRc start(QlmSessStarted *out = nullptr);
  QlmRc end(QlmSessResult *out = nullptr);
  QlmRc send(const std::string &to, const std::string &file, const std::string &cls = "",
             const std::string &subject = "", QlmSendOrdrDone *out = nullptr);
  QlmRc receive(const std::string &target, QlmRecvOrdrDone *out = nullptr, const std::string &from = "",
                const std::string &cls = "");
  QlmRc purge(const std::string &which, QlmPurgOrdrDone *out = nullptr);
  // The waiting messages (at most 200).
  QlmRc query(std::vector<QlmQuryOrdrEntry> *entries);
  QlmRc recover(const std::string &sessionReceipt, QlmSessRcptRecovered *out = nullptr);
  // The receive receipts of the project (at most `max`).
  QlmRc receiveReceipts(std::vector<QlmRecvRcpt> *out, int max = 1000);

  const std::string &project() const { return project_; }
  // The session receipt of the last session started.
  const std::string &session() const { return session_; }

 private:
  template <class R>
  R request() const;

  std::string project_, logon_, mailbox_, password_, session_;
};

// The last error as QlmErrorExplanation gives it: "number message".
std::string explained();
// "0" for a call that succeeded, else its return code and the last error explained.
std::string outcome(QlmRc rc);

}  // namespace qlm::test
