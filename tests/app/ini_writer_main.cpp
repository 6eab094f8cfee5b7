// plumo_ini_writer FILE: replaces FILE again and again with one of two complete settings files
// (a long playlist ending in a marker key) until it is killed.
#include <string>

#include "ini_file.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  for (unsigned round = 0;; ++round) {
    plumo::platform::IniFile ini(argv[1]);
    ini.WriteInteger("Setup", "Left", 317);
    ini.EraseSection("Option");
    const int count = 2000 + static_cast<int>(round % 2) * 500;
    ini.WriteInteger("Option", "FileCount", count);
    for (int i = 0; i < count; ++i)
      ini.WriteString("Option", "File" + std::to_string(i), "/music/some folder/entry number " + std::to_string(i) + ".mp3");
    ini.WriteInteger("Option", "NowIndex", count - 1);
    ini.UpdateFile();
  }
}
