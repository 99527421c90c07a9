// Record tables of the mailbox: send and receive orders, send and receive
// receipts, the order and receipt shelves with their mixed lists, drop boxes.
//
// Orders and receipts are listed as entries led by their entry type character
// ('S' or 'R'); the Entries tables lay the fields over the record part of an entry,
// which starts at byte 1. The `reserved` areas of the orders never travel. Add and
// replace send the items in the wire orders written out below as name IDs.
// Processing a drop box is a message system operation: records/sessions.h.
#pragma once
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "qlmc32.h"
#include "records/common.h"
#include "records/layout.h"

namespace qlm::rec {

// ---------------------------------------------------------------------------
// Send orders (segment type 1180). Name ID 802 lies between 782 and 783; no field
// carries 787.

inline constexpr Field kSendOrdrFields[] = {
    QLM_FIELD(QlmSendOrdr, name, 1180),
    QLM_FIELD(QlmSendOrdr, description, 1181),
    QLM_FIELD(QlmSendOrdr, field772, 772),
    QLM_FIELD(QlmSendOrdr, mailboxid, 773),
    QLM_FIELD(QlmSendOrdr, field774, 774),
    QLM_FIELD(QlmSendOrdr, field775, 775),
    QLM_FIELD(QlmSendOrdr, field776, 776),
    QLM_FIELD(QlmSendOrdr, field777, 777),
    QLM_FIELD(QlmSendOrdr, field778, 778),
    QLM_FIELD(QlmSendOrdr, field779, 779),
    QLM_FIELD(QlmSendOrdr, class_, 780),
    QLM_FIELD(QlmSendOrdr, field781, 781),
    QLM_FIELD(QlmSendOrdr, field782, 782),
    QLM_FIELD(QlmSendOrdr, field802, 802),
    QLM_FIELD(QlmSendOrdr, field783, 783),
    QLM_FIELD(QlmSendOrdr, field784, 784),
    QLM_FIELD(QlmSendOrdr, field785, 785),
    QLM_FIELD(QlmSendOrdr, field786, 786),
    QLM_FIELD(QlmSendOrdr, field788, 788),
    QLM_FIELD(QlmSendOrdr, field789, 789),
    QLM_FIELD(QlmSendOrdr, field790, 790),
    QLM_FIELD(QlmSendOrdr, field791, 791),
    QLM_FIELD(QlmSendOrdr, field792, 792),
    QLM_FIELD(QlmSendOrdr, field793, 793),
    QLM_FIELD(QlmSendOrdr, field794, 794),
    QLM_FIELD(QlmSendOrdr, field795, 795),
    QLM_FIELD(QlmSendOrdr, field796, 796),
    QLM_FIELD(QlmSendOrdr, field797, 797),
    QLM_FIELD(QlmSendOrdr, field798, 798),
    QLM_FIELD(QlmSendOrdr, field799, 799),
    QLM_FIELD(QlmSendOrdr, field800, 800),
    QLM_FIELD(QlmSendOrdr, field801, 801),
};
static_assert(tiles(kSendOrdrFields, 0, sizeof(QlmSendOrdr),
                    {{offsetof(QlmSendOrdr, reserved), sizeof(QlmSendOrdr{}.reserved)}}));
inline constexpr Layout kSendOrdrLayout{sizeof(QlmSendOrdr), kSendOrdrFields};

inline constexpr auto kSendOrdrAddItems =
    pick(moved(kSendOrdrFields, offsetof(QlmSendOrdrReq, sendordr)),
         {1180, 1181, 772, 773, 774, 775, 776, 777, 778, 779, 780, 781, 782, 802, 783, 784,
          785, 786, 788, 789, 790, 791, 792, 793, 794, 795, 796, 797, 798, 799, 800, 801});
static_assert(tiles(kSendOrdrAddItems, kContextWidth, sizeof(QlmSendOrdrReq),
                    {{offsetof(QlmSendOrdrReq, sendordr.reserved), sizeof(QlmSendOrdr{}.reserved)}}));

// The replace request holds the same fields, the block from description to class_
// after field797; its items go in its own record order.
inline constexpr Field kSendOrdrReplaceFields[] = {
    QLM_FIELD(QlmSendOrdrReplaceReq, name, 1180),
    QLM_FIELD(QlmSendOrdrReplaceReq, field781, 781),
    QLM_FIELD(QlmSendOrdrReplaceReq, field782, 782),
    QLM_FIELD(QlmSendOrdrReplaceReq, field802, 802),
    QLM_FIELD(QlmSendOrdrReplaceReq, field783, 783),
    QLM_FIELD(QlmSendOrdrReplaceReq, field784, 784),
    QLM_FIELD(QlmSendOrdrReplaceReq, field785, 785),
    QLM_FIELD(QlmSendOrdrReplaceReq, field786, 786),
    QLM_FIELD(QlmSendOrdrReplaceReq, field788, 788),
    QLM_FIELD(QlmSendOrdrReplaceReq, field789, 789),
    QLM_FIELD(QlmSendOrdrReplaceReq, field790, 790),
    QLM_FIELD(QlmSendOrdrReplaceReq, field791, 791),
    QLM_FIELD(QlmSendOrdrReplaceReq, field792, 792),
    QLM_FIELD(QlmSendOrdrReplaceReq, field793, 793),
    QLM_FIELD(QlmSendOrdrReplaceReq, field794, 794),
    QLM_FIELD(QlmSendOrdrReplaceReq, field795, 795),
    QLM_FIELD(QlmSendOrdrReplaceReq, field796, 796),
    QLM_FIELD(QlmSendOrdrReplaceReq, field797, 797),
    QLM_FIELD(QlmSendOrdrReplaceReq, description, 1181),
    QLM_FIELD(QlmSendOrdrReplaceReq, field772, 772),
    QLM_FIELD(QlmSendOrdrReplaceReq, mailboxid, 773),
    QLM_FIELD(QlmSendOrdrReplaceReq, field774, 774),
    QLM_FIELD(QlmSendOrdrReplaceReq, field775, 775),
    QLM_FIELD(QlmSendOrdrReplaceReq, field776, 776),
    QLM_FIELD(QlmSendOrdrReplaceReq, field777, 777),
    QLM_FIELD(QlmSendOrdrReplaceReq, field778, 778),
    QLM_FIELD(QlmSendOrdrReplaceReq, field779, 779),
    QLM_FIELD(QlmSendOrdrReplaceReq, class_, 780),
    QLM_FIELD(QlmSendOrdrReplaceReq, field798, 798),
    QLM_FIELD(QlmSendOrdrReplaceReq, field799, 799),
    QLM_FIELD(QlmSendOrdrReplaceReq, field800, 800),
    QLM_FIELD(QlmSendOrdrReplaceReq, field801, 801),
};
static_assert(tiles(kSendOrdrReplaceFields, kContextWidth, sizeof(QlmSendOrdrReplaceReq),
                    {{offsetof(QlmSendOrdrReplaceReq, reserved), sizeof(QlmSendOrdrReplaceReq{}.reserved)}}));
static_assert(std::size(kSendOrdrReplaceFields) == std::size(kSendOrdrFields) &&
              sameWidths(kSendOrdrReplaceFields, kSendOrdrFields));

inline constexpr auto kSendOrdrReplaceItems =
    pick(kSendOrdrReplaceFields,
         {1180, 781, 782, 802, 783, 784, 785, 786, 788, 789, 790, 791, 792, 793, 794, 795,
          796, 797, 1181, 772, 773, 774, 775, 776, 777, 778, 779, 780, 798, 799, 800, 801});

inline constexpr Keyword kSendOrdrKeywords[] = {
    {"name", 1180}, {"description", 1181}, {"mailboxid", 773}, {"class", 780}};
static_assert(keywordsIn(kSendOrdrKeywords, kSendOrdrFields));

// The replaced order comes back in the send order record's layout.
inline constexpr Entity kSendOrdr{
    .segType = 1180,
    .record = kSendOrdrLayout,
    .add = {398, 1180, {sizeof(QlmSendOrdrReq), kSendOrdrAddItems}},
    .replace = {406, 1180, {sizeof(QlmSendOrdrReplaceReq), kSendOrdrReplaceItems}},
    .remove = {400, QLM_FIELD(QlmOrdrDeleteReq, name, 1180)},
    .list = {402, kSendOrdrKeywords, true},
    .returned = {1180, kSendOrdrLayout},
    .listed = {sizeof(QlmSendOrdrEntry), offsetof(QlmSendOrdrEntry, sendordr), 'S', {1180, kSendOrdrLayout}},
};
static_assert(valid(kSendOrdr));
static_assert(!kSendOrdr.record.has(787));

// ---------------------------------------------------------------------------
// Receive orders (segment type 687). No field carries 708. Add and replace send
// 714 last, after 720.

inline constexpr Field kRecvOrdrFields[] = {
    QLM_FIELD(QlmRecvOrdr, name, 687),
    QLM_FIELD(QlmRecvOrdr, description, 688),
    QLM_FIELD(QlmRecvOrdr, field689, 689),
    QLM_FIELD(QlmRecvOrdr, mailboxid, 690),
    QLM_FIELD(QlmRecvOrdr, field691, 691),
    QLM_FIELD(QlmRecvOrdr, field692, 692),
    QLM_FIELD(QlmRecvOrdr, field693, 693),
    QLM_FIELD(QlmRecvOrdr, field694, 694),
    QLM_FIELD(QlmRecvOrdr, field695, 695),
    QLM_FIELD(QlmRecvOrdr, field696, 696),
    QLM_FIELD(QlmRecvOrdr, class_, 697),
    QLM_FIELD(QlmRecvOrdr, fileid, 698),
    QLM_FIELD(QlmRecvOrdr, field699, 699),
    QLM_FIELD(QlmRecvOrdr, field700, 700),
    QLM_FIELD(QlmRecvOrdr, field701, 701),
    QLM_FIELD(QlmRecvOrdr, field702, 702),
    QLM_FIELD(QlmRecvOrdr, field703, 703),
    QLM_FIELD(QlmRecvOrdr, field704, 704),
    QLM_FIELD(QlmRecvOrdr, field705, 705),
    QLM_FIELD(QlmRecvOrdr, field706, 706),
    QLM_FIELD(QlmRecvOrdr, field707, 707),
    QLM_FIELD(QlmRecvOrdr, field709, 709),
    QLM_FIELD(QlmRecvOrdr, field710, 710),
    QLM_FIELD(QlmRecvOrdr, field711, 711),
    QLM_FIELD(QlmRecvOrdr, field712, 712),
    QLM_FIELD(QlmRecvOrdr, field713, 713),
    QLM_FIELD(QlmRecvOrdr, field714, 714),
    QLM_FIELD(QlmRecvOrdr, field715, 715),
    QLM_FIELD(QlmRecvOrdr, field716, 716),
    QLM_FIELD(QlmRecvOrdr, field717, 717),
    QLM_FIELD(QlmRecvOrdr, field718, 718),
    QLM_FIELD(QlmRecvOrdr, field719, 719),
    QLM_FIELD(QlmRecvOrdr, field720, 720),
};
static_assert(tiles(kRecvOrdrFields, 0, sizeof(QlmRecvOrdr),
                    {{offsetof(QlmRecvOrdr, reserved), sizeof(QlmRecvOrdr{}.reserved)}}));
inline constexpr Layout kRecvOrdrLayout{sizeof(QlmRecvOrdr), kRecvOrdrFields};
// The first twelve fields have the widths of the send order's first twelve.
static_assert([] {
  for (int i = 0; i < 12; ++i)
    if (kRecvOrdrFields[i].offset != kSendOrdrFields[i].offset ||
        kRecvOrdrFields[i].width != kSendOrdrFields[i].width)
      return false;
  return true;
}());

inline constexpr auto kRecvOrdrAddItems =
    pick(moved(kRecvOrdrFields, offsetof(QlmRecvOrdrReq, recvordr)),
         {687, 688, 689, 690, 691, 692, 693, 694, 695, 696, 697, 698, 699, 700, 701, 702, 703,
          704, 705, 706, 707, 709, 710, 711, 712, 713, 715, 716, 717, 718, 719, 720, 714});
static_assert(sameFields(kRecvOrdrAddItems, moved(kRecvOrdrFields, offsetof(QlmRecvOrdrReq, recvordr))));

inline constexpr Field kRecvOrdrReplaceFields[] = {
    QLM_FIELD(QlmRecvOrdrReplaceReq, name, 687),
    QLM_FIELD(QlmRecvOrdrReplaceReq, fileid, 698),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field699, 699),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field700, 700),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field701, 701),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field702, 702),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field703, 703),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field704, 704),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field705, 705),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field706, 706),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field707, 707),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field709, 709),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field710, 710),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field711, 711),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field712, 712),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field713, 713),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field714, 714),
    QLM_FIELD(QlmRecvOrdrReplaceReq, description, 688),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field689, 689),
    QLM_FIELD(QlmRecvOrdrReplaceReq, mailboxid, 690),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field691, 691),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field692, 692),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field693, 693),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field694, 694),
    QLM_FIELD(QlmRecvOrdrReplaceReq, class_, 697),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field719, 719),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field715, 715),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field716, 716),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field717, 717),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field718, 718),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field695, 695),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field696, 696),
    QLM_FIELD(QlmRecvOrdrReplaceReq, field720, 720),
};
static_assert(tiles(kRecvOrdrReplaceFields, kContextWidth, sizeof(QlmRecvOrdrReplaceReq),
                    {{offsetof(QlmRecvOrdrReplaceReq, reserved), sizeof(QlmRecvOrdrReplaceReq{}.reserved)}}));
