// The process-wide named lock that keeps a second instance out: an exclusive flock on a lock
// file named after the lock, in $XDG_RUNTIME_DIR (else in the user's private folder in /tmp,
// RuntimeFolder). It is held as long as the InstanceLock lives; the kernel also releases it when
// the process ends.
#pragma once

#include <memory>
#include <string>

namespace plumo::platform {

class InstanceLock {
 public:
  // The lock, or nullptr when another process holds it. A lock file that cannot be made or
  // locked (or a folder that is not the user's own) is a std::runtime_error that says so: that
  // is not another instance running.
  static std::unique_ptr<InstanceLock> TryAcquire(const std::string& name);
  // The lock file used for name; std::runtime_error as above for the folder.
  static std::string LockFileName(const std::string& name);

  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

 private:
  explicit InstanceLock(int fd) : FFd(fd) {}
  int FFd;
};

}  // namespace plumo::platform
