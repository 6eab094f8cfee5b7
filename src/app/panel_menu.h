// The panel's popup menu, built from one table: each row gives an item's object name, caption,
// kind and command, and for the radio items the value they stand for (a volume level, a
// ReplayGain mode). Items, the volume level's item and the like are looked up in what the table
// built, never by searching the menu.
#pragma once

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace plumo {

enum TMenuCommand : uint8_t {
  mcNone, mcAbout, mcPanel, mcTopFlag, mcVolume, mcReplayGain, mcClearHistory, mcExit,
  mcOpenFiles, mcAddFiles, mcOpenFolder, mcOpenAddress, mcShuffle, mcRepeat, mcEqualizer, mcSleepTimer,
  mcResumeAtStart, mcNotify,
};

// The sleep timer's value for "after this track".
inline constexpr int32_t kSleepAfterTrack = -1;

class TPanelMenu final {
 public:
  // The menus are children of owner.
  explicit TPanelMenu(QWidget* owner);
  TPanelMenu(const TPanelMenu&) = delete;
  TPanelMenu& operator=(const TPanelMenu&) = delete;

  // A command item was chosen (item: the one chosen).
  std::function<void(TMenuCommand command, QAction* item)> OnCommand;

  QMenu& Popup() { return *FPopup; }
  // The history component's parent menu.
  QMenu& History() { return *FHistory; }
  // The playlist's entries: count of them, the current one checked, captions by caption(i);
  // in groups of at most 50 (each filled when it opens) beyond 50. OnPick gets the index chosen.
  std::function<void(int32_t index)> OnPick;
  void FillPlaylist(int32_t count, int32_t current, std::function<QString(int32_t index)> caption);
  QMenu& Playlist() { return *FPlaylist; }
  // An item by its object name (PLUMO1, N4, N6, N8 ... N14, ReplayGain1, History1, N5, Exit1,
  // the separators); nullptr for none.
  QAction* Item(const std::string& name) const;
  // The value of a radio item: its volume level or ReplayGain mode.
  static int32_t Value(const QAction* item);

  // Checks the volume item of a level read from the settings: the level divided by 20 picks
  // 100, 80, 60, 40 or 20, anything else the mute item.
  void CheckVolLevel(int32_t vol_level);
  // Checks the radio item of command (mcReplayGain, mcRepeat, mcEqualizer, mcSleepTimer)
  // that stands for value.
  void CheckValue(TMenuCommand command, int32_t value);
  void CheckReplayGain(int32_t mode) { CheckValue(mcReplayGain, mode); }
  // N4's caption for the panel shown or hidden.
  void SetPanelShown(bool shown);

 private:
  QAction* RadioItem(TMenuCommand command, int32_t value) const;
  void FillRange(QMenu* menu, int32_t first, int32_t last);

  std::vector<std::unique_ptr<QMenu>> FMenus;
  std::vector<std::unique_ptr<QActionGroup>> FGroups;
  QMenu* FPopup = nullptr;
  QMenu* FHistory = nullptr;
  QMenu* FPlaylist = nullptr;
  // The group submenus of a long playlist and their entries' menus.
  std::vector<std::unique_ptr<QMenu>> FPlaylistGroups;
  std::unique_ptr<QActionGroup> FPlaylistChecks;
  std::function<QString(int32_t index)> FCaption;
  int32_t FCurrent = -1;
  std::map<std::string, QAction*> FItems;
  std::vector<QAction*> FRadioItems;
};

}  // namespace plumo
