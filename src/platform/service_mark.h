// Whether the Request Manager of the run directory runs as a service
// (qlmrqmgr --service): its mark <rundir>/qlmrqmgr.service is there and its server
// lock is held. An application then ends its conversation without the shutdown
// request and does not wait for the server to end.
#pragma once

namespace qlm {

bool ServiceRuns();

}  // namespace qlm