static_assert(std::size(kRecvOrdrReplaceFields) == std::size(kRecvOrdrFields) &&
              sameWidths(kRecvOrdrReplaceFields, kRecvOrdrFields));

inline constexpr auto kRecvOrdrReplaceItems =
    pick(kRecvOrdrReplaceFields,
         {687, 698, 699, 700, 701, 702, 703, 704, 705, 706, 707, 709, 710, 711, 712, 713, 688,
          689, 690, 691, 692, 693, 694, 697, 719, 715, 716, 717, 718, 695, 696, 720, 714});

inline constexpr Keyword kRecvOrdrKeywords[] = {
    {"name", 687}, {"description", 688}, {"mailboxid", 690}, {"fileid", 698}, {"class", 697}};
static_assert(keywordsIn(kRecvOrdrKeywords, kRecvOrdrFields));

inline constexpr Entity kRecvOrdr{
    .segType = 687,
    .record = kRecvOrdrLayout,
    .add = {380, 687, {sizeof(QlmRecvOrdrReq), kRecvOrdrAddItems}},
    .replace = {388, 687, {sizeof(QlmRecvOrdrReplaceReq), kRecvOrdrReplaceItems}},
    .remove = {382, QLM_FIELD(QlmOrdrDeleteReq, name, 687)},
    .list = {384, kRecvOrdrKeywords, true},
    .returned = {687, kRecvOrdrLayout},
    .listed = {sizeof(QlmRecvOrdrEntry), offsetof(QlmRecvOrdrEntry, recvordr), 'R', {687, kRecvOrdrLayout}},
};
static_assert(valid(kRecvOrdr));
static_assert(!kRecvOrdr.record.has(708));
static_assert(kRecvOrdr.add.items.fields.back().nameId == 714 &&
              kRecvOrdr.replace.items.fields.back().nameId == 714);

