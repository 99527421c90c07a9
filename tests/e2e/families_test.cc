// Every family's requests through the library against the real Request Manager:
// what the library sends is what the server reads, and what it answers is what the
// readers take, records and lists (over several messages, walked by entry size).
// What the server stores, computes and refuses is tested in rqmgr/, the bytes and
// the readers in tests/unit.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "installation.h"
#include "network_app.h"
#include "qlmc32.h"
#include "store.h"

using namespace qlm::test;

namespace {

using Names = std::vector<std::string>;

class FamiliesE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QlmOpenCInterface(), 0u);
    auto p = blankRecord<QlmProj>();
    put(p.projname, "Fam");
    ASSERT_EQ(QlmAddProj(raw(&p), nullptr), 0u);
    auto ctx = req<QlmContextName>();
    ASSERT_EQ(QlmOpenAdbk(raw(&ctx)), 0u);
    ASSERT_EQ(QlmOpenMbox(raw(&ctx)), 0u);
  }
  void TearDown() override { QlmCloseCInterface(); }

  template <class R>
  static R req() { return inContext<R>("Fam"); }
  static char *name(const char *n) {
    static char field[4][20];
    static int next = 0;
    char *f = field[next++ % 4];
    putField(f, 20, n);
    return f;
  }
  static QlmRc relate(QlmRc (*call)(char *), const char *container, const char *member) {
    auto a = assignment(container, member, "Fam");
    return call(raw(&a));
  }
  // The key (`width` bytes at `at`) of each entry a list call puts into an area,
  // walked by `sizeOf` (mixed lists, "S:name"/"R:name") or by `size` (one kind).
  static Names walk(const std::function<QlmRc(uint16_t *, char *)> &list, QlmRc (*sizeOf)(char) = nullptr,
                    std::size_t size = 0, std::size_t at = 0, std::size_t width = 20) {
    std::string a(200 * sizeof(QlmRecvRcptEntry), ' ');
    uint16_t count = 0;
    EXPECT_EQ(list(&count, a.data()), 0u);
    Names out;
    for (std::size_t i = 0, p = 0; i < count && p < a.size(); ++i, p += sizeOf ? sizeOf(a[p]) : size) {
      std::string field = a.substr(p + at + (sizeOf ? 1 : 0), width);
      field.erase(field.find_last_not_of(' ') + 1);
      out.push_back(sizeOf ? a.substr(p, 1) + ":" + field : field);
    }
    return out;
  }
  template <class Q>
  static Names walk(QlmRc (*list)(char *, uint16_t *, char *), Q &q, QlmRc (*sizeOf)(char), std::size_t size = 0,
                    std::size_t at = 0, std::size_t width = 20) {
    return walk([&](uint16_t *n, char *a) { return list(raw(&q), n, a); }, sizeOf, size, at, width);
  }
  Installation inst_;
};

}  // namespace

