// Record tables of the message system and the session receipts: starting and
// ending sessions, sending, receiving, querying and purging in them, processing
// a drop box, and session receipts with their recovery.
//
// The session operations each have their own request record and result record
// (Operation). Their readers copy every item whose name ID belongs to the result
// record and trace any other as unexpected; no reader clears a result record.
#pragma once
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "qlmc32.h"
#include "records/common.h"
#include "records/layout.h"
#include "records/mailbox.h"

namespace qlm::rec {

// ---------------------------------------------------------------------------
// Session receipts (segment type 274): the record that is added, returned and
// listed (107 bytes apart, no entry type character). Add sends name before status,
// although status comes first in the record.

inline constexpr Field kSessRcptFields[] = {
    QLM_FIELD(QlmSessRcpt, status, 275),
    QLM_FIELD(QlmSessRcpt, name, 274),
    QLM_FIELD(QlmSessRcpt, dropboxname, 276),
    QLM_FIELD(QlmSessRcpt, startdate, 280),
    QLM_FIELD(QlmSessRcpt, field281, 281),
    QLM_FIELD(QlmSessRcpt, field282, 282),
    QLM_FIELD(QlmSessRcpt, field283, 283),
    QLM_FIELD(QlmSessRcpt, field284, 284),
    QLM_FIELD(QlmSessRcpt, field285, 285),
    QLM_FIELD(QlmSessRcpt, field286, 286),
    QLM_FIELD(QlmSessRcpt, field287, 287),
    QLM_FIELD(QlmSessRcpt, field288, 288),
    QLM_FIELD(QlmSessRcpt, field290, 290),
    QLM_FIELD(QlmSessRcpt, field291, 291),
};
static_assert(tiles(kSessRcptFields, 0, sizeof(QlmSessRcpt)));
inline constexpr Layout kSessRcptLayout{sizeof(QlmSessRcpt), kSessRcptFields};

inline constexpr auto kSessRcptAddItems =
    pick(moved(kSessRcptFields, offsetof(QlmSessRcptReq, sessrcpt)),
         {274, 275, 276, 280, 281, 282, 283, 284, 285, 286, 287, 288, 290, 291});
static_assert(sameFields(kSessRcptAddItems, moved(kSessRcptFields, offsetof(QlmSessRcptReq, sessrcpt))));

inline constexpr Keyword kSessRcptKeywords[] = {
    {"name", 274}, {"status", 275}, {"dropboxname", 276}, {"startdate", 280}};
static_assert(keywordsIn(kSessRcptKeywords, kSessRcptFields));

inline constexpr Entity kSessRcpt{
    .segType = 274,
    .record = kSessRcptLayout,
    .add = {370, 274, {sizeof(QlmSessRcptReq), kSessRcptAddItems}},
    .replace = {},
    .remove = {372, QLM_FIELD(QlmSessRcptDeleteReq, name, 274)},
    .list = {374, kSessRcptKeywords, true},
    .returned = {274, kSessRcptLayout},
    .listed = {sizeof(QlmSessRcpt), 0, 0, {274, kSessRcptLayout}},
};
static_assert(valid(kSessRcpt));

// Receipts on a session receipt: assignment record (context, session receipt,
// receipt name); the session receipt name is tested before anything is written,
// so a blank one is refused (20170) even when the mailbox is not open.
inline constexpr Field kSessRcptContainer = QLM_FIELD(QlmAssignReq, container, 274);
inline constexpr Relation kAsgSendRcptToSessRcpt{414, kSessRcptContainer, QLM_FIELD(QlmAssignReq, member, 1802),
                                                 true};
inline constexpr Relation kAsgRecvRcptToSessRcpt{396, kSessRcptContainer, QLM_FIELD(QlmAssignReq, member, 721),
                                                 true};

// The receipts of a session receipt: the list request 374 with relation kNoRelation
// and the session receipt's name in a data segment of type 274; the reply is a
// mixed receipt list.
inline constexpr ListOn kListRcptsOnSessRcpt{kSessRcpt.list.request, kNoRelation, 274};

// ---------------------------------------------------------------------------
// Session result record: the session receipt's fields with name first and status
// after field286. The result of ending a session; processing a drop box fills its
// first 95 bytes.

inline constexpr Field kSessResultFields[] = {
    QLM_FIELD(QlmSessResult, name, 274),
    QLM_FIELD(QlmSessResult, dropboxname, 276),
    QLM_FIELD(QlmSessResult, startdate, 280),
    QLM_FIELD(QlmSessResult, field281, 281),
    QLM_FIELD(QlmSessResult, field282, 282),
    QLM_FIELD(QlmSessResult, field283, 283),
    QLM_FIELD(QlmSessResult, field284, 284),
    QLM_FIELD(QlmSessResult, field285, 285),
    QLM_FIELD(QlmSessResult, field286, 286),
    QLM_FIELD(QlmSessResult, status, 275),
    QLM_FIELD(QlmSessResult, field287, 287),
    QLM_FIELD(QlmSessResult, field288, 288),
    QLM_FIELD(QlmSessResult, field290, 290),
    QLM_FIELD(QlmSessResult, field291, 291),
};
static_assert(tiles(kSessResultFields, 0, sizeof(QlmSessResult)));
static_assert(std::size(kSessResultFields) == std::size(kSessRcptFields) &&
              sameWidths(kSessResultFields, kSessRcptFields));
inline constexpr Layout kSessResultLayout{sizeof(QlmSessResult), kSessResultFields};

// The recovered session receipt: the session result record with field1173 before
// status.
inline constexpr Field kSessRcptRecoveredFields[] = {
    QLM_FIELD(QlmSessRcptRecovered, name, 274),
    QLM_FIELD(QlmSessRcptRecovered, dropboxname, 276),
    QLM_FIELD(QlmSessRcptRecovered, startdate, 280),
    QLM_FIELD(QlmSessRcptRecovered, field281, 281),
    QLM_FIELD(QlmSessRcptRecovered, field282, 282),
    QLM_FIELD(QlmSessRcptRecovered, field283, 283),
    QLM_FIELD(QlmSessRcptRecovered, field284, 284),
    QLM_FIELD(QlmSessRcptRecovered, field285, 285),
    QLM_FIELD(QlmSessRcptRecovered, field286, 286),
    QLM_FIELD(QlmSessRcptRecovered, field1173, 1173),
    QLM_FIELD(QlmSessRcptRecovered, status, 275),
    QLM_FIELD(QlmSessRcptRecovered, field287, 287),
    QLM_FIELD(QlmSessRcptRecovered, field288, 288),
    QLM_FIELD(QlmSessRcptRecovered, field290, 290),
    QLM_FIELD(QlmSessRcptRecovered, field291, 291),
};
static_assert(tiles(kSessRcptRecoveredFields, 0, sizeof(QlmSessRcptRecovered)));
static_assert(subsetOf(pick(kSessRcptRecoveredFields, {274, 276, 280, 281, 282, 283, 284, 285, 286}),
                       kSessResultFields));

inline constexpr Field kSessRcptRecoverFields[] = {
    QLM_FIELD(QlmSessRcptRecoverReq, field1172, 1172),
    QLM_FIELD(QlmSessRcptRecoverReq, field1173, 1173),
};
static_assert(tiles(kSessRcptRecoverFields, kContextWidth, sizeof(QlmSessRcptRecoverReq)));

// Recovering (a message system operation): data segment of type 274.
inline constexpr Operation kRecoverSessRcpt{
    {576, 274, {sizeof(QlmSessRcptRecoverReq), kSessRcptRecoverFields}},
    {274, {sizeof(QlmSessRcptRecovered), kSessRcptRecoveredFields}},
};
static_assert(valid(kRecoverSessRcpt));

// ---------------------------------------------------------------------------
// Starting and ending a session

inline constexpr Field kSessStartFields[] = {
    QLM_FIELD(QlmSessStartReq, field1115, 1115),
    QLM_FIELD(QlmSessStartReq, field660, 660),
    QLM_FIELD(QlmSessStartReq, field664, 664),
    QLM_FIELD(QlmSessStartReq, field665, 665),
    QLM_FIELD(QlmSessStartReq, field666, 666),
    QLM_FIELD(QlmSessStartReq, field667, 667),
    QLM_FIELD(QlmSessStartReq, field668, 668),
    QLM_FIELD(QlmSessStartReq, field669, 669),
    QLM_FIELD(QlmSessStartReq, field1129, 1129),
    QLM_FIELD(QlmSessStartReq, field671, 671),
};
static_assert(tiles(kSessStartFields, kContextWidth, sizeof(QlmSessStartReq),
                    {{offsetof(QlmSessStartReq, reserved), sizeof(QlmSessStartReq{}.reserved)}}));

// field1129 goes after field671 although it lies before it.
inline constexpr auto kSessStartItems =
    pick(kSessStartFields, {1115, 660, 664, 665, 666, 667, 668, 669, 671, 1129});

inline constexpr Field kSessStartedFields[] = {
    QLM_FIELD(QlmSessStarted, field282, 282),
    QLM_FIELD(QlmSessStarted, field283, 283),
    QLM_FIELD(QlmSessStarted, field284, 284),
    QLM_FIELD(QlmSessStarted, field285, 285),
    QLM_FIELD(QlmSessStarted, field286, 286),
    QLM_FIELD(QlmSessStarted, name, 274),
    QLM_FIELD(QlmSessStarted, status, 275),
    QLM_FIELD(QlmSessStarted, field287, 287),
    QLM_FIELD(QlmSessStarted, field288, 288),
    QLM_FIELD(QlmSessStarted, field290, 290),
    QLM_FIELD(QlmSessStarted, field291, 291),
};
static_assert(tiles(kSessStartedFields, 0, sizeof(QlmSessStarted)));
static_assert(sameWidths(kSessStartedFields, kSessRcptFields));

// The start reply's segment may carry any segment type.
inline constexpr Operation kStartSess{
    {568, 9991, {sizeof(QlmSessStartReq), kSessStartItems}},
    {kAnySegType, {sizeof(QlmSessStarted), kSessStartedFields}},
};
static_assert(valid(kStartSess));

inline constexpr Field kSessEndFields[] = {
    QLM_FIELD(QlmSessEndReq, field1136, 1136),
    QLM_FIELD(QlmSessEndReq, field1175, 1175),
};
static_assert(tiles(kSessEndFields, kContextWidth, sizeof(QlmSessEndReq)));

inline constexpr Operation kEndSess{
    {570, 9990, {sizeof(QlmSessEndReq), kSessEndFields}},
    {9990, kSessResultLayout},
};
static_assert(valid(kEndSess));

// ---------------------------------------------------------------------------
// Sending and receiving orders in a session. The request records hold the order
// record from its third field on, 79 bytes earlier (after the context name); their
// `reserved` areas never travel, and no item of the order's key is sent.

inline constexpr Field kSendOrdrDoFields[] = {
    QLM_FIELD(QlmSendOrdrDoReq, field772, 772),
    QLM_FIELD(QlmSendOrdrDoReq, mailboxid, 773),
    QLM_FIELD(QlmSendOrdrDoReq, field774, 774),
    QLM_FIELD(QlmSendOrdrDoReq, field775, 775),
    QLM_FIELD(QlmSendOrdrDoReq, field776, 776),
    QLM_FIELD(QlmSendOrdrDoReq, field777, 777),
    QLM_FIELD(QlmSendOrdrDoReq, field778, 778),
    QLM_FIELD(QlmSendOrdrDoReq, field779, 779),
    QLM_FIELD(QlmSendOrdrDoReq, class_, 780),
    QLM_FIELD(QlmSendOrdrDoReq, field781, 781),
    QLM_FIELD(QlmSendOrdrDoReq, field782, 782),
    QLM_FIELD(QlmSendOrdrDoReq, field802, 802),
    QLM_FIELD(QlmSendOrdrDoReq, field783, 783),
    QLM_FIELD(QlmSendOrdrDoReq, field784, 784),
    QLM_FIELD(QlmSendOrdrDoReq, field785, 785),
    QLM_FIELD(QlmSendOrdrDoReq, field786, 786),
    QLM_FIELD(QlmSendOrdrDoReq, field788, 788),
    QLM_FIELD(QlmSendOrdrDoReq, field789, 789),
    QLM_FIELD(QlmSendOrdrDoReq, field790, 790),
    QLM_FIELD(QlmSendOrdrDoReq, field791, 791),
    QLM_FIELD(QlmSendOrdrDoReq, field792, 792),
    QLM_FIELD(QlmSendOrdrDoReq, field793, 793),
    QLM_FIELD(QlmSendOrdrDoReq, field794, 794),
    QLM_FIELD(QlmSendOrdrDoReq, field795, 795),
    QLM_FIELD(QlmSendOrdrDoReq, field796, 796),
    QLM_FIELD(QlmSendOrdrDoReq, field797, 797),
    QLM_FIELD(QlmSendOrdrDoReq, field798, 798),
    QLM_FIELD(QlmSendOrdrDoReq, field799, 799),
    QLM_FIELD(QlmSendOrdrDoReq, field800, 800),
    QLM_FIELD(QlmSendOrdrDoReq, field801, 801),
};
static_assert(tiles(kSendOrdrDoFields, kContextWidth, sizeof(QlmSendOrdrDoReq),
                    {{offsetof(QlmSendOrdrDoReq, reserved), sizeof(QlmSendOrdrDoReq{}.reserved)}}));
static_assert(sameFields(moved(kSendOrdrDoFields, 79), without<30>(kSendOrdrFields, {1180, 1181})));

inline constexpr Field kRecvOrdrDoFields[] = {
    QLM_FIELD(QlmRecvOrdrDoReq, field689, 689),
    QLM_FIELD(QlmRecvOrdrDoReq, mailboxid, 690),
    QLM_FIELD(QlmRecvOrdrDoReq, field691, 691),
    QLM_FIELD(QlmRecvOrdrDoReq, field692, 692),
    QLM_FIELD(QlmRecvOrdrDoReq, field693, 693),
    QLM_FIELD(QlmRecvOrdrDoReq, field694, 694),
    QLM_FIELD(QlmRecvOrdrDoReq, field695, 695),
    QLM_FIELD(QlmRecvOrdrDoReq, field696, 696),
    QLM_FIELD(QlmRecvOrdrDoReq, class_, 697),
    QLM_FIELD(QlmRecvOrdrDoReq, fileid, 698),
    QLM_FIELD(QlmRecvOrdrDoReq, field699, 699),
    QLM_FIELD(QlmRecvOrdrDoReq, field700, 700),
    QLM_FIELD(QlmRecvOrdrDoReq, field701, 701),
    QLM_FIELD(QlmRecvOrdrDoReq, field702, 702),
    QLM_FIELD(QlmRecvOrdrDoReq, field703, 703),
    QLM_FIELD(QlmRecvOrdrDoReq, field704, 704),
    QLM_FIELD(QlmRecvOrdrDoReq, field705, 705),
    QLM_FIELD(QlmRecvOrdrDoReq, field706, 706),
    QLM_FIELD(QlmRecvOrdrDoReq, field707, 707),
    QLM_FIELD(QlmRecvOrdrDoReq, field709, 709),
    QLM_FIELD(QlmRecvOrdrDoReq, field710, 710),
    QLM_FIELD(QlmRecvOrdrDoReq, field711, 711),
    QLM_FIELD(QlmRecvOrdrDoReq, field712, 712),
    QLM_FIELD(QlmRecvOrdrDoReq, field713, 713),
    QLM_FIELD(QlmRecvOrdrDoReq, field714, 714),
    QLM_FIELD(QlmRecvOrdrDoReq, field715, 715),
    QLM_FIELD(QlmRecvOrdrDoReq, field716, 716),
    QLM_FIELD(QlmRecvOrdrDoReq, field717, 717),
    QLM_FIELD(QlmRecvOrdrDoReq, field718, 718),
    QLM_FIELD(QlmRecvOrdrDoReq, field719, 719),
    QLM_FIELD(QlmRecvOrdrDoReq, field720, 720),
};
static_assert(tiles(kRecvOrdrDoFields, kContextWidth, sizeof(QlmRecvOrdrDoReq),
                    {{offsetof(QlmRecvOrdrDoReq, reserved), sizeof(QlmRecvOrdrDoReq{}.reserved)}}));
static_assert(sameFields(moved(kRecvOrdrDoFields, 79), without<31>(kRecvOrdrFields, {687, 688})));

// The results: the receipt the operation created.
inline constexpr Field kSendOrdrDoneFields[] = {
    QLM_FIELD(QlmSendOrdrDone, name, 1802),
    QLM_FIELD(QlmSendOrdrDone, field1803, 1803),
    QLM_FIELD(QlmSendOrdrDone, startdate, 1804),
    QLM_FIELD(QlmSendOrdrDone, field1805, 1805),
    QLM_FIELD(QlmSendOrdrDone, field8022, 8022),
};
static_assert(tiles(kSendOrdrDoneFields, 0, sizeof(QlmSendOrdrDone)));
static_assert(sameWidths(pick(kSendOrdrDoneFields, {1802, 1803, 1804, 1805}), kSendRcptFields));

inline constexpr Field kRecvOrdrDoneFields[] = {
    QLM_FIELD(QlmRecvOrdrDone, name, 721),
    QLM_FIELD(QlmRecvOrdrDone, field722, 722),
    QLM_FIELD(QlmRecvOrdrDone, startdate, 723),
    QLM_FIELD(QlmRecvOrdrDone, field724, 724),
    QLM_FIELD(QlmRecvOrdrDone, field8022, 8022),
};
static_assert(tiles(kRecvOrdrDoneFields, 0, sizeof(QlmRecvOrdrDone)));
static_assert(sameWidths(pick(kRecvOrdrDoneFields, {721, 722, 723, 724}), kRecvRcptFields));

inline constexpr Operation kDoSendOrdr{
    {558, 1180, {sizeof(QlmSendOrdrDoReq), kSendOrdrDoFields}},
    {9989, {sizeof(QlmSendOrdrDone), kSendOrdrDoneFields}},
};
static_assert(valid(kDoSendOrdr));
inline constexpr Operation kDoRecvOrdr{
    {560, 687, {sizeof(QlmRecvOrdrDoReq), kRecvOrdrDoFields}},
    {9988, {sizeof(QlmRecvOrdrDone), kRecvOrdrDoneFields}},
};
static_assert(valid(kDoRecvOrdr));

// ---------------------------------------------------------------------------
// Purging and querying

inline constexpr Field kPurgOrdrFields[] = {QLM_FIELD(QlmPurgOrdrReq, field2612, 2612)};
static_assert(tiles(kPurgOrdrFields, kContextWidth, sizeof(QlmPurgOrdrReq)));
inline constexpr Field kPurgOrdrDoneFields[] = {QLM_FIELD(QlmPurgOrdrDone, field2614, 2614)};
static_assert(tiles(kPurgOrdrDoneFields, 0, sizeof(QlmPurgOrdrDone)));

inline constexpr Operation kDoPurgOrdr{
    {562, 9986, {sizeof(QlmPurgOrdrReq), kPurgOrdrFields}},
    {9986, {sizeof(QlmPurgOrdrDone), kPurgOrdrDoneFields}},
};
static_assert(valid(kDoPurgOrdr));

// The query takes the small list qualifier record and sends no data segment; its
// header holds no relation and sends the return-record flag before the reference.
// Its reply is a list of query entries (segment type 9987). Name IDs 2571-2575,
// 2578 and 2579 belong to no field.
inline constexpr ListOn kQuryOrdr{564, 0, 0, true};

inline constexpr Field kQuryOrdrEntryFields[] = {
    QLM_FIELD(QlmQuryOrdrEntry, field2568, 2568),
    QLM_FIELD(QlmQuryOrdrEntry, field2569, 2569),
    QLM_FIELD(QlmQuryOrdrEntry, field2570, 2570),
    QLM_FIELD(QlmQuryOrdrEntry, field2576, 2576),
    QLM_FIELD(QlmQuryOrdrEntry, field2577, 2577),
    QLM_FIELD(QlmQuryOrdrEntry, field2580, 2580),
    QLM_FIELD(QlmQuryOrdrEntry, field2581, 2581),
    QLM_FIELD(QlmQuryOrdrEntry, field2582, 2582),
    QLM_FIELD(QlmQuryOrdrEntry, field2583, 2583),
    QLM_FIELD(QlmQuryOrdrEntry, field2584, 2584),
    QLM_FIELD(QlmQuryOrdrEntry, field2585, 2585),
    QLM_FIELD(QlmQuryOrdrEntry, field2586, 2586),
    QLM_FIELD(QlmQuryOrdrEntry, field2587, 2587),
    QLM_FIELD(QlmQuryOrdrEntry, field2588, 2588),
    QLM_FIELD(QlmQuryOrdrEntry, field2589, 2589),
    QLM_FIELD(QlmQuryOrdrEntry, field2590, 2590),
    QLM_FIELD(QlmQuryOrdrEntry, field2591, 2591),
    QLM_FIELD(QlmQuryOrdrEntry, field2592, 2592),
    QLM_FIELD(QlmQuryOrdrEntry, field2593, 2593),
    QLM_FIELD(QlmQuryOrdrEntry, field2594, 2594),
    QLM_FIELD(QlmQuryOrdrEntry, field2595, 2595),
    QLM_FIELD(QlmQuryOrdrEntry, field2596, 2596),
    QLM_FIELD(QlmQuryOrdrEntry, field2597, 2597),
    QLM_FIELD(QlmQuryOrdrEntry, field2598, 2598),
    QLM_FIELD(QlmQuryOrdrEntry, field2599, 2599),
    QLM_FIELD(QlmQuryOrdrEntry, field2600, 2600),
    QLM_FIELD(QlmQuryOrdrEntry, field2601, 2601),
};
static_assert(tiles(kQuryOrdrEntryFields, 0, sizeof(QlmQuryOrdrEntry)));

inline constexpr Entries kQuryOrdrEntries{
    sizeof(QlmQuryOrdrEntry), 0, 0, {9987, {sizeof(QlmQuryOrdrEntry), kQuryOrdrEntryFields}}};

// ---------------------------------------------------------------------------
// Processing a drop box: data segment of type 9993; the reply fills the session
// result record from name to status (its first 95 bytes). With return code 0 the
// reply segment must be of type 9993.

inline constexpr Field kDropBoxProcFields[] = {
    QLM_FIELD(QlmDropBoxProcReq, field1150, 1150),
    QLM_FIELD(QlmDropBoxProcReq, field1151, 1151),
};
static_assert(tiles(kDropBoxProcFields, kContextWidth, sizeof(QlmDropBoxProcReq)));

inline constexpr auto kDropBoxProcResult = without<10>(kSessResultFields, {287, 288, 290, 291});
static_assert(tiles(kDropBoxProcResult, 0, offsetof(QlmSessResult, field287)) &&
              offsetof(QlmSessResult, field287) == 95);

inline constexpr Operation kProcDropBox{
    {572, 9993, {sizeof(QlmDropBoxProcReq), kDropBoxProcFields}},
    {9993, {sizeof(QlmSessResult), kDropBoxProcResult}},
};
static_assert(valid(kProcDropBox));

}  // namespace qlm::rec
