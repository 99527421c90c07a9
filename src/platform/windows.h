// The Windows services the link relies on, provided on POSIX with their Windows
// names, types, constants and results: DDE conversations and pokes, the message
// pump and thread timers, window titles, the hidden program start. The wire, the
// files and the order of events are those of the project's transport contract
// (docs/link.md summarises the choices made here); this header states what each
// call promises. A Windows build uses the real <windows.h> and <ddeml.h> instead
// (platform/win32/windows.h); the helpers at the end exist in both builds.
//
// Threads: every call of this layer is made from one thread, the one that pumps
// messages. There are no locks. A child made by fork inherits the layer's state (and
// the descriptors of its endpoints, windows and server lock): it starts afresh and
// does not end what it inherited, which belongs to the parent.
//
// Run directory: every rendezvous file (endpoints, window locks, the server lock)
// lives in the run directory (qlm::RunDirectory below). A call that needs it fails
// the way the call fails on Windows when the directory cannot be made, is not the
// user's own, grants any group or other permission, or is too long for the
// endpoint paths.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/win_types.h"

#ifdef _WIN32
#include "platform/win32/windows.h"
#else
// ---------------------------------------------------------------------------
// Basic types (DWORD, BYTE, LONG, HKEY, REGSAM come from win_types.h).
typedef unsigned int UINT;
typedef int BOOL;
typedef std::uintptr_t UINT_PTR;
typedef std::uintptr_t ULONG_PTR;
typedef std::uintptr_t WPARAM;
typedef std::intptr_t LPARAM;
typedef std::intptr_t LRESULT;
typedef const char *LPCSTR;
typedef char *LPSTR;
typedef BYTE *LPBYTE;
typedef DWORD *LPDWORD;
typedef void *LPVOID;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Opaque handles.
typedef struct HSZ__ *HSZ;            // a name (service, topic, item)
typedef struct HCONV__ *HCONV;        // one conversation
typedef struct HDDEDATA__ *HDDEDATA;  // a block of data; also the callback's result
typedef struct HWND__ *HWND;          // a top-level window
typedef struct HINSTANCE__ *HINSTANCE;
typedef struct HMENU__ *HMENU;
typedef struct CONVCONTEXT *PCONVCONTEXT;  // not used; pass null

struct POINT {
  LONG x, y;
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};

typedef HDDEDATA (*PFNCALLBACK)(UINT wType, UINT wFmt, HCONV hConv, HSZ hsz1, HSZ hsz2,
                                HDDEDATA hData, ULONG_PTR dwData1, ULONG_PTR dwData2);
typedef void (*TIMERPROC)(HWND hwnd, UINT message, UINT_PTR idEvent, DWORD time);

// ---------------------------------------------------------------------------
// Constants.

// Transaction types, as the callback receives them.
#define XCLASS_BOOL 0x1000
#define XCLASS_DATA 0x2000
#define XCLASS_FLAGS 0x4000
#define XCLASS_NOTIFICATION 0x8000
#define XTYPF_NOBLOCK 0x0002
#define XTYP_ERROR (0x0000 | XCLASS_NOTIFICATION | XTYPF_NOBLOCK)
#define XTYP_ADVDATA (0x0010 | XCLASS_FLAGS)
#define XTYP_ADVREQ (0x0020 | XCLASS_DATA | XTYPF_NOBLOCK)
#define XTYP_ADVSTART (0x0030 | XCLASS_BOOL)
#define XTYP_ADVSTOP (0x0040 | XCLASS_NOTIFICATION)
#define XTYP_EXECUTE (0x0050 | XCLASS_FLAGS)
#define XTYP_CONNECT (0x0060 | XCLASS_BOOL | XTYPF_NOBLOCK)
#define XTYP_CONNECT_CONFIRM (0x0070 | XCLASS_NOTIFICATION | XTYPF_NOBLOCK)
#define XTYP_XACT_COMPLETE (0x0080 | XCLASS_NOTIFICATION)
#define XTYP_POKE (0x0090 | XCLASS_FLAGS)
#define XTYP_REGISTER (0x00A0 | XCLASS_NOTIFICATION | XTYPF_NOBLOCK)
#define XTYP_REQUEST (0x00B0 | XCLASS_DATA)
#define XTYP_DISCONNECT (0x00C0 | XCLASS_NOTIFICATION | XTYPF_NOBLOCK)
#define XTYP_UNREGISTER (0x00D0 | XCLASS_NOTIFICATION | XTYPF_NOBLOCK)
#define XTYP_WILDCONNECT (0x00E0 | XCLASS_DATA | XTYPF_NOBLOCK)

