// The settings file reader on a fuzzed file: every key the panel and the history read, then a
// rewrite of the whole text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ini_file.h"
#include "scratch_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file = plumo::fuzz::WriteScratchFile(".INI", data, size);
  if (file.empty()) return 0;
  plumo::platform::IniFile ini(file);
  for (const char* key : {"Left", "Top", "Visible", "TopFlag", "VolLevel"}) (void)ini.ReadInteger("Setup", key, 0);
  const int32_t count = ini.ReadInteger("Option", "FileCount", 0);
  for (int32_t i = 0; i < count && i < 64; ++i) (void)ini.ReadString("Option", "File" + std::to_string(i), "");
  (void)ini.ReadString("Option", "CurrentDir", "");
  (void)ini.ReadInteger("Option", "NowIndex", 0);
  for (int i = 0; i < 16; ++i) (void)ini.ReadString("KeepFileNames", "File" + std::to_string(i), "");
  // Whatever a value holds, it reads back as it was written.
  const std::string value = ini.ReadString("Option", "File0", "");
  ini.WriteString("Option", "Probe", value);
  if (ini.ReadString("Option", "Probe", "") != value) __builtin_trap();
  ini.WriteInteger("Option", "NowIndex", 3);
  ini.EraseSection("KeepFileNames");
  (void)ini.Text();
  return 0;
}
