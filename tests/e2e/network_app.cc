#include "network_app.h"

#include <cstring>

#include "records.h"

namespace qlm::test {

NetApp::NetApp(std::string project, std::string logon, std::string mailbox, std::string password)
    : project_(std::move(project)), logon_(std::move(logon)), mailbox_(std::move(mailbox)),
      password_(std::move(password)) {}

template <class R>
R NetApp::request() const { return inContext<R>(project_.c_str()); }

QlmRc NetApp::open() {
  auto o = request<QlmProjOpen>();
  if (QlmOpenProj(raw(&o), nullptr) != 0) {
    auto p = blankRecord<QlmProj>();
    put(p.projname, project_.c_str());
    if (const QlmRc rc = QlmAddProj(raw(&p), nullptr); rc != 0) return rc;
    auto l = request<QlmVnLogonReq>();
    put(l.logonid, logon_.c_str(), l.mailboxid, mailbox_.c_str(), l.field474, password_.c_str());
    if (const QlmRc rc = QlmAddVnLogon(raw(&l), nullptr); rc != 0) return rc;
  }
  auto c = request<QlmContextName>();
  if (const QlmRc rc = QlmOpenMbox(raw(&c)); rc != 0) return rc;
  return QlmOpenMsys(raw(&c));
}

QlmRc NetApp::openAll() {
  const QlmRc rc = QlmOpenCInterface();
  return rc != 0 ? rc : open();
}

QlmRc NetApp::start(QlmSessStarted *out) {
  auto s = request<QlmSessStartReq>();
  put(s.field1115, logon_.c_str(), s.field668, password_.c_str());
  auto started = blankRecord<QlmSessStarted>();
  const QlmRc rc = QlmStartSess(raw(&s), raw(&started));
  if (rc == 0) session_ = text(started.name);
  if (out) *out = started;
  return rc;
}

QlmRc NetApp::end(QlmSessResult *out) {
  auto e = request<QlmSessEndReq>();
  return QlmEndSess(raw(&e), out ? raw(out) : nullptr);
}

QlmRc NetApp::send(const std::string &to, const std::string &file, const std::string &cls, const std::string &subject,
                   QlmSendOrdrDone *out) {
  auto s = request<QlmSendOrdrDoReq>();
  put(s.mailboxid, to.c_str(), s.field781, file.c_str(), s.class_, cls.c_str(), s.field790, subject.c_str());
  return QlmDoSendOrdr(raw(&s), out ? raw(out) : nullptr);
}

QlmRc NetApp::receive(const std::string &target, QlmRecvOrdrDone *out, const std::string &from,
                      const std::string &cls) {
  auto r = request<QlmRecvOrdrDoReq>();
  put(r.fileid, target.c_str(), r.mailboxid, from.c_str(), r.class_, cls.c_str());
  return QlmDoRecvOrdr(raw(&r), out ? raw(out) : nullptr);
}

QlmRc NetApp::purge(const std::string &which, QlmPurgOrdrDone *out) {
  auto p = request<QlmPurgOrdrReq>();
  put(p.field2612, which.c_str());
  return QlmDoPurgOrdr(raw(&p), out ? raw(out) : nullptr);
}

QlmRc NetApp::query(std::vector<QlmQuryOrdrEntry> *entries) {
  auto q = smallQualifier("200", project_.c_str());
  entries->assign(200, blankRecord<QlmQuryOrdrEntry>());
  uint16_t count = 0;
  const QlmRc rc = QlmDoQuryOrdr(raw(&q), &count, raw(entries->data()));
  entries->resize(count);
  return rc;
}

QlmRc NetApp::recover(const std::string &sessionReceipt, QlmSessRcptRecovered *out) {
  auto r = request<QlmSessRcptRecoverReq>();
  put(r.field1172, sessionReceipt.c_str());
  return QlmRecoverSessRcpt(raw(&r), out ? raw(out) : nullptr);
}

QlmRc NetApp::receiveReceipts(std::vector<QlmRecvRcpt> *out, int max) {
  auto q = listQualifier("", "", std::to_string(max).c_str(), project_.c_str());
  std::vector<QlmRecvRcptEntry> entries(static_cast<std::size_t>(max), blankRecord<QlmRecvRcptEntry>());
  uint16_t count = 0;
  const QlmRc rc = QlmListRecvRcpt(raw(&q), &count, raw(entries.data()));
  out->clear();
  for (int i = 0; i < count; ++i) out->push_back(entries[static_cast<std::size_t>(i)].recvrcpt);
  return rc;
}

std::string outcome(QlmRc rc) { return rc == 0 ? "0" : std::to_string(rc) + " " + explained(); }

std::string explained() {
  QlmErrText t{};
  const QlmRc n = QlmErrorExplanation(raw(&t));
  const std::string m(t.errormessage, strnlen(t.errormessage, sizeof t.errormessage));
  return std::to_string(n) + " " + m.substr(0, m.find_last_not_of(' ') + 1);
}

}  // namespace qlm::test