#define CF_TEXT 1

// Acknowledgement flags: the result of a poke or execute callback, and the ACK status.
#define DDE_FACK 0x8000
#define DDE_FBUSY 0x4000
#define DDE_FNOTPROCESSED 0x0000

#define DNS_REGISTER 0x0001
#define DNS_UNREGISTER 0x0002
#define DNS_FILTERON 0x0004
#define DNS_FILTEROFF 0x0008

#define DMLERR_NO_ERROR 0
#define DMLERR_ADVACKTIMEOUT 0x4000
#define DMLERR_BUSY 0x4001
#define DMLERR_DATAACKTIMEOUT 0x4002
#define DMLERR_DLL_NOT_INITIALIZED 0x4003
#define DMLERR_DLL_USAGE 0x4004
#define DMLERR_EXECACKTIMEOUT 0x4005
#define DMLERR_INVALIDPARAMETER 0x4006
#define DMLERR_LOW_MEMORY 0x4007
#define DMLERR_MEMORY_ERROR 0x4008
#define DMLERR_NOTPROCESSED 0x4009
#define DMLERR_NO_CONV_ESTABLISHED 0x400a
#define DMLERR_POKEACKTIMEOUT 0x400b
#define DMLERR_POSTMSG_FAILED 0x400c
#define DMLERR_REENTRANCY 0x400d
#define DMLERR_SERVER_DIED 0x400e
#define DMLERR_SYS_ERROR 0x400f
#define DMLERR_UNADVACKTIMEOUT 0x4010
#define DMLERR_UNFOUND_QUEUE_ID 0x4011

#define APPCLASS_STANDARD 0x00000000
#define APPCMD_CLIENTONLY 0x00000010
#define CP_WINANSI 1004
#define HDATA_APPOWNED 0x0001
#define TIMEOUT_ASYNC 0xFFFFFFFF

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define WM_QUIT 0x0012
#define WM_TIMER 0x0113
#define WM_APP 0x8000
#define SW_HIDE 0

// ---------------------------------------------------------------------------
// DDE management library.
//
// Names: string handles stand for names of at most 255 characters; equal names
// (compared without regard to case) give the same handle in every instance of the
// process, so handles may be compared with ==. Service and topic names are at most
// 8 characters and contain no '.' or '/'; DdeConnect also takes the
// instance-specific form "<SERVICE>.<pid>.<n>".
//
// Events reach an instance's callback only inside DispatchMessageA and inside the
// waits of DdeConnect and DdeClientTransaction (which dispatch the process's other
// events while they wait). The callback receives, per event:
//   XTYP_CONNECT         hsz1 topic, hsz2 service; result non-zero accepts
//   XTYP_CONNECT_CONFIRM hConv, hsz1 topic, hsz2 service (after CONNECT_REPLY 1 went out)
//   XTYP_POKE            hConv, wFmt, hsz1 topic, hsz2 item, hData; result DDE_FACK,
//                        DDE_FBUSY or 0 becomes the ACK status
//   XTYP_EXECUTE         hConv, hsz1 topic, hData (the command); result as for a poke
//   XTYP_DISCONNECT      hConv: the partner closed the conversation, or the layer ended
//                        it (dwData1 says why: kDrop* below); never for the instance's
//                        own DdeDisconnect; the handle is invalid afterwards
//   XTYP_XACT_COMPLETE   hConv, hsz1 topic, hsz2 item, dwData1 the transaction id,
//                        dwData2 the ACK status, hData non-null when it was DDE_FACK:
//                        the ACK of an asynchronous transaction (TIMEOUT_ASYNC)
// Handles and data given to the callback are valid only during the call.