TEST_F(FamiliesE2E, TheAddressBookAndTheProfiles) {
  auto addr = req<QlmAddrReq>();
  auto out = blankRecord<QlmAddr>();
  for (const auto &[nick, last, city] : {std::tuple{"ada", "Lovelace", "London"}, {"grace", "Hopper", "Arlington"},
                                        {"alan", "Turing", "Wilmslow"}}) {
    put(addr.addr.nickname, nick, addr.addr.lastname, last, addr.addr.city, city);
    out = blankRecord<QlmAddr>();
    ASSERT_EQ(QlmAddAddr(raw(&addr), raw(&out)), 0u);
    EXPECT_EQ(text(out.nickname) + "/" + text(out.city), std::string(nick) + "/" + city);
  }
  // Keys are unique in the address book.
  EXPECT_EQ(outcome(QlmAddAddr(raw(&addr), nullptr)), "16 30007 An entry with that key already exists");
  const auto addrs = [&](const char *select, const char *op, const char *value, const char *sort, const char *order) {
    auto q = listQualifier(select, sort, "100", "Fam");
    put(q.operator_, op, q.selectvalue, value, q.sortorder, order);
    return walk(QlmListAddr, q, nullptr, sizeof(QlmAddr));
  };
  EXPECT_EQ(addrs("", "", "", "LASTNAME", "D"), (Names{"alan", "ada", "grace"}));
  EXPECT_EQ(addrs("city", ">=", "B", "nickname", "A"), (Names{"ada", "alan"}));
  put(addr.addr.nickname, "ada", addr.addr.company, "Analytical Engines");
  ASSERT_EQ(QlmReplaceAddr(raw(&addr), raw(&out)), 0u);
  EXPECT_EQ(text(out.company), "Analytical Engines");
  put(addr.addr.nickname, "alan");
  ASSERT_EQ(QlmDeleteAddr(raw(&addr)), 0u);
  EXPECT_EQ(outcome(QlmDeleteAddr(raw(&addr))), "16 30006 The entry does not exist");

  // Distribution lists and trading profiles with their members.
  auto dl = req<QlmDistListReq>();
  put(dl.distlist.name, "pioneers", dl.distlist.description, "the first ones");
  ASSERT_EQ(QlmAddDistList(raw(&dl), nullptr), 0u);
  ASSERT_EQ(QlmReplaceDistList(raw(&dl), nullptr), 0u);
  auto tp = req<QlmTradProfReq>();
  put(tp.tradprof.name, "partners", tp.tradprof.field145, "EDI");
  auto tpOut = blankRecord<QlmTradProf>();
  ASSERT_EQ(QlmAddTradProf(raw(&tp), raw(&tpOut)), 0u);
  EXPECT_EQ(text(tpOut.field145), "EDI");
  ASSERT_EQ(QlmReplaceTradProf(raw(&tp), nullptr), 0u);
  ASSERT_EQ(relate(QlmAsgAddrToDistList, "pioneers", "ada"), 0u);
  ASSERT_EQ(relate(QlmAsgAddrToDistList, "pioneers", "grace"), 0u);
  ASSERT_EQ(relate(QlmAsgAddrToTradProf, "partners", "grace"), 0u);
  ASSERT_EQ(relate(QlmAsgDistListToTradProf, "partners", "pioneers"), 0u);
  auto sq = smallQualifier("10", "Fam");
  const auto on = [&](QlmRc (*list)(char *, char *, uint16_t *, char *), const char *container, std::size_t size) {
    return walk([&](uint16_t *n, char *a) { return list(name(container), raw(&sq), n, a); }, nullptr, size);
  };
  EXPECT_EQ(on(QlmListAddrsOnDistList, "pioneers", sizeof(QlmAddr)), (Names{"ada", "grace"}));
  EXPECT_EQ(on(QlmListAddrsOnTradProf, "partners", sizeof(QlmAddr)), (Names{"grace"}));
  EXPECT_EQ(on(QlmListDistListsOnTradProf, "partners", sizeof(QlmDistList)), (Names{"pioneers"}));
  ASSERT_EQ(relate(QlmUsgAddrFromDistList, "pioneers", "ada"), 0u);
  ASSERT_EQ(relate(QlmUsgAddrFromTradProf, "partners", "grace"), 0u);
  ASSERT_EQ(relate(QlmUsgDistListFromTradProf, "partners", "pioneers"), 0u);
  EXPECT_EQ(on(QlmListAddrsOnDistList, "pioneers", sizeof(QlmAddr)), (Names{"grace"}));
  auto lq = listQualifier("", "description", "10", "Fam");
  EXPECT_EQ(walk(QlmListDistList, lq, nullptr, sizeof(QlmDistList)), (Names{"pioneers"}));
  lq = listQualifier("", "", "10", "Fam");
  EXPECT_EQ(walk(QlmListTradProf, lq, nullptr, sizeof(QlmTradProf)), (Names{"partners"}));
  for (QlmRc (*del)(char *) : {QlmDeleteDistList, QlmDeleteTradProf}) {
    auto d = req<QlmDistListReq>();  // the key follows the context in both records
    put(d.distlist.name, del == QlmDeleteDistList ? "pioneers" : "partners");
    EXPECT_EQ(del(raw(&d)), 0u);
  }

  // A communication profile and a network logon (a project on a profile: rqmgr/service_test.cc).
  auto cp = req<QlmCommProfReq>();
  put(cp.commprof.profname, "dialup", cp.commprof.field466, "Y", cp.commprof.field821, "ATDT 555 0100");
  auto cpOut = blankRecord<QlmCommProf>();
  ASSERT_EQ(QlmAddCommProf(raw(&cp), raw(&cpOut)), 0u);
  EXPECT_EQ(cpOut.field466[0], 'Y');
  ASSERT_EQ(QlmReplaceCommProf(raw(&cp), nullptr), 0u);
  EXPECT_EQ(walk(QlmListCommProf, lq, nullptr, sizeof(QlmCommProf)), (Names{"dialup"}));
  ASSERT_EQ(QlmDeleteCommProf(raw(&cp)), 0u);
  auto lr = req<QlmVnLogonReq>();
  put(lr.logonid, "LOGON1", lr.mailboxid, "MBX-1", lr.field474, "secret", lr.field476, "primary logon");
  auto logon = blankRecord<QlmVnLogon>();
  ASSERT_EQ(QlmAddVnLogon(raw(&lr), raw(&logon)), 0u);
  EXPECT_EQ(text(logon.logonid) + "/" + text(logon.field476), "LOGON1/primary logon");
  ASSERT_EQ(QlmReplaceVnLogon(raw(&lr), nullptr), 0u);
  lq = listQualifier("mailboxid", "", "5", "Fam");
  put(lq.selectvalue, "MBX-1");
  const auto logons = [&] {
    return walk(QlmListVnLogon, lq, nullptr, sizeof(QlmVnLogon), 0, sizeof(QlmVnLogon::logonid));
  };
  EXPECT_EQ(logons(), (Names{"LOGON1"}));
  ASSERT_EQ(QlmDeleteVnLogon(raw(&lr)), 0u);
  EXPECT_TRUE(logons().empty());
}

