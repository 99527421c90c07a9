// The address book and profile families against the real Request Manager.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "installation.h"
#include "qlmc32.h"
#include "store.h"

using namespace qlm::test;

namespace {

int lastError() { return static_cast<int>(QlmErrorExplanation(nullptr)); }

class AddressBookE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QlmOpenCInterface(), 0u);
    QlmProj p;
    blank(p);
    put(p.projname, "Book");
    ASSERT_EQ(QlmAddProj(raw(&p), nullptr), 0u);
    blank(ctx);
    put(ctx.context, "Book");
    ASSERT_EQ(QlmOpenAdbk(raw(&ctx)), 0u);
  }
  void TearDown() override { QlmCloseCInterface(); }

  QlmRc addAddr(const char *nick, const char *last, const char *city = "", QlmAddr *out = nullptr) {
    QlmAddrReq r;
    blank(r);
    put(r.context, "Book");
    put(r.addr.nickname, nick);
    put(r.addr.lastname, last);
    put(r.addr.city, city);
    return QlmAddAddr(raw(&r), out ? raw(out) : nullptr);
  }
  QlmListQual qual(const char *select = "", const char *op = "", const char *value = "", const char *sort = "",
                   const char *order = "", const char *start = "1", const char *num = "100") {
    QlmListQual q;
    blank(q);
    put(q.context, "Book");
    put(q.selectfield, select);
    put(q.operator_, op);
    put(q.selectvalue, value);
    put(q.sortfield, sort);
    put(q.sortorder, order);
    put(q.startentry, start);
    put(q.numentries, num);
    return q;
  }
  std::vector<std::string> nicks(QlmListQual q) {
    std::vector<QlmAddr> a(100);
    blankRecord(raw(a.data()), static_cast<int>(a.size() * sizeof(QlmAddr)));
    uint16_t count = 0;
    EXPECT_EQ(QlmListAddr(raw(&q), &count, raw(a.data())), 0u);
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) out.push_back(text(a[i].nickname));
    return out;
  }
  QlmRc assign(QlmRc (*fn)(char *), const char *container, const char *member) {
    QlmAssignReq a;
    blank(a);
    put(a.context, "Book");
    put(a.container, container);
    put(a.member, member);
    return fn(raw(&a));
  }
  Installation inst;
  QlmContextName ctx;
};

using V = std::vector<std::string>;

}  // namespace

TEST_F(AddressBookE2E, AddressesAddReplaceDeleteAndSelectiveLists) {
  QlmAddr out;
  blank(out);
  ASSERT_EQ(addAddr("ada", "Lovelace", "London", &out), 0u);
  EXPECT_EQ(text(out.nickname), "ada");
  EXPECT_EQ(text(out.city), "London");
  ASSERT_EQ(addAddr("grace", "Hopper", "Arlington"), 0u);
  ASSERT_EQ(addAddr("alan", "Turing", "Wilmslow"), 0u);
  ASSERT_EQ(addAddr("edsger", "Dijkstra", "Austin"), 0u);

  EXPECT_NE(addAddr("ada", "Again"), 0u);  // keys are unique in the address book
  EXPECT_EQ(lastError(), 30007);

  EXPECT_EQ(nicks(qual("", "", "", "lastname", "A")), (V{"edsger", "grace", "ada", "alan"}));
  EXPECT_EQ(nicks(qual("", "", "", "LASTNAME", "D")), (V{"alan", "ada", "grace", "edsger"}));
  EXPECT_EQ(nicks(qual("city", "=", "London")), (V{"ada"}));
  EXPECT_EQ(nicks(qual("city", ">=", "B", "nickname", "A")), (V{"ada", "alan"}));
  EXPECT_EQ(nicks(qual("city", "<>", "London", "nickname", "A")), (V{"alan", "edsger", "grace"}));
  EXPECT_EQ(nicks(qual("", "", "", "nickname", "A", "2", "2")), (V{"alan", "edsger"}));

  QlmAddrReq r;
  blank(r);
  put(r.context, "Book");
  put(r.addr.nickname, "ada");
  put(r.addr.lastname, "King");
  put(r.addr.company, "Analytical Engines");
  blank(out);
  ASSERT_EQ(QlmReplaceAddr(raw(&r), raw(&out)), 0u);
  EXPECT_EQ(text(out.lastname), "King");
  EXPECT_EQ(text(out.company), "Analytical Engines");
  put(r.addr.nickname, "nobody");
  EXPECT_NE(QlmReplaceAddr(raw(&r), nullptr), 0u);
  EXPECT_EQ(lastError(), 30006);

  put(r.addr.nickname, "edsger");
  ASSERT_EQ(QlmDeleteAddr(raw(&r)), 0u);
  EXPECT_NE(QlmDeleteAddr(raw(&r)), 0u);
  EXPECT_EQ(lastError(), 30006);
  EXPECT_EQ(nicks(qual("", "", "", "nickname", "A")), (V{"ada", "alan", "grace"}));
}

