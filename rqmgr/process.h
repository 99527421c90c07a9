// Whether the processes that marks in the store name still run.
//
// A Request Manager writes marks into the shared database (projects it holds open,
// sessions it holds active); another one decides whether a mark still counts by
// asking whether its process runs. A pid alone may be reused after its process
// ended, so a session mark carries a token "<pid>:<start>" (qlm::ProcessStartMark),
// which a new process with the same pid does not match.
#pragma once
#include <cstdint>
#include <string>

namespace qlm::rqmgr {

// Whether a process exists and has not ended (a zombie has ended).
bool processAlive(std::int64_t pid);

// This process's token.
const std::string &processToken();

// Whether the process a token names still runs (the same process, not a new one
// with its pid). A token without a start time counts by its pid alone.
bool tokenAlive(const std::string &token);

}  // namespace qlm::rqmgr