TEST_F(FamiliesE2E, ListOf65535AddressesArrivesWholeAndInOrder) {
  constexpr int kCount = 65535;
  // n00000, n00001, ... n65534
  const auto nick = [](int i) { return "n" + std::string(5 - std::to_string(i).size(), '0') + std::to_string(i); };
  {
    // Seed the address book straight into the database (adding them one request
    // at a time would only measure the disk's flushes).
    qlm::rqmgr::Store store(inst_.store());
    qlm::rqmgr::Store::Transaction txn(store, true);
    const auto project = store.find(qlm::rqmgr::kInstallation, 451, "Fam");
    ASSERT_TRUE(project.has_value());
    const std::string stamp = qlm::rqmgr::Store::now();
    for (int i = 0; i < kCount; ++i) store.add(project->id, 105, nick(i), {{111, "City"}}, stamp);
    txn.commit();
  }
  std::vector<QlmAddr> all(kCount + 1);
  blankRecord(raw(all.data()), static_cast<int>(all.size() * sizeof(QlmAddr)));
  std::memset(&all[kCount], '#', sizeof(QlmAddr));
  auto q = listQualifier("", "nickname", "65535", "Fam");
  uint16_t count = 0;
  ASSERT_EQ(QlmListAddr(raw(&q), &count, raw(all.data())), 0u);
  ASSERT_EQ(count, kCount);
  bool ordered = true;
  for (int i = 0; i < kCount && ordered; ++i) ordered = text(all[i].nickname) == nick(i) && text(all[i].city) == "City";
  EXPECT_TRUE(ordered);
  EXPECT_EQ(all[kCount].nickname[0], '#');  // nothing past the area
}

TEST_F(FamiliesE2E, TheMailboxItsShelvesAndDropBoxes) {
  auto so = req<QlmSendOrdrReq>();
  auto ro = req<QlmRecvOrdrReq>();
  const std::string d(79, 'd');
  put(so.sendordr.description, d.c_str(), ro.recvordr.description, d.c_str());
  for (int i = 100; i < 140; ++i) {  // enough for several messages
    put(so.sendordr.name, ("S" + std::to_string(i)).c_str());
    ASSERT_EQ(QlmAddSendOrdr(raw(&so), nullptr), 0u);
    put(ro.recvordr.name, ("R" + std::to_string(i)).c_str());
    ASSERT_EQ(QlmAddRecvOrdr(raw(&ro), nullptr), 0u);
  }
  auto q = listQualifier("", "", "100", "Fam");
  const auto shelf = [&] { return walk(QlmListOrdrsOnOrdrShlf, q, QlmSizeOfOrdr); };
  Names names = shelf();
  ASSERT_EQ(names.size(), 80u);
  EXPECT_EQ(names[0] + names[39] + names[40] + names[79], "R:R100R:R139S:S100S:S139");
  put(q.startentry, "39", q.numentries, "4");
  EXPECT_EQ(shelf(), (Names{"R:R138", "R:R139", "S:S100", "S:S101"}));
  EXPECT_EQ(outcome(QlmAddSendOrdr(raw(&so), nullptr)), "16 30007 An entry with that key already exists");
  auto lq = listQualifier("", "name", "2", "Fam");
  EXPECT_EQ(walk(QlmListSendOrdr, lq, nullptr, 500, 1), (Names{"S100", "S101"}));
  EXPECT_EQ(walk(QlmListRecvOrdr, lq, nullptr, 348, 1), (Names{"R100", "R101"}));

  // The receipt shelf with both sizes side by side.
  auto sr = req<QlmSendRcptReq>();
  for (const auto &[rcpt, order] : {std::pair{"X-1", "S100"}, {"X-2", "S101"}}) {
    put(sr.sendrcpt.name, rcpt, sr.sendrcpt.ordername, order);
    ASSERT_EQ(QlmAddSendRcpt(raw(&sr), nullptr), 0u);
  }
  auto rr = req<QlmRecvRcptReq>();
  put(rr.recvrcpt.name, "Y-1");
  ASSERT_EQ(QlmAddRecvRcpt(raw(&rr), nullptr), 0u);
  auto sq = smallQualifier("100", "Fam");
  EXPECT_EQ(walk(QlmListRcptsOnRcptShlf, sq, QlmSizeOfRcpt), (Names{"S:X-1", "S:X-2", "R:Y-1"}));

  // The orders of a drop box: request 366 like the drop box list, told apart by its data segment.
  auto box = req<QlmDropBoxReq>();
  put(box.name, "NIGHTLY");
  ASSERT_EQ(QlmAddDropBox(raw(&box), nullptr), 0u);
  ASSERT_EQ(relate(QlmAsgSendOrdrToDropBox, "NIGHTLY", "S101"), 0u);
  ASSERT_EQ(relate(QlmAsgRecvOrdrToDropBox, "NIGHTLY", "R102"), 0u);
  EXPECT_EQ(outcome(relate(QlmAsgSendOrdrToDropBox, "NIGHTLY", "R103")),  // a receive order
            "16 30009 The member is not in the address book or mailbox");
  EXPECT_EQ(walk([&](uint16_t *n, char *a) { return QlmListOrdrsOnDropBox(name("NIGHTLY"), raw(&sq), n, a); },
                 QlmSizeOfOrdr),
            (Names{"R:R102", "S:S101"}));
}
