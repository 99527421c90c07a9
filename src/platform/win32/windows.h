// The Windows build of the platform layer: the real Win32 and DDEML, with the few
// names of this project that the POSIX build defines beside them (platform/windows.h).
//
// What differs from the POSIX build, for the layers above:
//   - DdeConnect and the other DDE calls are the system's own. ConnectNoWait waits
//     for the partner's answer like DdeConnect (DDEML has no connection that is
//     answered later) and finds the instance by its process (see ConnectNoWait).
//   - A conversation ended by the partner gives XTYP_DISCONNECT with dwData1 0
//     (kDropPartnerClosed); DDEML ends no conversation for a slow partner, so the
//     other kDrop* reasons do not occur.
//   - Windows are real top-level windows (class "STATIC", never shown); FindWindowA
//     finds them in the whole desktop session, so the applications of a session
//     share one Request Manager.
//   - WinExec waits until the started program first waits for input (up to 30 s);
//     a server is ready once it pumps messages, and SignalReady has nothing to do.
#pragma once
#include <windows.h>  // first: <ddeml.h> needs its types

#include <ddeml.h>

#include <cstddef>

inline constexpr ULONG_PTR kDropPartnerClosed = 0;
inline constexpr ULONG_PTR kDropNotReading = 1;
inline constexpr ULONG_PTR kDropNoAck = 2;
inline constexpr ULONG_PTR kDropNoReply = 3;
inline constexpr ULONG_PTR kDropRefused = 4;