// ---------------------------------------------------------------------------
// Send receipts (segment type 1802). Both readers trace an unexpected item without
// its "(int) aFldId" value line. Name ID 9969 is shared with receive receipts.

inline constexpr Field kSendRcptFields[] = {
    QLM_FIELD(QlmSendRcpt, name, 1802),
    QLM_FIELD(QlmSendRcpt, field1814, 1814),
    QLM_FIELD(QlmSendRcpt, field1815, 1815),
    QLM_FIELD(QlmSendRcpt, field1816, 1816),
    QLM_FIELD(QlmSendRcpt, field1817, 1817),
    QLM_FIELD(QlmSendRcpt, field1818, 1818),
    QLM_FIELD(QlmSendRcpt, field1819, 1819),
    QLM_FIELD(QlmSendRcpt, field1809, 1809),
    QLM_FIELD(QlmSendRcpt, field1810, 1810),
    QLM_FIELD(QlmSendRcpt, field1811, 1811),
    QLM_FIELD(QlmSendRcpt, field1807, 1807),
    QLM_FIELD(QlmSendRcpt, mailboxid, 1808),
    QLM_FIELD(QlmSendRcpt, field1812, 1812),
    QLM_FIELD(QlmSendRcpt, class_, 1813),
    QLM_FIELD(QlmSendRcpt, field1820, 1820),
    QLM_FIELD(QlmSendRcpt, field1821, 1821),
    QLM_FIELD(QlmSendRcpt, field1803, 1803),
    QLM_FIELD(QlmSendRcpt, startdate, 1804),
    QLM_FIELD(QlmSendRcpt, field1805, 1805),
    QLM_FIELD(QlmSendRcpt, ordername, 1806),
    QLM_FIELD(QlmSendRcpt, field1823, 1823),
    QLM_FIELD(QlmSendRcpt, field9969, 9969),
    QLM_FIELD(QlmSendRcpt, field1825, 1825),
    QLM_FIELD(QlmSendRcpt, field1824, 1824),
    QLM_FIELD(QlmSendRcpt, field1826, 1826),
    QLM_FIELD(QlmSendRcpt, field1827, 1827),
    QLM_FIELD(QlmSendRcpt, field1822, 1822),
};
static_assert(tiles(kSendRcptFields, 0, sizeof(QlmSendRcpt)));
inline constexpr Layout kSendRcptLayout{sizeof(QlmSendRcpt), kSendRcptFields};

