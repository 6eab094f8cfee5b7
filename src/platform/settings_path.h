// Where the settings file lives: beside the executable, named after it with the extension
// ".INI", when the executable's folder is writable (a portable copy, a build tree); otherwise
// $XDG_CONFIG_HOME/plumo/PLUMO.INI (default ~/.config/plumo/PLUMO.INI).
#pragma once

#include <string>

namespace plumo::platform {

// The running executable's full path (empty when it cannot be found).
std::string ExecutablePath();

// path with its extension (after the last dot of the last path element) replaced by ".INI", or
// ".INI" appended when it has none.
std::string ChangeExtensionToIni(const std::string& path);

// The rule above for a given executable; config_home and home stand for $XDG_CONFIG_HOME and
// $HOME (empty when unset).
std::string SettingsFileNameFor(const std::string& executable, const std::string& config_home,
                                const std::string& home);

// The settings file of this process. When it lies in the configuration folder, the folder is
// created if missing.
std::string SettingsFileName();

}  // namespace plumo::platform