TEST_F(AddressBookE2E, DistributionListsAndTradingProfilesWithTheirMembers) {
  for (const char *n : {"ada", "grace", "alan"}) ASSERT_EQ(addAddr(n, "X"), 0u);
  QlmDistListReq dl;
  blank(dl);
  put(dl.context, "Book");
  put(dl.distlist.name, "pioneers");
  put(dl.distlist.description, "the first ones");
  ASSERT_EQ(QlmAddDistList(raw(&dl), nullptr), 0u);
  QlmTradProfReq tp;
  blank(tp);
  put(tp.context, "Book");
  put(tp.tradprof.name, "partners");
  put(tp.tradprof.field145, "EDI");
  QlmTradProf tpOut;
  blank(tpOut);
  ASSERT_EQ(QlmAddTradProf(raw(&tp), raw(&tpOut)), 0u);
  EXPECT_EQ(text(tpOut.field145), "EDI");

  ASSERT_EQ(assign(QlmAsgAddrToDistList, "pioneers", "ada"), 0u);
  ASSERT_EQ(assign(QlmAsgAddrToDistList, "pioneers", "grace"), 0u);
  EXPECT_NE(assign(QlmAsgAddrToDistList, "pioneers", "nobody"), 0u);  // not in the address book
  EXPECT_EQ(lastError(), 30009);
  EXPECT_NE(assign(QlmAsgAddrToDistList, "pioneers", "ada"), 0u);     // assigned already
  EXPECT_EQ(lastError(), 30010);
  ASSERT_EQ(assign(QlmAsgAddrToTradProf, "partners", "alan"), 0u);
  ASSERT_EQ(assign(QlmAsgDistListToTradProf, "partners", "pioneers"), 0u);

  QlmSmallListQual sq;
  blank(sq);
  put(sq.context, "Book");
  put(sq.startentry, "1");
  put(sq.numentries, "10");
  QlmAddr addrs[10];
  blank(addrs);
  uint16_t count = 0;
  char pioneers[20], partners[20];
  putField(pioneers, 20, "pioneers");
  putField(partners, 20, "partners");
  ASSERT_EQ(QlmListAddrsOnDistList(pioneers, raw(&sq), &count, raw(addrs)), 0u);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(text(addrs[0].nickname), "ada");
  EXPECT_EQ(text(addrs[1].nickname), "grace");
  ASSERT_EQ(QlmListAddrsOnTradProf(partners, raw(&sq), &count, raw(addrs)), 0u);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(text(addrs[0].nickname), "alan");
  QlmDistList lists[10];
  blank(lists);
  ASSERT_EQ(QlmListDistListsOnTradProf(partners, raw(&sq), &count, raw(lists)), 0u);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(text(lists[0].description), "the first ones");

  ASSERT_EQ(assign(QlmUsgAddrFromDistList, "pioneers", "ada"), 0u);
  EXPECT_NE(assign(QlmUsgAddrFromDistList, "pioneers", "ada"), 0u);
  EXPECT_EQ(lastError(), 30011);
  // Deleting a member ends its assignments.
  QlmAddrReq r;
  blank(r);
  put(r.context, "Book");
  put(r.addr.nickname, "grace");
  ASSERT_EQ(QlmDeleteAddr(raw(&r)), 0u);
  ASSERT_EQ(QlmListAddrsOnDistList(pioneers, raw(&sq), &count, raw(addrs)), 0u);
  EXPECT_EQ(count, 0);
  ASSERT_EQ(assign(QlmUsgDistListFromTradProf, "partners", "pioneers"), 0u);
  ASSERT_EQ(QlmListDistListsOnTradProf(partners, raw(&sq), &count, raw(lists)), 0u);
  EXPECT_EQ(count, 0);

  QlmListQual q;
  blank(q);
  put(q.context, "Book");
  put(q.sortfield, "description");
  put(q.startentry, "1");
  put(q.numentries, "10");
  ASSERT_EQ(QlmListDistList(raw(&q), &count, raw(lists)), 0u);
  EXPECT_EQ(count, 1);
  ASSERT_EQ(QlmListTradProf(raw(&q), &count, nullptr), 8u);  // description is no trading profile keyword
  EXPECT_EQ(lastError(), QLM_ERR_BAD_SORTFIELD);
}