// Creates an instance <pid>.<n> (n counts from 1 in each process). *pidInst must be 0.
// Returns DMLERR_NO_ERROR, or DMLERR_INVALIDPARAMETER (null callback, *pidInst not 0).
UINT DdeInitializeA(DWORD *pidInst, PFNCALLBACK pfnCallback, DWORD afCmd, DWORD ulRes);
// Ends the instance: closes its conversations (each partner sees XTYP_DISCONNECT) and
// unregisters its services (their endpoints are unlinked). FALSE for an unknown instance.
BOOL DdeUninitialize(DWORD idInst);

// A handle for `psz` (a new reference); null for a null or overlong name.
HSZ DdeCreateStringHandleA(DWORD idInst, LPCSTR psz, int iCodePage);
// Drops one reference. FALSE for a null handle.
BOOL DdeFreeStringHandle(DWORD idInst, HSZ hsz);
// <0, 0, >0 as the names compare without regard to case (a null handle is lowest).
int DdeCmpStringHandles(HSZ hsz1, HSZ hsz2);
// Copies the name (at most cchMax-1 characters and a NUL) and returns its length; with a
// null psz returns the length only. 0 for a null handle.
DWORD DdeQueryStringA(DWORD idInst, HSZ hsz, LPSTR psz, DWORD cchMax, int iCodePage);

// DNS_REGISTER: makes the listening endpoint <rundir>/<SERVICE>.<pid>.<n> (a file of the
// same name left by a dead process is replaced). DNS_UNREGISTER: closes and unlinks it;
// with a null hsz1 all of the instance's. Returns non-zero on success, else null with
// DdeGetLastError DMLERR_INVALIDPARAMETER (bad name) or DMLERR_SYS_ERROR (run
// directory refused, socket failure).
HDDEDATA DdeNameService(DWORD idInst, HSZ hsz1, HSZ hsz2, UINT afCmd);

// Opens a conversation: tries the endpoints "<SERVICE>.<pid>.<n>" of the run directory
// in ascending order of pid and instance number (an instance-specific name tries that
// one alone), sends CONNECT and waits up to kConnectReplyMs for the CONNECT_REPLY of
// each, and takes the first that accepts. An endpoint that refuses the socket
// connection is stale and is unlinked; one whose listening process is not the one its
// name gives (SO_PEERCRED) or not of this user is skipped. Null when none accepts
// (DMLERR_NO_CONV_ESTABLISHED, or DMLERR_SYS_ERROR when the run directory is refused).
//
// The server side of every conversation: a connection whose peer is not of this user
// is closed at once, and so is one beyond kMaxConversationsPerPeer of one process; a
// new connection must send its CONNECT within kHandshakeLimitMs, and its claimed pid
// must be its own (SO_PEERCRED), else it is closed (CONNECT_REPLY 0 for a wrong
// claim). At most kMaxHandshakes connections wait for their CONNECT (a new one closes
// the oldest), and at most kMaxConversations exist in a process (listeners wait
// meanwhile). When accepting fails for want of descriptors or memory, that listener
// rests kAcceptBackoffMinMs, doubling up to kAcceptBackoffMaxMs, instead of being
// found ready again at once.
HCONV DdeConnect(DWORD idInst, HSZ hszService, HSZ hszTopic, PCONVCONTEXT pCC);
// Closes a conversation of either side; the partner sees XTYP_DISCONNECT.
BOOL DdeDisconnect(HCONV hConv);

// A data object of cbOff + cb bytes holding pSrc (zeros when pSrc is null) from cbOff.
HDDEDATA DdeCreateDataHandle(DWORD idInst, LPBYTE pSrc, DWORD cb, DWORD cbOff, HSZ hszItem,
                             UINT wFmt, UINT afCmd);
BOOL DdeFreeDataHandle(HDDEDATA hData);
// With a null pDst: the size of the object. Else copies up to cbMax bytes from offset
// cbOff and returns the number copied.
DWORD DdeGetData(HDDEDATA hData, LPBYTE pDst, DWORD cbMax, DWORD cbOff);