inline constexpr auto kSendRcptAddItems = moved(kSendRcptFields, offsetof(QlmSendRcptReq, sendrcpt));
static_assert(tiles(kSendRcptAddItems, kContextWidth, sizeof(QlmSendRcptReq)));

inline constexpr Keyword kSendRcptKeywords[] = {
    {"name", 1802}, {"startdate", 1804}, {"ordername", 1806}, {"mailboxid", 1808}, {"class", 1813}};
static_assert(keywordsIn(kSendRcptKeywords, kSendRcptFields));

inline constexpr Entity kSendRcpt{
    .segType = 1802,
    .record = kSendRcptLayout,
    .add = {410, 1802, {sizeof(QlmSendRcptReq), kSendRcptAddItems}},
    .replace = {},
    .remove = {},
    .list = {412, kSendRcptKeywords, true},
    .returned = {1802, kSendRcptLayout, false},
    .listed = {sizeof(QlmSendRcptEntry), offsetof(QlmSendRcptEntry, sendrcpt), 'S', {1802, kSendRcptLayout, false}},
};
static_assert(valid(kSendRcpt));

// The receipts of one send order: relation 1180 with the order's name, small qualifier.
inline constexpr ListOn kListSendRcptsOnSendOrdr{kSendRcpt.list.request, 1180, 0};
// A send receipt's start date and the name of its send order.
inline constexpr std::uint16_t kSendRcptStart = 1804, kSendRcptOrder = 1806;
static_assert(kSendRcpt.record.has(kSendRcptStart) && kSendRcpt.record.has(kSendRcptOrder));