TEST_F(AddressBookE2E, CommunicationProfilesAndNetworkLogons) {
  QlmCommProfReq cp;
  blank(cp);
  put(cp.context, "Book");
  put(cp.commprof.profname, "dialup");
  put(cp.commprof.field466, "Y");
  put(cp.commprof.field821, "ATDT 555 0100");
  QlmCommProf cpOut;
  std::memset(&cpOut, '.', sizeof cpOut);
  ASSERT_EQ(QlmAddCommProf(raw(&cp), raw(&cpOut)), 0u);
  EXPECT_EQ(std::string(cpOut.profname, 8), "dialup..");  // the reader fills, it does not blank
  EXPECT_EQ(cpOut.field466[0], 'Y');
  EXPECT_EQ(cpOut.field821[0], '.');  // never read back: the caller's bytes stay

  QlmProjAssignReq pa;
  blank(pa);
  put(pa.profname, "dialup");
  put(pa.context, "Book");
  ASSERT_EQ(QlmAsgProjToCommProf(raw(&pa)), 0u);
  QlmPaging paging;
  blank(paging);
  put(paging.startentry, "1");
  put(paging.numentries, "10");
  QlmProjInfo infos[10];
  blank(infos);
  uint16_t count = 0;
  ASSERT_EQ(QlmListProjsOnCommProf(pa.profname, raw(&paging), &count, raw(infos)), 0u);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(text(infos[0].projname), "Book");
  ASSERT_EQ(QlmUsgProjFromCommProf(raw(&pa)), 0u);
  ASSERT_EQ(QlmListProjsOnCommProf(pa.profname, raw(&paging), &count, raw(infos)), 0u);
  EXPECT_EQ(count, 0);

  QlmVnLogonReq lr;
  blank(lr);
  put(lr.context, "Book");
  put(lr.logonid, "LOGON1");
  put(lr.mailboxid, "MBX-1");
  put(lr.field474, "secret");
  put(lr.field476, "primary logon");
  QlmVnLogon logon;
  blank(logon);
  ASSERT_EQ(QlmAddVnLogon(raw(&lr), raw(&logon)), 0u);
  EXPECT_EQ(text(logon.logonid), "LOGON1");
  EXPECT_EQ(text(logon.mailboxid), "MBX-1");
  EXPECT_EQ(text(logon.field476), "primary logon");  // at byte 27 of the returned record
  QlmListQual q;
  blank(q);
  put(q.context, "Book");
  put(q.selectfield, "mailboxid");
  put(q.selectvalue, "MBX-1");
  put(q.startentry, "1");
  put(q.numentries, "5");
  QlmVnLogon logons[5];
  blank(logons);
  ASSERT_EQ(QlmListVnLogon(raw(&q), &count, raw(logons)), 0u);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(text(logons[0].logonid), "LOGON1");
  ASSERT_EQ(QlmDeleteVnLogon(raw(&lr)), 0u);
  ASSERT_EQ(QlmListVnLogon(raw(&q), &count, raw(logons)), 0u);
  EXPECT_EQ(count, 0);
}

TEST_F(AddressBookE2E, ListOf65535AddressesArrivesWholeAndInOrder) {
  constexpr int kCount = 65535;
  {
    // Seed the address book straight into the database (adding them one request
    // at a time would only measure the disk's flushes).
    qlm::rqmgr::Store store(inst.store());
    store.begin(true);
    const auto project = store.find(qlm::rqmgr::kInstallation, 451, "Book");
    ASSERT_TRUE(project.has_value());
    const std::string stamp = qlm::rqmgr::Store::now();
    for (int i = 0; i < kCount; ++i) {
      char nick[16];
      std::snprintf(nick, sizeof nick, "n%05d", i);
      store.add(project->id, 105, nick, {{111, "City"}}, stamp);
    }
    store.commit();
  }
  std::vector<QlmAddr> all(kCount + 1);
  blankRecord(raw(all.data()), static_cast<int>(all.size() * sizeof(QlmAddr)));
  std::memset(&all[kCount], '#', sizeof(QlmAddr));
  QlmListQual q = qual("", "", "", "nickname", "A", "1", "65535");
  uint16_t count = 0;
  ASSERT_EQ(QlmListAddr(raw(&q), &count, raw(all.data())), 0u);
  ASSERT_EQ(count, kCount);
  bool ordered = true;
  for (int i = 0; i < kCount && ordered; ++i) {
    char nick[16];
    std::snprintf(nick, sizeof nick, "n%05d", i);
    ordered = text(all[i].nickname) == nick && text(all[i].city) == "City";
  }
  EXPECT_TRUE(ordered);
  EXPECT_EQ(all[kCount].nickname[0], '#');  // nothing past the area
}
