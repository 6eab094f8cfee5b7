#include "playlist.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace plumo {

bool HasDrivePart(const std::string& entry) {
  if (!entry.empty() && entry[0] == '/') return true;
  if (entry.size() >= 2 && entry[1] == ':') return true;
  return entry.size() >= 2 && entry[0] == '\\' && entry[1] == '\\';
}

bool IsUrlOrShare(const std::string& entry) {
  return entry.rfind("http://", 0) == 0 || entry.rfind("\\\\", 0) == 0;
}

std::string JoinFolder(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string ExtractFileDir(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string ExtractFileName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string LowerExtension(const std::string& path) {
  const std::string name = ExtractFileName(path);
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return {};
  std::string ext = name.substr(dot);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext;
}

std::string NameWithoutExtension(const std::string& path) {
  const std::string name = ExtractFileName(path);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

namespace {

[[noreturn]] void ThrowReadError(const std::string& path, int error) {
  throw std::runtime_error(path + ": " + std::strerror(error));
}

void AddLine(const std::string& line, const std::string& current_dir, std::vector<std::string>& playlist) {
  if (HasDrivePart(line) || IsUrlOrShare(line)) playlist.push_back(line);
  else playlist.push_back(JoinFolder(current_dir, line));
}

}  // namespace

void ReadM3u(const std::string& path, const std::string& current_dir, std::vector<std::string>& playlist) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) ThrowReadError(path, errno);
  std::string line;
  bool in_line = true;    // still taking characters of the current line
  bool have_line = false; // something of a line was read since the last LF
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      ThrowReadError(path, error);
    }
    if (n == 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      const char c = buffer[i];
      if (c == '\n') {
        AddLine(line, current_dir, playlist);
        line.clear();
        in_line = true;
        have_line = false;
        continue;
      }
      have_line = true;
      if (c == '\r') in_line = false;
      else if (in_line) line += c;
    }
  }
  ::close(fd);
  if (have_line) AddLine(line, current_dir, playlist);
}

std::string TimeText(int32_t position_ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2d:%.2d", position_ms / 60000, (position_ms / 1000) % 60);
  return text;
}

}  // namespace plumo
