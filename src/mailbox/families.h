// The mailbox families with the trace names of their readers, and the two mixed
// list readers that hold send and receive entries side by side:
//   cfProcAnyOrdrsListedRsp  send orders (500 bytes, "S") and receive orders (348, "R")
//   cfProcAnyRcptsListedRsp  send receipts (317, "S") and receive receipts (725, "R")
// A mixed list packs its entries by their own size, blanks each before filling it,
// and passes over segments of any other type. It stores at most `numentries`
// entries, so it never writes more than `numentries` entries of the wider kind;
// a count equal to `numentries` means that more may follow on the next page.
#pragma once
#include "interface/patterns.h"
#include "records/mailbox.h"

namespace qlm {

inline constexpr Family kSendOrdrs{rec::kSendOrdr,
                                   {"cfpsnad", "cfProcSendOrdrAddedRsp"},
                                   {"cfpsnrp", "cfProcSendOrdrReplacedRsp"},
                                   {"cfpsnls", "cfProcSendOrdrListedRsp"},
                                   {"cflsnls", "cfProcSendOrdrListedSegment"}};
inline constexpr Family kRecvOrdrs{rec::kRecvOrdr,
                                   {"cfprvad", "cfProcRecvOrdrAddedRsp"},
                                   {"cfprvrp", "cfProcRecvOrdrReplacedRsp"},
                                   {"cfprvls", "cfProcRecvOrdrListedRsp"},
                                   {"cflrvls", "cfProcRecvOrdrListedSegment"}};
// Receipts are never replaced: they have no replace reader.
inline constexpr Family kSendRcpts{rec::kSendRcpt,
                                   {"cfpxsad", "cfProcSendRcptAddedRsp"},
                                   {},
                                   {"cfpxsls", "cfProcSendRcptListedRsp"},
                                   {"cflxsls", "cfProcSendRcptListedSegment"}};
inline constexpr Family kRecvRcpts{rec::kRecvRcpt,
                                   {"cfpxrad", "cfProcRecvRcptAddedRsp"},
                                   {},
                                   {"cfpxrls", "cfProcRecvRcptListedRsp"},
                                   {"cflxrls", "cfProcRecvRcptListedSegment"}};
inline constexpr Family kDropBoxes{rec::kDropBox,
                                   {"cfpdrad", "cfProcDropBoxAddedRsp"},
                                   {"cfpdrrp", "cfProcDropBoxReplacedRsp"},
                                   {"cfpdrls", "cfProcDropBoxListedRsp"},
                                   {"cfldrls", "cfProcDropBoxListedSegment"}};

// The entry kinds of the mixed lists, each filled by its family's entry reader.
inline constexpr EntryKind kAnyOrdrKinds[] = {{rec::kMixedOrdrs[0], kSendOrdrs.segment},
                                              {rec::kMixedOrdrs[1], kRecvOrdrs.segment}};
inline constexpr EntryKind kAnyRcptKinds[] = {{rec::kMixedRcpts[0], kSendRcpts.segment},
                                              {rec::kMixedRcpts[1], kRecvRcpts.segment}};
static_assert(kAnyOrdrKinds[0].entries.type == 'S' && kAnyOrdrKinds[1].entries.type == 'R' &&
              kAnyRcptKinds[0].entries.type == 'S' && kAnyRcptKinds[1].entries.type == 'R');

// The mixed list readers: the replies of the order shelf and of the orders on a
// drop box, and of the receipt shelf and of the receipts on a session receipt.
inline constexpr ListReader kAnyOrdrsListed{{"cfposls", "cfProcAnyOrdrsListedRsp"}, kAnyOrdrKinds, true};
inline constexpr ListReader kAnyRcptsListed{{"cfprsls", "cfProcAnyRcptsListedRsp"}, kAnyRcptKinds, true};

}  // namespace qlm
