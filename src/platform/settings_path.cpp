#include "settings_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace plumo::platform {

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? std::string(v) : std::string();
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

void MakeFolders(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') ::mkdir(path.substr(0, i).c_str(), 0700);
  }
}

}  // namespace

std::string ExecutablePath() {
  std::vector<char> buffer(4096);
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return {};
  return std::string(buffer.data(), static_cast<size_t>(n));
}

std::string ChangeExtensionToIni(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ".INI";
  return path.substr(0, dot) + ".INI";
}

std::string SettingsFileNameFor(const std::string& executable, const std::string& config_home,
                                const std::string& home, const std::string& temp) {
  if (!executable.empty() && ::access(FolderOf(executable).c_str(), W_OK) == 0)
    return ChangeExtensionToIni(executable);
  std::string base = config_home;
  // A relative $XDG_CONFIG_HOME is invalid and ignored.
  if (base.empty() || base[0] != '/') base = (home.empty() ? PrivateFolder(temp) : home) + "/.config";
  return base + "/plumo/PLUMO.INI";
}

std::string PrivateFolder(const std::string& temp) {
  const uid_t uid = ::geteuid();
  const std::string folder = temp + "/plumo-" + std::to_string(uid);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    throw std::runtime_error("cannot make the folder " + folder + ": " + std::strerror(errno));
  // Looked at as it stands, a link not followed.
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0)
    throw std::runtime_error("cannot look at the folder " + folder + ": " + std::strerror(errno));
  if (!S_ISDIR(st.st_mode) || st.st_uid != uid || (st.st_mode & 077) != 0)
    throw std::runtime_error(folder + " is not a folder of this user's own (mode 0700); it is not used");
  return folder;
}

std::string RuntimeFolder() {
  const std::string runtime = Env("XDG_RUNTIME_DIR");
  // A relative $XDG_RUNTIME_DIR is invalid and ignored.
  return !runtime.empty() && runtime[0] == '/' ? runtime : PrivateFolder();
}

std::string SettingsFileName() {
  const std::string exe = ExecutablePath();
  const std::string name = SettingsFileNameFor(exe, Env("XDG_CONFIG_HOME"), Env("HOME"));
  if (name != ChangeExtensionToIni(exe)) MakeFolders(FolderOf(name));
  return name;
}

}  // namespace plumo::platform