// ---------------------------------------------------------------------------
// Receive receipts (segment type 721). The add reader traces an unexpected item
// without its value line, the entry reader with it; the entry reader does not know
// 754 and 770, so those two fields of a listed entry are never filled.

inline constexpr Field kRecvRcptFields[] = {
    QLM_FIELD(QlmRecvRcpt, name, 721),
    QLM_FIELD(QlmRecvRcpt, fileid, 732),
    QLM_FIELD(QlmRecvRcpt, field733, 733),
    QLM_FIELD(QlmRecvRcpt, field734, 734),
    QLM_FIELD(QlmRecvRcpt, field735, 735),
    QLM_FIELD(QlmRecvRcpt, field736, 736),
    QLM_FIELD(QlmRecvRcpt, field737, 737),
    QLM_FIELD(QlmRecvRcpt, field738, 738),
    QLM_FIELD(QlmRecvRcpt, field739, 739),
    QLM_FIELD(QlmRecvRcpt, field740, 740),
    QLM_FIELD(QlmRecvRcpt, field741, 741),
    QLM_FIELD(QlmRecvRcpt, field742, 742),
    QLM_FIELD(QlmRecvRcpt, field743, 743),
    QLM_FIELD(QlmRecvRcpt, field744, 744),
    QLM_FIELD(QlmRecvRcpt, field745, 745),
    QLM_FIELD(QlmRecvRcpt, field746, 746),
    QLM_FIELD(QlmRecvRcpt, field747, 747),
    QLM_FIELD(QlmRecvRcpt, field748, 748),
    QLM_FIELD(QlmRecvRcpt, field749, 749),
    QLM_FIELD(QlmRecvRcpt, field750, 750),
    QLM_FIELD(QlmRecvRcpt, field751, 751),
    QLM_FIELD(QlmRecvRcpt, field752, 752),
    QLM_FIELD(QlmRecvRcpt, field753, 753),
    QLM_FIELD(QlmRecvRcpt, field754, 754),
    QLM_FIELD(QlmRecvRcpt, field755, 755),
    QLM_FIELD(QlmRecvRcpt, field756, 756),
    QLM_FIELD(QlmRecvRcpt, field757, 757),
    QLM_FIELD(QlmRecvRcpt, field758, 758),
    QLM_FIELD(QlmRecvRcpt, field759, 759),
    QLM_FIELD(QlmRecvRcpt, field760, 760),
    QLM_FIELD(QlmRecvRcpt, field761, 761),
    QLM_FIELD(QlmRecvRcpt, field762, 762),
    QLM_FIELD(QlmRecvRcpt, field763, 763),
    QLM_FIELD(QlmRecvRcpt, field764, 764),
    QLM_FIELD(QlmRecvRcpt, field765, 765),
    QLM_FIELD(QlmRecvRcpt, field766, 766),
    QLM_FIELD(QlmRecvRcpt, field728, 728),
    QLM_FIELD(QlmRecvRcpt, field729, 729),
    QLM_FIELD(QlmRecvRcpt, field730, 730),
    QLM_FIELD(QlmRecvRcpt, field726, 726),
    QLM_FIELD(QlmRecvRcpt, mailboxid, 727),
    QLM_FIELD(QlmRecvRcpt, class_, 731),
    QLM_FIELD(QlmRecvRcpt, field767, 767),
    QLM_FIELD(QlmRecvRcpt, field768, 768),
    QLM_FIELD(QlmRecvRcpt, field769, 769),
    QLM_FIELD(QlmRecvRcpt, field722, 722),
    QLM_FIELD(QlmRecvRcpt, startdate, 723),
    QLM_FIELD(QlmRecvRcpt, field724, 724),
    QLM_FIELD(QlmRecvRcpt, ordername, 725),
    QLM_FIELD(QlmRecvRcpt, field770, 770),
    QLM_FIELD(QlmRecvRcpt, field9969, 9969),
    QLM_FIELD(QlmRecvRcpt, field771, 771),
    QLM_FIELD(QlmRecvRcpt, field1830, 1830),
    QLM_FIELD(QlmRecvRcpt, field1831, 1831),
    QLM_FIELD(QlmRecvRcpt, field1832, 1832),
};
static_assert(tiles(kRecvRcptFields, 0, sizeof(QlmRecvRcpt)));
inline constexpr Layout kRecvRcptLayout{sizeof(QlmRecvRcpt), kRecvRcptFields};

