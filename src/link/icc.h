// ICC client: the library's end of its one conversation with the Request Manager.
//
// Three DDE services: the client service (provided here: every message from the
// Request Manager arrives on it), the control service (Init and End) and the data
// service (requests); the ICC messages and the names are those of wire/wire.h.
// Results are 0 or the negative link codes below.
#pragma once
#include <cstdint>

namespace qlm::icc {

inline constexpr int kOk = 0;
inline constexpr int kErrGeneral = -1;     // started already, rejected, IPC step failed
inline constexpr int kErrProtocol = -2;    // first message back was not an Init Response
inline constexpr int kErrStart = -4;       // program did not start; data length outside 0..4000
inline constexpr int kErrTimeout = -7;     // no message within the wait
inline constexpr int kErrTruncated = -8;   // data longer than the caller's buffer
inline constexpr int kErrNoServer = -20;   // a Request Manager service did not answer
inline constexpr int kErrNoPartner = -21;  // no partner connected to the own service

inline constexpr int kMessageArea = 3988;  // 8 header bytes + 3980 data bytes

int iccStart();
void iccEnd();
int iccSend(const void *data, int length);
// length: in the capacity of `buffer`, out the number of bytes delivered.
int iccReceive(void *buffer, int *length);
int iccProcessCmd(const void *message, int length);
// 0 while the Request Manager runs (its window exists), 1 when it does not.
int iccIsRMActive();
// The same for the exchange of a request, asked before every receive: 0 while the
// link's conversations with the Request Manager are open (no system call), else as
// iccIsRMActive.
int iccPeerActive();
// Like iccReceive without waiting: what already arrived is delivered first, then the
// oldest data message not yet taken is returned; -7 when there is none.
int iccTakePending(void *buffer, int *length);

// The key and version string of the last handshake (kept after iccEnd).
std::int16_t ClientKey();
const char *RequestManagerVersion();  // 30 bytes, NUL-padded

}  // namespace qlm::icc
