#include "file_stream.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plumo {

namespace {

std::string Reason(int error) { return std::strerror(error); }

}  // namespace

TFileStream::TFileStream(const std::string& fileName) : FFileName(fileName) {
  // Linux has no deny-write sharing mode; the file is simply opened read-only.
  FHandle = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (FHandle < 0) {
    const int error = errno;
    throw EFOpenError("Cannot open file \"" + fileName + "\". " + Reason(error), error);
  }
  struct stat info {};
  if (::fstat(FHandle, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(FHandle);
    FHandle = -1;
    throw EFOpenError("Cannot open file \"" + fileName + "\". " + Reason(EISDIR), EISDIR);
  }
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

int32_t TFileStream::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  for (;;) {
    const ssize_t got = ::read(FHandle, buffer, static_cast<size_t>(count));
    if (got >= 0) return static_cast<int32_t>(got);
    if (errno != EINTR) throw EStreamError("Stream read error: " + FFileName + ". " + Reason(errno));
  }
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
  const off_t result = ::lseek(FHandle, static_cast<off_t>(offset), whence);
  if (result < 0) throw EStreamError("Stream seek error: " + FFileName + ". " + Reason(errno));
  return static_cast<int64_t>(result);
}

int64_t TFileStream::Size() {
  struct stat info {};
  if (::fstat(FHandle, &info) == 0 && S_ISREG(info.st_mode)) return static_cast<int64_t>(info.st_size);
  return TStream::Size();
}

}  // namespace plumo