inline constexpr auto kRecvRcptAddItems = moved(kRecvRcptFields, offsetof(QlmRecvRcptReq, recvrcpt));
static_assert(tiles(kRecvRcptAddItems, kContextWidth, sizeof(QlmRecvRcptReq)));

inline constexpr auto kRecvRcptEntryFields = without<53>(kRecvRcptFields, {754, 770});

inline constexpr Keyword kRecvRcptKeywords[] = {
    {"name", 721}, {"startdate", 723}, {"mailboxid", 727}, {"ordername", 725}, {"fileid", 732}, {"class", 731}};
static_assert(keywordsIn(kRecvRcptKeywords, kRecvRcptFields));

inline constexpr Entity kRecvRcpt{
    .segType = 721,
    .record = kRecvRcptLayout,
    .add = {392, 721, {sizeof(QlmRecvRcptReq), kRecvRcptAddItems}},
    .replace = {},
    .remove = {},
    .list = {394, kRecvRcptKeywords, true},
    .returned = {721, kRecvRcptLayout, false},
    .listed = {sizeof(QlmRecvRcptEntry), offsetof(QlmRecvRcptEntry, recvrcpt), 'R',
               {721, {sizeof(QlmRecvRcpt), kRecvRcptEntryFields}, true}},
};
static_assert(valid(kRecvRcpt));
static_assert(kRecvRcpt.returned.fields.has(754) && !kRecvRcpt.listed.read.fields.has(754) &&
              !kRecvRcpt.listed.read.fields.has(770));
