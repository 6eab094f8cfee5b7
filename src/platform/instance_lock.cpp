#include "instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "settings_path.h"

namespace plumo::platform {

std::string InstanceLock::LockFileName(const std::string& name) { return RuntimeFolder() + "/" + name + ".lock"; }

std::unique_ptr<InstanceLock> InstanceLock::TryAcquire(const std::string& name) {
  const std::string file = LockFileName(name);
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) throw std::runtime_error("cannot make the lock file " + file + ": " + std::strerror(errno));
  int r;
  do {
    r = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (r != 0 && errno == EINTR);
  if (r != 0) {
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) return nullptr;
    throw std::runtime_error("cannot lock the file " + file + ": " + std::strerror(error));
  }
  return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

InstanceLock::~InstanceLock() { ::close(FFd); }

}  // namespace plumo::platform
