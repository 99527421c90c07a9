// qlmrqmgr: the Request Manager.
//
// Start-up, in this order: the server lock <rundir>/qlmrqmgr.lock (another server
// holding it: wait for its window, write the ready byte, end with status 0); the
// database <root>/data/quillmar.db (the data directory made 0700 when missing) and
// the error texts <root>/shared/errortxt.fil; the services REQMNGRI/RMICC and
// REQMNGR/COURIER; the window "Quillmar - Request Manager"; the ready byte. The way
// out is the reverse: window, services, database, lock. It ends on the shutdown
// request, on a request of the system to end (qlm::OnEndRequest), or, when started
// for an application (qlm::StarterProcess), once that application has ended and no
// client is left.
//
// Log: one line per start, end, client connect and disconnect and per failure,
// written to stderr and appended to <data home>/data/qlmrqmgr.log (datahome.h: the
// root, or a per-user directory for a shared installation); lines written before
// that log is known, or when it cannot be written, go to the state log
// ($XDG_STATE_HOME/quillmar/qlmrqmgr.log) instead, so that a failed start is
// found even when the data directory is the problem. Exit status 0 after a
// normal end, 1 when the start failed, 2 on a wrong argument (options.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "common/config.h"
#include "common/memory.h"
#include "common/paths.h"
#include "common/datahome.h"
#include "errortext.h"
#include "icc_server.h"
#include "location.h"
#include "options.h"
#include "transfer.h"
#include "platform/files.h"
#include "platform/unique_fd.h"
#include "platform/windows.h"
#include "service.h"
#include "sqlite_memory.h"
#include "store.h"
#include "wire/wire.h"