inline constexpr std::uint16_t kRecvRcptStart = 723;  // its start date
static_assert(kRecvRcpt.record.has(kRecvRcptStart));

// ---------------------------------------------------------------------------
// Shelves and mixed lists. The library only addresses the shelf "$Default$", sent
// with width 20 (so as its 9 characters). Deleting sends relation kNoRelation and
// a data segment of the shelf's name ID holding the name; the order shelf list
// takes the list qualifier record, the receipt shelf list the small one.

inline constexpr char kDefaultShelf[] = "$Default$";
inline constexpr std::uint16_t kShelfNameWidth = 20;

struct Shelf {
  std::uint16_t nameId;         // segment type and item of the shelf name
  std::uint16_t deleteRequest;
  ListOn list;
};
inline constexpr Shelf kOrdrShlf{650, 358, {354, kNoRelation, 0}};
inline constexpr Shelf kRcptShlf{651, 360, {356, kNoRelation, 0}};

// Keywords of the order shelf list: name IDs of their own, not those of the orders.
inline constexpr Keyword kOrdrShlfKeywords[] = {{"name", 9982}, {"description", 9981}};
// The order shelf list takes the list qualifier record with these keywords; the
// receipt shelf list takes the small one.
inline constexpr Listing kOrdrShlfListing{kOrdrShlf.list.request, kOrdrShlfKeywords, true};

// The entry kinds of a mixed list, looked up by segment type; every entry is blanked
// before it is filled and packed at its own size. Segments of another type are
// passed over.
inline constexpr Entries kMixedOrdrs[] = {kSendOrdr.listed, kRecvOrdr.listed};
inline constexpr Entries kMixedRcpts[] = {kSendRcpt.listed, kRecvRcpt.listed};
static_assert(kMixedOrdrs[0].size == 500 && kMixedOrdrs[1].size == 348);
static_assert(kMixedRcpts[0].size == 317 && kMixedRcpts[1].size == 725);

// ---------------------------------------------------------------------------
// Drop boxes (segment type 652). The request lacks field653 and field672, which
// come from the Request Manager only; the two bytes after field660 never travel.

inline constexpr Field kDropBoxFields[] = {
    QLM_FIELD(QlmDropBox, name, 652),
    QLM_FIELD(QlmDropBox, field653, 653),
    QLM_FIELD(QlmDropBox, field654, 654),
    QLM_FIELD(QlmDropBox, field655, 655),
    QLM_FIELD(QlmDropBox, field656, 656),
    QLM_FIELD(QlmDropBox, field657, 657),
    QLM_FIELD(QlmDropBox, field660, 660),
    QLM_FIELD(QlmDropBox, field658, 658),
    QLM_FIELD(QlmDropBox, field664, 664),
    QLM_FIELD(QlmDropBox, field665, 665),
    QLM_FIELD(QlmDropBox, field666, 666),
    QLM_FIELD(QlmDropBox, field667, 667),
    QLM_FIELD(QlmDropBox, field668, 668),
    QLM_FIELD(QlmDropBox, field669, 669),
    QLM_FIELD(QlmDropBox, field671, 671),
    QLM_FIELD(QlmDropBox, field672, 672),
};
static_assert(tiles(kDropBoxFields, 0, sizeof(QlmDropBox),
                    {{offsetof(QlmDropBox, reserved), sizeof(QlmDropBox{}.reserved)}}));
