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
// written to stderr and appended to <root>/data/qlmrqmgr.log. Exit status 0 after a
// normal end, 1 when the start failed.
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
#include "errortext.h"
#include "icc_server.h"
#include "transfer.h"
#include "platform/files.h"
#include "platform/unique_fd.h"
#include "platform/windows.h"
#include "service.h"
#include "store.h"
#include "wire/wire.h"

namespace {

using qlm::wire::kRequestManagerTitle;

std::string gLogFile;  // empty until the data directory is known

void logLine(const std::string &text) {
  char stamp[32];
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
  const std::string line = std::string(stamp) + " qlmrqmgr[" + std::to_string(getpid()) + "]: " + text + "\n";
  std::fputs(line.c_str(), stderr);
  if (gLogFile.empty()) return;
  // Private to the user, appended to, and never through a link put in its place.
  const qlm::UniqueFd fd(open(gLogFile.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd.valid()) return;
  ssize_t ignored = write(fd.get(), line.data(), line.size());
  (void)ignored;
}

// The network's settings: section [Network] of quillmar.ini, key MaxMessageBytes
// (a positive number; anything else keeps the default), and <root>/exchange.
qlm::rqmgr::NetworkConfig networkConfig(const std::string &root) {
  qlm::rqmgr::NetworkConfig net;
  net.exchangeDir = root + "exchange";
  net.messagesDir = root + "data/messages";
  if (char *v = qlm::ReadINIFile((root + "quillmar.ini").c_str(), "Network", "MaxMessageBytes")) {
    char *end = nullptr;
    const long long n = std::strtoll(v, &end, 10);
    if (n > 0 && end != v) net.maxMessageBytes = n;
    else logLine(std::string("quillmar.ini: MaxMessageBytes=") + v + " is not a positive number; the default stands");
    qlm::FreeBuf(&v);
  }
  return net;
}

// Where the store is: QLM_STORE when set ("postgresql:<connection string>", or
// "sqlite"), else section [Store] of quillmar.ini (Backend=postgresql with
// Conninfo=<connection string>, or Backend=sqlite), else the SQLite file
// <root>/data/quillmar.db.
std::string storeLocation(const std::string &root, const std::string &dataDir) {
  const std::string sqlite = dataDir + "/quillmar.db";
  if (const char *env = std::getenv("QLM_STORE"); env != nullptr && *env != '\0')
    return std::string(env) == "sqlite" ? sqlite : env;
  const std::string ini = root + "quillmar.ini";
  std::string backend, conninfo;
  for (auto [key, out] : {std::pair{"Backend", &backend}, {"Conninfo", &conninfo}})
    if (char *v = qlm::ReadINIFile(ini.c_str(), "Store", key)) {
      *out = v;
      qlm::FreeBuf(&v);
    }
  while (!backend.empty() && (backend.back() == '\r' || backend.back() == ' ')) backend.pop_back();
  if (backend == "postgresql") return std::string(qlm::rqmgr::kPostgresPrefix) + conninfo;
  if (!backend.empty() && backend != "sqlite") logLine("quillmar.ini: Backend=" + backend + " is not known; SQLite stands");
  return sqlite;
}

bool makeDir(const std::string &dir) {
  if (mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST) return true;
  logLine("cannot create " + dir + ": " + std::strerror(errno));
  return false;
}

}  // namespace

int main() {
  using namespace qlm::rqmgr;
  qlm::OnEndRequest(&IccServer::requestStop);

  switch (qlm::AcquireServerLock(qlm::wire::kServerLock, kRequestManagerTitle)) {
    case qlm::ServerLock::Acquired:
      break;
    case qlm::ServerLock::OtherReady:
      std::fprintf(stderr, "qlmrqmgr: a Request Manager is already running for this run directory; not starting another\n");
      return 0;
    case qlm::ServerLock::Failed:
      logLine(std::string("cannot take the server lock in the run directory: ") + std::strerror(errno));
      return 1;
  }

  int status = 1;
  {
    char root[qlm::kPathMax];
    char textFile[qlm::kPathMax];
    if (qlm::GetRootDir(root, 1) != qlm::kPathOk || qlm::GetErrorTextFileName(textFile, 0) != qlm::kPathOk) {
      logLine("the installation root is not known (QLM_ROOTDIR or /etc/quillmar/6.1/RootDir)");
      qlm::ReleaseServerLock();
      return 1;
    }
    const std::string dataDir = std::string(root) + "data";
    if (!makeDir(dataDir)) {
      qlm::ReleaseServerLock();
      return 1;
    }
    gLogFile = dataDir + "/qlmrqmgr.log";
    const NetworkConfig network = networkConfig(root);
    if (!makeDir(network.exchangeDir) || !makeDir(network.messagesDir)) {
      qlm::ReleaseServerLock();
      return 1;
    }

    ErrorTexts texts;
    if (!texts.load(textFile)) logLine(std::string("error texts not read from ") + textFile + ": built-in messages only");

    std::unique_ptr<Store> store;
    try {
      store = std::make_unique<Store>(storeLocation(root, dataDir));
      if (store->dialect() == Dialect::Sqlite) {  // bodies that a Request Manager killed mid-way left behind
        Store::Transaction txn(*store, false);
        const int swept = MessageBodies(network.messagesDir).sweep(
            [&](std::int64_t id) { return store->message(id).has_value(); }, 600);
        txn.commit();
        if (swept > 0) logLine("removed " + std::to_string(swept) + " message bodies that no message names");
      }
    } catch (const StoreError &e) {
      logLine(std::string("cannot open the database: ") + e.what());
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
    if (const long owner = qlm::StarterProcess(); owner > 0) icc.watchOwner(static_cast<pid_t>(owner));
    HWND window = nullptr;
    if (icc.start()) window = CreateWindowA("STATIC", kRequestManagerTitle, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    if (window == nullptr) {
      logLine("cannot start: services or window not available");
    } else {
      qlm::SignalReady();
      const char *runDir = qlm::RunDirectory();
      logLine("started: database " + store->describe() + ", run directory " + (runDir ? runDir : "?"));
      icc.run();
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
