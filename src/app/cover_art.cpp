#include "cover_art.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace plumo {

namespace {

// FNV-1a, 64 bits: the same bytes always give the same name.
uint64_t Hash(const std::vector<uint8_t>& bytes) {
  uint64_t h = 14695981039346656037ull;
  for (const uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
  return h;
}

std::string CoverFolder() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache != nullptr && cache[0] == '/') return std::string(cache) + "/plumo/covers";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') return {};
  return std::string(home) + "/.cache/plumo/covers";
}

bool WriteAll(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string CoverArtFile(const TPicture& picture) {
  const std::string_view kind = PictureKind(picture.Data);
  if (kind.empty()) return {};
  const std::string folder = CoverFolder();
  if (folder.empty()) return {};
  char name[64];
  std::snprintf(name, sizeof name, "/%016llx-%zu.%s", static_cast<unsigned long long>(Hash(picture.Data)),
                picture.Data.size(), kind == "JPEG" ? "jpg" : "png");
  const std::string path = folder + name;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && static_cast<size_t>(st.st_size) == picture.Data.size())
    return path;

  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) return {};
  // Written under a name of its own and renamed when complete, so that a reader never sees half
  // a picture.
  const std::string temporary = path + "." + std::to_string(::getpid()) + ".tmp";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return {};
  const bool written = WriteAll(fd, picture.Data);
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return {};
  }
  return path;
}

}  // namespace plumo
