// Where the settings file lives: beside the executable, named after it with the extension
// ".INI", when the executable's folder is writable (a portable copy, a build tree); otherwise
// $XDG_CONFIG_HOME/plumo/PLUMO.INI (default ~/.config/plumo/PLUMO.INI; without a home folder, in
// the user's private folder below /tmp). Also where the program's runtime files live.
#pragma once

#include <string>

namespace plumo::platform {

// The running executable's full path (empty when it cannot be found).
std::string ExecutablePath();

// path with its extension (after the last dot of the last path element) replaced by ".INI", or
// ".INI" appended when it has none.
std::string ChangeExtensionToIni(const std::string& path);

// The rule above for a given executable; config_home and home stand for $XDG_CONFIG_HOME and
// $HOME (empty when unset); temp is the folder that holds the private folder.
std::string SettingsFileNameFor(const std::string& executable, const std::string& config_home,
                                const std::string& home, const std::string& temp = "/tmp");

// The settings file of this process. When it lies in the configuration folder, the folder is
// created if missing.
std::string SettingsFileName();

// The user's private folder in temp, temp/plumo-<uid>, made (mode 0700) when missing. Anything
// else found there (a link, a file, a folder of another user or open to others, which another
// user could have put there first) is refused with a std::runtime_error that names it: files
// that keep other instances out or take their files in must not lie where others can reach.
std::string PrivateFolder(const std::string& temp = "/tmp");

// The folder of the program's runtime files (the instance lock, the hand-over socket):
// $XDG_RUNTIME_DIR, else the private folder in /tmp.
std::string RuntimeFolder();

}  // namespace plumo::platform
