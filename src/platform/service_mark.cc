// The mark of a Request Manager that runs as a service (service_mark.h).
#include "platform/service_mark.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/internal.h"
#include "platform/unique_fd.h"
#include "platform/windows.h"
#include "wire/wire.h"

namespace qlm {

bool ServiceRuns() {
  const char *dir = KnownRunDirectory();
  if (dir == nullptr) return false;
  struct stat st{};
  if (::lstat((std::string(dir) + "/" + wire::kServiceMark).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const UniqueFd fd(::open((std::string(dir) + "/" + wire::kServerLock).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  return fd.valid() && platform::LockHeld(fd.get());
}

}  // namespace qlm
