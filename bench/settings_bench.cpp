// The panel's settings file with a long playlist: SaveSettings writes the [Option] section with
// one File<i> key per entry, FormCreate reads them back in index order. Both must stay linear in
// the number of entries (a 50,000-entry playlist in well under a second). A track change writes
// the current entry only, at a cost that does not grow with the playlist; the rewrite of the
// whole file that it replaces is measured beside it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "ini_file.h"
#include "panel_settings.h"

namespace plumo {
namespace {

using platform::IniFile;

std::string TempSettings() {
  char pattern[] = "/tmp/plumo-bench-XXXXXX";
  const char* dir = ::mkdtemp(pattern);
  return std::string(dir != nullptr ? dir : "/tmp") + "/plumo.INI";
}

std::string Entry(int i) { return "/home/user/Music/Some Artist/Some Album/" + std::to_string(i) + " - Track.mp3"; }

// What SaveSettings does: erase [Option], write FileCount, File0 .. File(n-1), CurrentDir,
// NowIndex, and replace the file.
void SavePlaylist(const std::string& file, int count) {
  IniFile ini(file);
  ini.WriteInteger("Setup", "Left", 317);
  ini.WriteInteger("Setup", "Top", 104);
  ini.EraseSection("Option");
  ini.WriteInteger("Option", "FileCount", count);
  for (int i = 0; i < count; ++i) ini.WriteString("Option", "File" + std::to_string(i), Entry(i));
  ini.WriteString("Option", "CurrentDir", "/home/user/Music");
  ini.WriteInteger("Option", "NowIndex", 0);
  ini.UpdateFile();
}

void BM_PlaylistSave(benchmark::State& state) {
  const std::string file = TempSettings();
  const int count = static_cast<int>(state.range(0));
  for (auto _ : state) SavePlaylist(file, count);
  state.SetItemsProcessed(state.iterations() * count);
  ::unlink(file.c_str());
}

// What FormCreate does with the saved playlist.
void BM_PlaylistLoad(benchmark::State& state) {
  const std::string file = TempSettings();
  const int count = static_cast<int>(state.range(0));
  SavePlaylist(file, count);
  for (auto _ : state) {
    const IniFile ini(file);
    const int n = ini.ReadInteger("Option", "FileCount", 0);
    size_t bytes = 0;
    for (int i = 0; i < n; ++i) bytes += ini.ReadString("Option", "File" + std::to_string(i), "").size();
    bytes += ini.ReadString("Option", "CurrentDir", "").size();
    benchmark::DoNotOptimize(bytes);
  }
  state.SetItemsProcessed(state.iterations() * count);
  ::unlink(file.c_str());
}

// A track change: the current entry into the small file beside the settings file.
void BM_TrackChange(benchmark::State& state) {
  const std::string file = TempSettings();
  SavePlaylist(file, static_cast<int>(state.range(0)));
  int32_t index = 0;
  for (auto _ : state) {
    ++index;
    TPanelSettings::SaveNowIndex(file, index, Entry(index), 0);
  }
  ::unlink(TPanelSettings::NowFileName(file).c_str());
  ::unlink(file.c_str());
}

// What a track change did before: the settings file read and replaced for its NowIndex key.
void BM_TrackChangeRewritingTheFile(benchmark::State& state) {
  const std::string file = TempSettings();
  SavePlaylist(file, static_cast<int>(state.range(0)));
  int32_t index = 0;
  for (auto _ : state) {
    IniFile ini(file);
    ini.WriteInteger("Option", "NowIndex", ++index);
    ini.UpdateFile();
  }
  ::unlink(file.c_str());
}

BENCHMARK(BM_TrackChange)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TrackChangeRewritingTheFile)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlaylistSave)->Arg(1000)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlaylistLoad)->Arg(1000)->Arg(50000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace plumo