namespace {

using qlm::wire::kRequestManagerTitle;

std::string gLogFile;  // empty until the data directory is known

// Appends a line to a log file, private to the user and never through a link put
// in its place; false when it cannot.
bool appendTo(const std::string &file, const std::string &line) {
  const qlm::UniqueFd fd(open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  return fd.valid() && write(fd.get(), line.data(), line.size()) == static_cast<ssize_t>(line.size());
}

// The state log, its directories made (0700) when missing.
void appendToStateLog(const std::string &line) {
  const std::string file = qlm::StateLogFile();
  if (file.empty()) return;
  qlm::MakeDirs(file.substr(0, file.rfind('/')), 0700);
  appendTo(file, line);
}

void writeLine(const std::string &text, bool alsoStateLog) {
  char stamp[32];
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
  const std::string line = std::string(stamp) + " qlmrqmgr[" + std::to_string(getpid()) + "]: " + text + "\n";
  std::fputs(line.c_str(), stderr);
  if (gLogFile.empty() || !appendTo(gLogFile, line) || alsoStateLog) appendToStateLog(line);
}

void logLine(const std::string &text) { writeLine(text, false); }

// A failed start: logged, and always in the state log too, where `qlm doctor` and
// the library's QLM_DEBUG lines send the user.
void startFailed(const std::string &text) { writeLine(text + " (start failed)", true); }

// The network's settings: section [Network] of quillmar.ini, key MaxMessageBytes
// (a positive number; anything else keeps the default), and <root>/exchange.
qlm::rqmgr::NetworkConfig networkConfig(const std::string &root, const std::string &home) {
  qlm::rqmgr::NetworkConfig net;
  net.exchangeDir = home + "exchange";
  net.messagesDir = home + "data/messages";
  if (char *v = qlm::ReadINIFile((root + "quillmar.ini").c_str(), "Network", "MaxMessageBytes")) {
    char *end = nullptr;
    const long long n = std::strtoll(v, &end, 10);
    if (n > 0 && end != v) net.maxMessageBytes = n;
    else logLine(std::string("quillmar.ini: MaxMessageBytes=") + v + " is not a positive number; the default stands");
    qlm::FreeBuf(&v);
  }
  return net;
}

// Makes `dir` and what is missing above it (a per-user data home may not exist yet).
bool makeDir(const std::string &dir) {
  if (qlm::MakeDirs(dir, 0700)) return true;
  startFailed("cannot create " + dir + ": " + std::strerror(errno));
  return false;
}

// The mark of a Request Manager that runs as a service in its run directory: an
// application that finds it closes its conversation without the shutdown request.
std::string serviceMark() {
  const char *runDir = qlm::RunDirectory();
  return runDir != nullptr ? std::string(runDir) + "/" + qlm::wire::kServiceMark : std::string();
}

}  // namespace

int main(int argc, char **argv) {
  using namespace qlm::rqmgr;
  const ServerOptions options = ParseOptions(argc, argv);
  switch (options.action) {
    case ServerOptions::Help: PrintUsage(stdout); return 0;
    case ServerOptions::Version: PrintVersion(stdout); return 0;
    case ServerOptions::Wrong:
      std::fprintf(stderr, "qlmrqmgr: unknown argument %s\n", options.wrong.c_str());
      PrintUsage(stderr);
      return 2;
    case ServerOptions::Serve: break;
  }
  usePooledSqliteMemory();  // before the store is opened; without it SQLite uses the heap
  qlm::OnEndRequest(&IccServer::requestStop);

  switch (qlm::AcquireServerLock(qlm::wire::kServerLock, kRequestManagerTitle)) {
    case qlm::ServerLock::Acquired:
      break;
    case qlm::ServerLock::OtherReady:
      std::fprintf(stderr, "qlmrqmgr: a Request Manager is already running for this run directory; not starting another\n");
      return 0;
    case qlm::ServerLock::Failed:
      startFailed(std::string("cannot take the server lock in the run directory: ") + std::strerror(errno));
      return 1;
  }

  int status = 1;
  {
    char root[qlm::kPathMax];
    char textFile[qlm::kPathMax];
    if (const int rc = qlm::GetRootDir(root, 1); rc != qlm::kPathOk || qlm::GetErrorTextFileName(textFile, 0) != qlm::kPathOk) {
      startFailed(rc == qlm::kPathTooLong ? "the installation root (QLM_ROOTDIR) is longer than 39 characters"
                  : rc == qlm::kPathBadColon ? "the installation root (QLM_ROOTDIR) holds a colon"
                  : "the installation root is not known (set QLM_ROOTDIR, or /etc/quillmar/6.1/RootDir)");
      qlm::ReleaseServerLock();
      return 1;
    }
    const std::string home = qlm::DataHome(root);
    const std::string dataDir = home + "data";
    if (!makeDir(dataDir)) {
      qlm::ReleaseServerLock();
      return 1;
    }
    gLogFile = dataDir + "/qlmrqmgr.log";
    const NetworkConfig network = networkConfig(root, home);
    if (!makeDir(network.exchangeDir) || !makeDir(network.messagesDir)) {
      qlm::ReleaseServerLock();
      return 1;
    }

    ErrorTexts texts;
    if (!texts.load(textFile)) logLine(std::string("error texts not read from ") + textFile + ": built-in messages only");

    std::unique_ptr<Store> store;
    try {
      store = std::make_unique<Store>(StoreLocation(root, dataDir, logLine));
      if (store->dialect() == Dialect::Sqlite) {  // bodies that a Request Manager killed mid-way left behind
        Store::Transaction txn(*store, false);
        const int swept = MessageBodies(network.messagesDir).sweep(
            [&](std::int64_t id) { return store->message(id).has_value(); }, 600);
        txn.commit();
        if (swept > 0) logLine("removed " + std::to_string(swept) + " message bodies that no message names");
      }
    } catch (const StoreError &e) {
      startFailed(std::string("cannot open the database: ") + e.what());
      store.reset();
      qlm::ReleaseServerLock();
      return 1;
    }

    try {
      store->pruneOpenMarks();
    } catch (const StoreError &e) {  // a read-only database or a full disk: serve what can be served
      store->rollback();
      logLine(std::string("open marks of ended processes not removed: ") + e.what());
    }

    Service service(*store, texts, "errortxt.fil", logLine, network);
    IccServer icc(service, logLine);
    if (const long owner = qlm::StarterProcess(); owner > 0 && !options.service)
      icc.watchOwner(static_cast<pid_t>(owner));
    icc.setService(options.service);
    HWND window = nullptr;
    if (icc.start()) window = CreateWindowA("STATIC", kRequestManagerTitle, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    if (window == nullptr) {
      startFailed("cannot start: services or window not available");
    } else {
      qlm::SignalReady();
      const char *runDir = qlm::RunDirectory();
      if (options.service) appendTo(serviceMark(), std::to_string(getpid()) + "\n");
      logLine(std::string(options.service ? "started as a service" : "started") + ": database " + store->describe() +
              ", run directory " + (runDir ? runDir : "?"));
      icc.run();
      if (options.service) unlink(serviceMark().c_str());
      DestroyWindow(window);
      status = 0;
    }
    icc.stop();
    store.reset();
    if (status == 0) logLine("ended");
  }
  qlm::ReleaseServerLock();
  return status;
}
