// Record tables of the address book and the project: addresses, distribution
// lists, trading profiles, projects, communication profiles, network logons.
//
// Each entity is one Entity descriptor: its record, what add and replace send (in
// wire order, over the request record), the delete key, the list keywords, and
// what the readers of a returned record and of a list entry accept. A name ID that
// a reader's table lacks is an unexpected item for that reader.
#pragma once
#include <cstddef>
#include <cstdint>

#include "qlmc32.h"
#include "records/common.h"
#include "records/layout.h"

namespace qlm::rec {

// ---------------------------------------------------------------------------
// Addresses (segment type 105). Name ID 119 belongs to no field; 120 is last.

inline constexpr Field kAddrFields[] = {
    QLM_FIELD(QlmAddr, nickname, 105),
    QLM_FIELD(QlmAddr, field106, 106),
    QLM_FIELD(QlmAddr, lastname, 107),
    QLM_FIELD(QlmAddr, field108, 108),
    QLM_FIELD(QlmAddr, field109, 109),
    QLM_FIELD(QlmAddr, company, 110),
    QLM_FIELD(QlmAddr, city, 111),
    QLM_FIELD(QlmAddr, field112, 112),
    QLM_FIELD(QlmAddr, state, 113),
    QLM_FIELD(QlmAddr, field114, 114),
    QLM_FIELD(QlmAddr, zip, 115),
    QLM_FIELD(QlmAddr, mailboxid, 116),
    QLM_FIELD(QlmAddr, field117, 117),
    QLM_FIELD(QlmAddr, field118, 118),
    QLM_FIELD(QlmAddr, field121, 121),
    QLM_FIELD(QlmAddr, field122, 122),
    QLM_FIELD(QlmAddr, field123, 123),
    QLM_FIELD(QlmAddr, field124, 124),
    QLM_FIELD(QlmAddr, field125, 125),
    QLM_FIELD(QlmAddr, field120, 120),
};
static_assert(tiles(kAddrFields, 0, sizeof(QlmAddr)));
inline constexpr Layout kAddrLayout{sizeof(QlmAddr), kAddrFields};

// Add and replace send every field in record order.
inline constexpr auto kAddrReqItems = moved(kAddrFields, offsetof(QlmAddrReq, addr));
static_assert(tiles(kAddrReqItems, kContextWidth, sizeof(QlmAddrReq)));

inline constexpr Keyword kAddrKeywords[] = {
    {"nickname", 105}, {"lastname", 107}, {"mailboxid", 116}, {"company", 110},
    {"city", 111},     {"state", 113},    {"zip", 115},
};
static_assert(keywordsIn(kAddrKeywords, kAddrFields));

inline constexpr Entity kAddr{
    .segType = 105,
    .record = kAddrLayout,
    .add = {104, 105, {sizeof(QlmAddrReq), kAddrReqItems}},
    .replace = {112, 105, {sizeof(QlmAddrReq), kAddrReqItems}},
    .remove = {106, QLM_FIELD(QlmAddrReq, addr.nickname, 105)},
    .list = {108, kAddrKeywords, true},
    .returned = {105, kAddrLayout},
    .listed = {sizeof(QlmAddr), 0, 0, {105, kAddrLayout}},
};
static_assert(valid(kAddr));
static_assert(kAddr.remove.key.offset == 20 && kAddr.remove.key.width == 20);
static_assert(!kAddr.record.has(119));

// ---------------------------------------------------------------------------
// Distribution lists (segment type 135)

inline constexpr Field kDistListFields[] = {
    QLM_FIELD(QlmDistList, name, 135),
    QLM_FIELD(QlmDistList, description, 136),
};
static_assert(tiles(kDistListFields, 0, sizeof(QlmDistList)));
inline constexpr Layout kDistListLayout{sizeof(QlmDistList), kDistListFields};

inline constexpr auto kDistListReqItems = moved(kDistListFields, offsetof(QlmDistListReq, distlist));
static_assert(tiles(kDistListReqItems, kContextWidth, sizeof(QlmDistListReq)));

inline constexpr Keyword kDistListKeywords[] = {{"name", 135}, {"description", 136}};
static_assert(keywordsIn(kDistListKeywords, kDistListFields));

inline constexpr Entity kDistList{
    .segType = 135,
    .record = kDistListLayout,
    .add = {116, 135, {sizeof(QlmDistListReq), kDistListReqItems}},
    .replace = {124, 135, {sizeof(QlmDistListReq), kDistListReqItems}},
    .remove = {118, QLM_FIELD(QlmDistListReq, distlist.name, 135)},
    .list = {120, kDistListKeywords, true},
    .returned = {135, kDistListLayout},
    .listed = {sizeof(QlmDistList), 0, 0, {135, kDistListLayout}},
};
static_assert(valid(kDistList));

// ---------------------------------------------------------------------------
// Trading profiles (segment type 137)

inline constexpr Field kTradProfFields[] = {
    QLM_FIELD(QlmTradProf, name, 137),
    QLM_FIELD(QlmTradProf, field138, 138),
    QLM_FIELD(QlmTradProf, field139, 139),
    QLM_FIELD(QlmTradProf, field140, 140),
    QLM_FIELD(QlmTradProf, field141, 141),
    QLM_FIELD(QlmTradProf, field142, 142),
    QLM_FIELD(QlmTradProf, field143, 143),
    QLM_FIELD(QlmTradProf, field144, 144),
    QLM_FIELD(QlmTradProf, field145, 145),
};
static_assert(tiles(kTradProfFields, 0, sizeof(QlmTradProf)));
inline constexpr Layout kTradProfLayout{sizeof(QlmTradProf), kTradProfFields};

inline constexpr auto kTradProfReqItems = moved(kTradProfFields, offsetof(QlmTradProfReq, tradprof));
static_assert(tiles(kTradProfReqItems, kContextWidth, sizeof(QlmTradProfReq)));

inline constexpr Keyword kTradProfKeywords[] = {{"name", 137}};
static_assert(keywordsIn(kTradProfKeywords, kTradProfFields));

inline constexpr Entity kTradProf{
    .segType = 137,
    .record = kTradProfLayout,
    .add = {128, 137, {sizeof(QlmTradProfReq), kTradProfReqItems}},
    .replace = {134, 137, {sizeof(QlmTradProfReq), kTradProfReqItems}},
    .remove = {130, QLM_FIELD(QlmTradProfReq, tradprof.name, 137)},
    .list = {132, kTradProfKeywords, true},
    .returned = {137, kTradProfLayout},
    .listed = {sizeof(QlmTradProf), 0, 0, {137, kTradProfLayout}},
};
static_assert(valid(kTradProf));

// ---------------------------------------------------------------------------
// Relations of the address book (assignment record: context, container, member).
// Addresses are assigned with the address requests 110 / 114, distribution lists
// with 122 / 126; the relation parameter names the container.

inline constexpr Field kAssignContainerDistList = QLM_FIELD(QlmAssignReq, container, 135);
inline constexpr Field kAssignContainerTradProf = QLM_FIELD(QlmAssignReq, container, 137);
inline constexpr Field kAssignMemberAddr = QLM_FIELD(QlmAssignReq, member, 105);
inline constexpr Field kAssignMemberDistList = QLM_FIELD(QlmAssignReq, member, 135);

inline constexpr Relation kAsgAddrToDistList{110, kAssignContainerDistList, kAssignMemberAddr};
inline constexpr Relation kUsgAddrFromDistList{114, kAssignContainerDistList, kAssignMemberAddr};
inline constexpr Relation kAsgAddrToTradProf{110, kAssignContainerTradProf, kAssignMemberAddr};
inline constexpr Relation kUsgAddrFromTradProf{114, kAssignContainerTradProf, kAssignMemberAddr};
inline constexpr Relation kAsgDistListToTradProf{122, kAssignContainerTradProf, kAssignMemberDistList};
inline constexpr Relation kUsgDistListFromTradProf{126, kAssignContainerTradProf, kAssignMemberDistList};

// List-on: container name (20 bytes) and small list qualifier record; the reply is
// the listed entity's list reply.
inline constexpr ListOn kListAddrsOnDistList{kAddr.list.request, 135, 0};
inline constexpr ListOn kListAddrsOnTradProf{kAddr.list.request, 137, 0};
inline constexpr ListOn kListDistListsOnTradProf{kDistList.list.request, 137, 0};

// ---------------------------------------------------------------------------
// Projects (segment type 451). A project sends one record and gets another back:
// 458 and 459 are only sent, 455, 462, 463 and 464 only read. The project's name
// is at the same time the context name of its requests.

inline constexpr Field kProjFields[] = {
    QLM_FIELD(QlmProj, projname, 451),
    QLM_FIELD(QlmProj, field453, 453),
    QLM_FIELD(QlmProj, field454, 454),
    QLM_FIELD(QlmProj, field458, 458),
    QLM_FIELD(QlmProj, field459, 459),
    QLM_FIELD(QlmProj, field460, 460),
    QLM_FIELD(QlmProj, field461, 461),
};
static_assert(tiles(kProjFields, 0, sizeof(QlmProj)));

inline constexpr Field kProjInfoFields[] = {
    QLM_FIELD(QlmProjInfo, projname, 451),
    QLM_FIELD(QlmProjInfo, field453, 453),
    QLM_FIELD(QlmProjInfo, field454, 454),
    QLM_FIELD(QlmProjInfo, field455, 455),
    QLM_FIELD(QlmProjInfo, field460, 460),
    QLM_FIELD(QlmProjInfo, field461, 461),
    QLM_FIELD(QlmProjInfo, field462, 462),
    QLM_FIELD(QlmProjInfo, field463, 463),
    QLM_FIELD(QlmProjInfo, field464, 464),
};
static_assert(tiles(kProjInfoFields, 0, sizeof(QlmProjInfo)));
static_assert(sameWidths(pick(kProjFields, {451, 453, 454, 460, 461}), kProjInfoFields));

// Replace never sends 461; the add and replace readers treat 464 as unexpected,
// the list entry reader stores it.
inline constexpr auto kProjReplaceItems = pick(kProjFields, {451, 453, 454, 458, 459, 460});
inline constexpr auto kProjInfoReturned = without<8>(kProjInfoFields, {464});

// The list takes a paging area (QlmPaging), no keywords and no context.
inline constexpr Entity kProj{
    .segType = 451,
    .record = {sizeof(QlmProjInfo), kProjInfoFields},
    .add = {254, 451, {sizeof(QlmProj), kProjFields}},
    .replace = {262, 451, {sizeof(QlmProj), kProjReplaceItems}},
    .remove = {256, QLM_FIELD(QlmProj, projname, 451)},
    .list = {258, {}, false},
    .returned = {451, {sizeof(QlmProjInfo), kProjInfoReturned}},
    .listed = {sizeof(QlmProjInfo), 0, 0, {451, {sizeof(QlmProjInfo), kProjInfoFields}}},
};
static_assert(valid(kProj));
static_assert(!kProj.replace.items.has(461) && kProj.add.items.has(461));
static_assert(!kProj.returned.fields.has(464) && kProj.listed.read.fields.has(464));
static_assert(!kProj.returned.fields.has(458) && !kProj.returned.fields.has(459));

// The project information values the Request Manager computes: the time of the last
// add or replace, whether some client holds the project open, the entry counts, and
// (lists only) whether a communication profile has it.
inline constexpr std::uint16_t kProjChanged = 455, kProjInUse = 462, kProjCounts = 463, kProjOnCommProf = 464;
static_assert(kProj.record.has(kProjChanged) && kProj.record.has(kProjInUse) && kProj.record.has(kProjCounts) &&
              kProj.listed.read.fields.has(kProjOnCommProf));

// ---------------------------------------------------------------------------
// Communication profiles (segment type 465). field820 and field821 are sent by
// add only (821 before 820) and never read back; replace sends 466, 467, 465.

inline constexpr Field kCommProfFields[] = {
    QLM_FIELD(QlmCommProf, profname, 465),
    QLM_FIELD(QlmCommProf, field466, 466),
    QLM_FIELD(QlmCommProf, field467, 467),
    QLM_FIELD(QlmCommProf, field820, 820),
    QLM_FIELD(QlmCommProf, field821, 821),
};
static_assert(tiles(kCommProfFields, 0, sizeof(QlmCommProf)));

inline constexpr auto kCommProfReqFields = moved(kCommProfFields, offsetof(QlmCommProfReq, commprof));
inline constexpr auto kCommProfAddItems = pick(kCommProfReqFields, {465, 466, 467, 821, 820});
inline constexpr auto kCommProfReplaceItems = pick(kCommProfReqFields, {466, 467, 465});
inline constexpr auto kCommProfRead = pick(kCommProfFields, {465, 466, 467});
static_assert(sameFields(kCommProfAddItems, kCommProfReqFields));

// The list neither reads nor checks `selectfield` and `sortfield`.
inline constexpr Entity kCommProf{
    .segType = 465,
    .record = {sizeof(QlmCommProf), kCommProfFields},
    .add = {266, 465, {sizeof(QlmCommProfReq), kCommProfAddItems}},
    .replace = {272, 465, {sizeof(QlmCommProfReq), kCommProfReplaceItems}},
    .remove = {268, QLM_FIELD(QlmCommProfReq, commprof.profname, 465)},
    .list = {270, {}, false},
    .returned = {465, {sizeof(QlmCommProf), kCommProfRead}},
    .listed = {sizeof(QlmCommProf), 0, 0, {465, {sizeof(QlmCommProf), kCommProfRead}}},
};
static_assert(valid(kCommProf));
static_assert(!kCommProf.returned.fields.has(820) && !kCommProf.returned.fields.has(821));

// Assigning a project: profname first, the project (which is the context) second.
inline constexpr Field kProjAssignContainer = QLM_FIELD(QlmProjAssignReq, profname, 465);
inline constexpr Field kProjAssignMember = QLM_FIELD(QlmProjAssignReq, context, 451);
inline constexpr Relation kAsgProjToCommProf{260, kProjAssignContainer, kProjAssignMember};
inline constexpr Relation kUsgProjFromCommProf{264, kProjAssignContainer, kProjAssignMember};

// Projects on a profile: profname (20 bytes) and a paging area; no context. Its
// header begins with the relation items 134 and 133, before the request identifier.
inline constexpr ListOn kListProjsOnCommProf{kProj.list.request, 465, 0};

// ---------------------------------------------------------------------------
// Network logons (segment type 472). The request and the returned record differ:
// 474 and 478 are only sent (474 before 478), 475 and 477 only read.

inline constexpr Field kVnLogonReqFields[] = {
    QLM_FIELD(QlmVnLogonReq, logonid, 472),
    QLM_FIELD(QlmVnLogonReq, mailboxid, 473),
    QLM_FIELD(QlmVnLogonReq, field474, 474),
    QLM_FIELD(QlmVnLogonReq, field478, 478),
    QLM_FIELD(QlmVnLogonReq, field476, 476),
};
static_assert(tiles(kVnLogonReqFields, kContextWidth, sizeof(QlmVnLogonReq)));

inline constexpr Field kVnLogonFields[] = {
    QLM_FIELD(QlmVnLogon, logonid, 472),
    QLM_FIELD(QlmVnLogon, mailboxid, 473),
    QLM_FIELD(QlmVnLogon, field475, 475),
    QLM_FIELD(QlmVnLogon, field476, 476),
    QLM_FIELD(QlmVnLogon, field477, 477),
};
static_assert(tiles(kVnLogonFields, 0, sizeof(QlmVnLogon)));
static_assert(sameWidths(pick(kVnLogonReqFields, {472, 473, 476}), kVnLogonFields));
inline constexpr Layout kVnLogonLayout{sizeof(QlmVnLogon), kVnLogonFields};

inline constexpr Keyword kVnLogonKeywords[] = {{"mailboxid", 473}};
static_assert(keywordsIn(kVnLogonKeywords, kVnLogonFields));

inline constexpr Entity kVnLogon{
    .segType = 472,
    .record = kVnLogonLayout,
    .add = {282, 472, {sizeof(QlmVnLogonReq), kVnLogonReqFields}},
    .replace = {288, 472, {sizeof(QlmVnLogonReq), kVnLogonReqFields}},
    .remove = {284, QLM_FIELD(QlmVnLogonReq, logonid, 472)},
    .list = {286, kVnLogonKeywords, true},
    .returned = {472, kVnLogonLayout},
    .listed = {sizeof(QlmVnLogon), 0, 0, {472, kVnLogonLayout}},
};
static_assert(valid(kVnLogon));
static_assert(!kVnLogon.returned.fields.has(474) && !kVnLogon.returned.fields.has(478));
static_assert(kVnLogon.remove.key.width == 10);

// A logon's mailbox and password as the request sends them; whether a session holds
// it and the messages waiting for it, as the Request Manager computes them.
inline constexpr std::uint16_t kLogonMailbox = 473, kLogonPassword = 474, kLogonInSession = 475, kLogonWaiting = 477;
static_assert(kVnLogon.add.items.has(kLogonMailbox) && kVnLogon.add.items.has(kLogonPassword) &&
              kVnLogon.record.has(kLogonInSession) && kVnLogon.record.has(kLogonWaiting));

}  // namespace qlm::rec