// XTYP_POKE (item hszItem, format wFmt) or XTYP_EXECUTE on a conversation, synchronous:
// sends one POKE or EXECUTE frame and waits up to dwTimeout ms for its ACK, dispatching
// the other events of the process meanwhile. With dwTimeout TIMEOUT_ASYNC it queues
// the frame and returns at once the transaction id (also in *pdwResult); the ACK
// arrives as XTYP_XACT_COMPLETE, and a partner that lets kAckLimitMs pass without it
// has the conversation ended (XTYP_DISCONNECT, kDropNoAck). Frames are never sent
// with a wait: those the socket does not take are queued and sent as it drains, at
// most kMaxUnacked transactions being unacknowledged at a time. A conversation whose
// queue would pass kMaxQueuedFrames or kMaxQueuedBytes is ended (kDropNotReading;
// the call fails with DMLERR_SERVER_DIED). pData with cbData == 0xFFFFFFFF is a data
// handle, which the call consumes; otherwise cbData raw bytes. Returns non-zero when the
// partner acknowledged (*pdwResult gets the status); otherwise null and DdeGetLastError:
//   DMLERR_NOTPROCESSED (refused), DMLERR_BUSY, DMLERR_POKEACKTIMEOUT /
//   DMLERR_EXECACKTIMEOUT (no ACK in time; a late ACK is discarded),
//   DMLERR_SERVER_DIED (the partner closed while we waited), DMLERR_NO_CONV_ESTABLISHED
//   (not a live conversation), DMLERR_REENTRANCY (a transaction already waits on it),
//   DMLERR_INVALIDPARAMETER (other types), DMLERR_MEMORY_ERROR (more than kMaxFrame).
HDDEDATA DdeClientTransaction(LPBYTE pData, DWORD cbData, HCONV hConv, HSZ hszItem, UINT wFmt,
                              UINT wType, DWORD dwTimeout, LPDWORD pdwResult);
// The instance's last error, which is reset to DMLERR_NO_ERROR.
UINT DdeGetLastError(DWORD idInst);

// ---------------------------------------------------------------------------
// Message pump and thread timers. hWnd must be null and the filter range 0, 0.

// A timer that expires every uElapse ms (at least 1), measured from its start without
// drift; an expiry that falls due while the previous one was not taken yet is not
// queued twice. nIDEvent equal to a running timer's id restarts that timer. Returns
// the timer's id (never 0), or 0 when lpTimerFunc is null.
UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc);
BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent);

// Blocks until there is something to deliver and fills *lpMsg: WM_QUIT (after
// PostQuitMessage; returns 0), WM_TIMER (wParam the id, lParam the TIMERPROC), or a
// DDE event of one of the process's instances (message kWmDdeEvent). Returns 1, or 0
// for WM_QUIT, or -1 for a null lpMsg. Before it blocks it looks again for up to
// kSpinMicros (QLM_SPIN_US in the environment; 0: never), yielding the processor
// between looks, so that an event due within microseconds costs no sleep and wake-up.
BOOL GetMessageA(MSG *lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax);
BOOL TranslateMessage(const MSG *lpMsg);  // nothing to translate; returns FALSE
// Runs the TIMERPROC of a WM_TIMER, or delivers a DDE event to its instance's callback.
LRESULT DispatchMessageA(const MSG *lpMsg);
// Like GetMessageA without waiting: TRUE when there is something (filled in *lpMsg).
// PM_NOREMOVE leaves it in place; PM_REMOVE takes a WM_QUIT or a timer expiry away.
// DDE events are taken only by DispatchMessageA.
BOOL PeekMessageA(MSG *lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg);
void PostQuitMessage(int nExitCode);

inline constexpr UINT kWmDdeEvent = WM_APP + 0x0D0E;  // a DDE event waiting for dispatch
inline constexpr long kSpinMicros = 30;               // the pump's look before it blocks
inline constexpr DWORD kConnectReplyMs = 5000;        // DdeConnect's wait for each reply