inline constexpr Layout kDropBoxLayout{sizeof(QlmDropBox), kDropBoxFields};

inline constexpr Field kDropBoxReqFields[] = {
    QLM_FIELD(QlmDropBoxReq, name, 652),
    QLM_FIELD(QlmDropBoxReq, field654, 654),
    QLM_FIELD(QlmDropBoxReq, field655, 655),
    QLM_FIELD(QlmDropBoxReq, field656, 656),
    QLM_FIELD(QlmDropBoxReq, field657, 657),
    QLM_FIELD(QlmDropBoxReq, field660, 660),
    QLM_FIELD(QlmDropBoxReq, field658, 658),
    QLM_FIELD(QlmDropBoxReq, field664, 664),
    QLM_FIELD(QlmDropBoxReq, field665, 665),
    QLM_FIELD(QlmDropBoxReq, field666, 666),
    QLM_FIELD(QlmDropBoxReq, field667, 667),
    QLM_FIELD(QlmDropBoxReq, field668, 668),
    QLM_FIELD(QlmDropBoxReq, field669, 669),
    QLM_FIELD(QlmDropBoxReq, field671, 671),
};
static_assert(tiles(kDropBoxReqFields, kContextWidth, sizeof(QlmDropBoxReq),
                    {{offsetof(QlmDropBoxReq, reserved), sizeof(QlmDropBoxReq{}.reserved)}}));
static_assert(sameWidths(kDropBoxReqFields, kDropBoxFields));

inline constexpr Keyword kDropBoxKeywords[] = {{"name", 652}};
static_assert(keywordsIn(kDropBoxKeywords, kDropBoxFields));

inline constexpr Entity kDropBox{
    .segType = 652,
    .record = kDropBoxLayout,
    .add = {362, 652, {sizeof(QlmDropBoxReq), kDropBoxReqFields}},
    .replace = {368, 652, {sizeof(QlmDropBoxReq), kDropBoxReqFields}},
    .remove = {364, QLM_FIELD(QlmDropBoxDeleteReq, name, 652)},
    .list = {366, kDropBoxKeywords, true},
    .returned = {652, kDropBoxLayout},
    .listed = {sizeof(QlmDropBox), 0, 0, {652, kDropBoxLayout}},
};
static_assert(valid(kDropBox));
static_assert(!kDropBox.add.items.has(653) && !kDropBox.add.items.has(672));
// The drop box fields the Request Manager computes: the kinds of order assigned to it
// and their number.
inline constexpr std::uint16_t kDropBoxKinds = 653, kDropBoxCount = 672;
static_assert(kDropBox.record.has(kDropBoxKinds) && kDropBox.record.has(kDropBoxCount));

// Orders on a drop box: assignment record (context, drop box, order name).
inline constexpr Field kDropBoxContainer = QLM_FIELD(QlmAssignReq, container, 652);
inline constexpr Field kDropBoxSendOrdr = QLM_FIELD(QlmAssignReq, member, 1180);
inline constexpr Field kDropBoxRecvOrdr = QLM_FIELD(QlmAssignReq, member, 687);
inline constexpr Relation kAsgSendOrdrToDropBox{404, kDropBoxContainer, kDropBoxSendOrdr};
inline constexpr Relation kAsgRecvOrdrToDropBox{386, kDropBoxContainer, kDropBoxRecvOrdr};
inline constexpr Relation kUsgSendOrdrFromDropBox{408, kDropBoxContainer, kDropBoxSendOrdr};
inline constexpr Relation kUsgRecvOrdrFromDropBox{390, kDropBoxContainer, kDropBoxRecvOrdr};

// The orders of a drop box: the list request 366 with relation kNoRelation and the
// drop box's name in a data segment of type 652; the reply is a mixed order list.
inline constexpr ListOn kListOrdrsOnDropBox{kDropBox.list.request, kNoRelation, 652};

}  // namespace qlm::rec