// Limits of the conversations (see DdeConnect and DdeClientTransaction).
inline constexpr DWORD kHandshakeLimitMs = 2000;   // a new connection's CONNECT due
inline constexpr DWORD kAckLimitMs = 5000;         // the ACK of an asynchronous transaction due
inline constexpr std::size_t kMaxUnacked = 8;      // transactions sent and not yet acknowledged
inline constexpr std::size_t kMaxQueuedFrames = 256;           // frames waiting for the socket
inline constexpr std::size_t kMaxQueuedBytes = 1024 * 1024;    // their bytes
inline constexpr std::size_t kMaxFrame = 65536;                // bytes of one frame
inline constexpr std::size_t kMaxConversations = 512;          // per process
inline constexpr std::size_t kMaxConversationsPerPeer = 16;    // accepted from one process
inline constexpr std::size_t kMaxHandshakes = 64;              // connections awaiting CONNECT
inline constexpr int kAcceptBackoffMinMs = 50;
inline constexpr int kAcceptBackoffMaxMs = 1000;
// Why the layer ended a conversation (dwData1 of its XTYP_DISCONNECT).
inline constexpr ULONG_PTR kDropPartnerClosed = 0;  // closed, or the socket failed
inline constexpr ULONG_PTR kDropNotReading = 1;     // its queue of unsent frames overflowed
inline constexpr ULONG_PTR kDropNoAck = 2;          // an ACK did not come within kAckLimitMs
inline constexpr ULONG_PTR kDropNoReply = 3;        // no CONNECT_REPLY within kConnectReplyMs
inline constexpr ULONG_PTR kDropRefused = 4;        // CONNECT_REPLY 0
inline constexpr ULONG_PTR kDropHandshake = 5;      // no CONNECT within kHandshakeLimitMs

// ---------------------------------------------------------------------------
// Windows (top-level window titles only).

// The window "exists" while this holds an open-file-description write lock on
// <rundir>/windows/<title>. Null when the title is empty or holds '/', the run
// directory is refused, or a window of that title exists already (one per title and
// run directory). The other arguments are not used; callers pass the class "STATIC"
// and zeros, which make a hidden window on Windows.
HWND CreateWindowA(LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y, int nWidth,
                   int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam);
// Releases the lock: the window is gone for every process. FALSE for an unknown handle.
BOOL DestroyWindow(HWND hWnd);
// Non-null while some open file description (of any process, this one included) holds
// the lock of <rundir>/windows/<title>; only asks, never takes the lock. The handle is
// the caller's own window when it holds that title, else a token that identifies no
// window of this process (DestroyWindow refuses it). lpClassName is not used.
HWND FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName);

// ---------------------------------------------------------------------------
// Starting a program.

// Splits lpCmdLine at blanks (double quotes group blanks into one argument), starts the
// program (searched in PATH when it names no directory) detached: its own session,
// standard streams on /dev/null, no descriptors of the caller but the readiness pipe,
// whose descriptor its environment names in QLM_READY_FD; QLM_RUNDIR names the run
// directory when one is in use, QLM_OWNER_PID the calling process (a server ends
// once it has ended). Then waits, at most kReadyWaitMs, until the program
// writes a byte to the pipe or closes it. Returns 33 when it did (or still runs when the
// wait ends); else below 32:
//   0 out of resources, 2 program not found, 3 path not found (or the run directory
//   cannot be made), 5 access denied (or the run directory is refused), 11 not an
//   executable, 12 the program ended before it was ready. 16 is not used.
UINT WinExec(LPCSTR lpCmdLine, UINT uCmdShow);

void Sleep(DWORD dwMilliseconds);
#endif  // _WIN32

// WinExec's code of a program that ended before it was ready (POSIX; Windows's
// WinExec never answers it, its 12 being a program for another version of the system).
inline constexpr UINT kExecEndedFirst = 12;

// How long a start waits for the program to be ready (POSIX), and a second server
// for the first one's window (both builds).
inline constexpr DWORD kReadyWaitMs = 10000;

// ---------------------------------------------------------------------------
// Helpers of the transport (for Windows: platform/win32/windows.h says how they
// differ there).

namespace qlm {

// The run directory: $QLM_RUNDIR when set and not empty (shared on purpose), else the
// application's own <base>/<pid>, <base> being $XDG_RUNTIME_DIR/quillmar or
// /tmp/quillmar-<uid>. The run directory and <base> are made with mode 0700 when
// missing (their parent must exist). Null (errno set)
// when a directory is not the user's own (EPERM), grants group or other permissions
// (EACCES), cannot be made, or is too long for endpoint paths (ENAMETOOLONG).
// The pointer stays valid until the next call.
const char *RunDirectory();
// The run directory checked by an earlier RunDirectory() for the same setting,
// without checking it again (for the frequent "is the window there" question).
const char *KnownRunDirectory();
// Makes the run directory ready before the Request Manager is looked for: as
// RunDirectory, and for the application's own directory also removes the sibling
// directories under <base> whose process no longer exists. 0, or -1 (errno set).
int PrepareRunDir();
// Removes the application's own run directory with everything in it (nothing is done
// for a $QLM_RUNDIR). Called when the interface closes, after the Request Manager ended.
void RemoveRunDir();
// The longest run directory path whose endpoint paths still fit a socket address.
inline constexpr std::size_t kMaxRunDirLength = 76;

// DdeConnect to one instance-specific name ("<SERVICE>.<pid>.<n>") without waiting
// for the CONNECT_REPLY: the conversation is returned at once, and asynchronous
// transactions (TIMEOUT_ASYNC) on it are held until the reply accepts it. A refusal,
// or no reply within kConnectReplyMs, ends it (XTYP_DISCONNECT with kDropRefused or
// kDropNoReply). Null when no connection could be made (DdeGetLastError as for
// DdeConnect).
HCONV ConnectNoWait(DWORD idInst, HSZ hszService, HSZ hszTopic);

// ACKs in batches, for a server that answers with asynchronous transactions: from
// now on the instance acknowledges each POKE or EXECUTE its callback takes when the
// process next waits for events (after the frames that the work done meanwhile
// sends: an answer made at once and its request's ACK go out together), and the
// ACKs of its own asynchronous transactions are read when the process wakes for
// another event, when kMaxUnacked of them are outstanding on a conversation, or when
// their time limit is due; XTYP_XACT_COMPLETE comes then. So neither side wakes for
// an ACK alone. FALSE for an unknown instance.
BOOL BatchAcks(DWORD idInst);
// Sends the ACKs that BatchAcks holds now: before work that may take long, so that
// the requests' senders do not wait for it to see their ACKs.
void SendHeldAcks();

// The partner of a conversation: its process id and instance number (from its CONNECT
// frame, or from the endpoint's name for a conversation this process opened).
BOOL ConversationPartner(HCONV hConv, DWORD *pid, DWORD *instance);
// Writes "<SERVICE>.<pid>.<n>" (upper case) into out; false when it does not fit.
bool InstanceServiceName(char *out, std::size_t size, const char *service, DWORD pid,
                         DWORD instance);

// Server side of the start: writes the ready byte to $QLM_READY_FD and closes it (the
// variable is removed). Nothing when the variable is unset. 0, or -1 on a write error.
int SignalReady();

// The first step of a server's start: an exclusive open-file-description lock on
// <rundir>/<lockName>. While another process holds it, waits (at most kReadyWaitMs)
// until either its window `title` appears or the lock is free (a server that was
// ending let it go; this one then takes it).
enum class ServerLock {
  Acquired,     // this process holds the lock until ReleaseServerLock or its end
  OtherReady,   // another server holds it and its window appeared; the ready byte
                // was written: end with status 0
  Failed,       // the run directory or the lock file failed, or neither happened in
                // time: end with a failure status
};
ServerLock AcquireServerLock(const char *lockName, const char *title);
void ReleaseServerLock();

// Whether process `pid` has ended: there is no such process (any more), or it is a
// zombie that nobody reaped yet. A process of another user has not ended.
bool ProcessEnded(long pid);

// When process `pid` started, as text that a later process with the same pid does
// not repeat (POSIX: its start in clock ticks after boot, from /proc/<pid>/stat;
// Windows: its creation time). Empty when it cannot be learned.
std::string ProcessStartMark(long pid);

// Server side: the application this server was started for, or 0: $QLM_OWNER_PID,
// which WinExec sets (POSIX); on Windows, where WinExec passes nothing, the process
// that started this one.
long StarterProcess();

// Server side: has `stop` called when the user or the system asks the program to end
// (POSIX: SIGTERM, SIGINT or SIGHUP, and SIGPIPE is ignored; Windows: a console
// control event). `stop` runs in a signal handler or another thread: it may only set
// a flag.
void OnEndRequest(void (*stop)());

// One second of the waiting loops, in ms: 1000, or $QLM_WAIT_SCALE_MS (a test aid,
// read once at the first call) when it holds a positive number.
DWORD WaitUnitMs();

}  // namespace qlm
