#include "panel_menu.h"

#include <QCoreApplication>
#include <QWidget>
#include <algorithm>

#include "player.h"

namespace plumo {

namespace {

enum TMenuKind : uint8_t { mkItem, mkCheck, mkRadio, mkSeparator, mkSubmenu, mkEndSubmenu };

struct TMenuRow {
  const char* Name;
  const char* Caption;
  TMenuKind Kind;
  TMenuCommand Command;
  int32_t Value;
};

// The menu in order; a submenu holds the rows up to its end row.
constexpr TMenuRow kRows[] = {
    {"PLUMO1", QT_TRANSLATE_NOOP("plumo::TPlatform", "PLUMOについて"), mkItem, mcAbout, 0},
    {"N2", nullptr, mkSeparator, mcNone, 0},
    {"OpenFiles1", QT_TRANSLATE_NOOP("plumo::TPlatform", "ファイルを開く(&O)…"), mkItem, mcOpenFiles, 0},
    {"AddFiles1", QT_TRANSLATE_NOOP("plumo::TPlatform", "ファイルを追加(&A)…"), mkItem, mcAddFiles, 0},
    {"OpenFolder1", QT_TRANSLATE_NOOP("plumo::TPlatform", "フォルダを開く(&F)…"), mkItem, mcOpenFolder, 0},
    {"OpenAddress1", QT_TRANSLATE_NOOP("plumo::TPlatform", "アドレスを開く(&L)…"), mkItem, mcOpenAddress, 0},
    {"N15", nullptr, mkSeparator, mcNone, 0},
    // Filled with the playlist's entries when it opens.
    {"Playlist1", QT_TRANSLATE_NOOP("plumo::TPlatform", "プレイリスト(&P)"), mkSubmenu, mcNone, 0},
    {nullptr, nullptr, mkEndSubmenu, mcNone, 0},
    {"Shuffle1", QT_TRANSLATE_NOOP("plumo::TPlatform", "シャッフル(&S)"), mkCheck, mcShuffle, 0},
    {"Repeat1", QT_TRANSLATE_NOOP("plumo::TPlatform", "リピート(&R)"), mkSubmenu, mcNone, 0},
    {"RepeatOff", QT_TRANSLATE_NOOP("plumo::TPlatform", "オフ"), mkRadio, mcRepeat, 0},
    {"RepeatAll", QT_TRANSLATE_NOOP("plumo::TPlatform", "全曲"), mkRadio, mcRepeat, 1},
    {"RepeatOne", QT_TRANSLATE_NOOP("plumo::TPlatform", "1曲"), mkRadio, mcRepeat, 2},
    {nullptr, nullptr, mkEndSubmenu, mcNone, 0},
    {"N16", nullptr, mkSeparator, mcNone, 0},
    {"N4", QT_TRANSLATE_NOOP("plumo::TPlatform", "パネルを隠す"), mkItem, mcPanel, 0},
    {"N6", QT_TRANSLATE_NOOP("plumo::TPlatform", "常に先頭に表示"), mkCheck, mcTopFlag, 0},
    {"N7", nullptr, mkSeparator, mcNone, 0},
    {"N8", QT_TRANSLATE_NOOP("plumo::TPlatform", "音量"), mkSubmenu, mcNone, 0},
    {"N9", QT_TRANSLATE_NOOP("plumo::TPlatform", "最大"), mkRadio, mcVolume, 100},
    {"N10", QT_TRANSLATE_NOOP("plumo::TPlatform", "大"), mkRadio, mcVolume, 80},
    {"N11", QT_TRANSLATE_NOOP("plumo::TPlatform", "中"), mkRadio, mcVolume, 60},
    {"N12", QT_TRANSLATE_NOOP("plumo::TPlatform", "小"), mkRadio, mcVolume, 40},
    {"N14", QT_TRANSLATE_NOOP("plumo::TPlatform", "極小"), mkRadio, mcVolume, 20},
    {"N13", QT_TRANSLATE_NOOP("plumo::TPlatform", "消音"), mkRadio, mcVolume, 0},
    {nullptr, nullptr, mkEndSubmenu, mcNone, 0},
    // ReplayGain: play every file at the level its tags give for the track or the album (measured
    // where the tags give none).
    {"ReplayGain1", QT_TRANSLATE_NOOP("plumo::TPlatform", "ReplayGain"), mkSubmenu, mcNone, 0},
    {"ReplayGainOff", QT_TRANSLATE_NOOP("plumo::TPlatform", "オフ"), mkRadio, mcReplayGain, rgmOff},
    {"ReplayGainTrack", QT_TRANSLATE_NOOP("plumo::TPlatform", "トラック"), mkRadio, mcReplayGain, rgmTrack},
    {"ReplayGainAlbum", QT_TRANSLATE_NOOP("plumo::TPlatform", "アルバム"), mkRadio, mcReplayGain, rgmAlbum},
    // Auto: the album's gain while an album plays in order, else the track's.
    {"ReplayGainAuto", QT_TRANSLATE_NOOP("plumo::TPlatform", "自動"), mkRadio, mcReplayGain, rgmAuto},
    {nullptr, nullptr, mkEndSubmenu, mcNone, 0},
    {"Equalizer1", QT_TRANSLATE_NOOP("plumo::TPlatform", "イコライザ(&E)"), mkSubmenu, mcNone, 0},
    {"EqualizerOff", QT_TRANSLATE_NOOP("plumo::TPlatform", "オフ"), mkRadio, mcEqualizer, 0},
    {"EqualizerBass", QT_TRANSLATE_NOOP("plumo::TPlatform", "低音強調"), mkRadio, mcEqualizer, 1},
    {"EqualizerTreble", QT_TRANSLATE_NOOP("plumo::TPlatform", "高音強調"), mkRadio, mcEqualizer, 2},
    {"EqualizerLoudness", QT_TRANSLATE_NOOP("plumo::TPlatform", "ラウドネス"), mkRadio, mcEqualizer, 3},
    {"EqualizerVoice", QT_TRANSLATE_NOOP("plumo::TPlatform", "ボーカル"), mkRadio, mcEqualizer, 4},
    {"EqualizerClassical", QT_TRANSLATE_NOOP("plumo::TPlatform", "クラシック"), mkRadio, mcEqualizer, 5},
    {"EqualizerRock", QT_TRANSLATE_NOOP("plumo::TPlatform", "ロック"), mkRadio, mcEqualizer, 6},
    {nullptr, nullptr, mkEndSubmenu, mcNone, 0},
    {"SleepTimer1", QT_TRANSLATE_NOOP("plumo::TPlatform", "スリープタイマー(&T)"), mkSubmenu, mcNone, 0},
    {"SleepOff", QT_TRANSLATE_NOOP("plumo::TPlatform", "オフ"), mkRadio, mcSleepTimer, 0},
    {"Sleep15", QT_TRANSLATE_NOOP("plumo::TPlatform", "15分"), mkRadio, mcSleepTimer, 15},
    {"Sleep30", QT_TRANSLATE_NOOP("plumo::TPlatform", "30分"), mkRadio, mcSleepTimer, 30},
    {"Sleep60", QT_TRANSLATE_NOOP("plumo::TPlatform", "60分"), mkRadio, mcSleepTimer, 60},
    {"Sleep90", QT_TRANSLATE_NOOP("plumo::TPlatform", "90分"), mkRadio, mcSleepTimer, 90},
    {"SleepAfterTrack", QT_TRANSLATE_NOOP("plumo::TPlatform", "この曲の後"), mkRadio, mcSleepTimer, kSleepAfterTrack},
    {nullptr, nullptr, mkEndSubmenu, mcNone, 0},
    {"ResumeAtStart1", QT_TRANSLATE_NOOP("plumo::TPlatform", "起動時に再生を再開"), mkCheck, mcResumeAtStart, 0},
    {"Notify1", QT_TRANSLATE_NOOP("plumo::TPlatform", "曲の変更を通知"), mkCheck, mcNotify, 0},
    {"N3", nullptr, mkSeparator, mcNone, 0},
    // Filled by the history component; unavailable while it is empty.
    {"History1", QT_TRANSLATE_NOOP("plumo::TPlatform", "履歴"), mkSubmenu, mcNone, 0},
    {nullptr, nullptr, mkEndSubmenu, mcNone, 0},
    {"N5", QT_TRANSLATE_NOOP("plumo::TPlatform", "履歴を消去"), mkItem, mcClearHistory, 0},
    {"N1", nullptr, mkSeparator, mcNone, 0},
    {"Exit1", QT_TRANSLATE_NOOP("plumo::TPlatform", "終了"), mkItem, mcExit, 0},
};

constexpr const char* kPanelShown = QT_TRANSLATE_NOOP("plumo::TPlatform", "パネルを隠す");
constexpr const char* kPanelHidden = QT_TRANSLATE_NOOP("plumo::TPlatform", "パネルを表示");

QString Text(const char* caption) { return QCoreApplication::translate("plumo::TPlatform", caption); }

}  // namespace

TPanelMenu::TPanelMenu(QWidget* owner) {
  FMenus.push_back(std::make_unique<QMenu>(owner));
  FPopup = FMenus.back().get();
  FPopup->setObjectName(QStringLiteral("PopupMenu1"));
  std::vector<QMenu*> open{FPopup};
  QActionGroup* group = nullptr;
  for (const TMenuRow& row : kRows) {
    QMenu& menu = *open.back();
    QAction* item = nullptr;
    switch (row.Kind) {
      case mkSeparator:
        item = menu.addSeparator();
        break;
      case mkSubmenu: {
        FMenus.push_back(std::make_unique<QMenu>(Text(row.Caption), owner));
        QMenu* sub = FMenus.back().get();
        menu.addMenu(sub);
        item = sub->menuAction();
        open.push_back(sub);
        group = nullptr;
        break;
      }
      case mkEndSubmenu:
        open.pop_back();
        group = nullptr;
        continue;
      case mkItem:
      case mkCheck:
      case mkRadio:
        item = menu.addAction(Text(row.Caption));
        item->setCheckable(row.Kind != mkItem);
        break;
    }
    item->setObjectName(QString::fromLatin1(row.Name));
    FItems[row.Name] = item;
    if (row.Kind == mkRadio) {
      if (group == nullptr) {
        FGroups.push_back(std::make_unique<QActionGroup>(owner));
        group = FGroups.back().get();
        group->setExclusive(true);
      }
      group->addAction(item);
      item->setData(QVariant::fromValue(row.Value));
      item->setProperty("command", static_cast<int>(row.Command));
      FRadioItems.push_back(item);
    }
    if (row.Command != mcNone)
      QObject::connect(item, &QAction::triggered, item, [this, item, command = row.Command] {
        if (OnCommand) OnCommand(command, item);
      });
  }
  FHistory = Item("History1")->menu();
  FPlaylist = Item("Playlist1")->menu();
  FHistory->setEnabled(false);
  FHistory->menuAction()->setEnabled(false);
  CheckVolLevel(100);
  CheckReplayGain(rgmOff);
  CheckValue(mcRepeat, 1);
  CheckValue(mcEqualizer, 0);
  CheckValue(mcSleepTimer, 0);
}

QAction* TPanelMenu::Item(const std::string& name) const {
  const auto found = FItems.find(name);
  return found == FItems.end() ? nullptr : found->second;
}

int32_t TPanelMenu::Value(const QAction* item) { return item->data().toInt(); }

QAction* TPanelMenu::RadioItem(TMenuCommand command, int32_t value) const {
  for (QAction* item : FRadioItems)
    if (item->property("command").toInt() == command && Value(item) == value) return item;
  return nullptr;
}

void TPanelMenu::CheckVolLevel(int32_t vol_level) {
  const int32_t step = vol_level / 20;
  RadioItem(mcVolume, step >= 1 && step <= 5 ? step * 20 : 0)->setChecked(true);
}

void TPanelMenu::CheckValue(TMenuCommand command, int32_t value) {
  if (QAction* item = RadioItem(command, value)) item->setChecked(true);
}

namespace {

constexpr int32_t kGroupSize = 50;

}  // namespace

void TPanelMenu::FillPlaylist(int32_t count, int32_t current, std::function<QString(int32_t index)> caption) {
  FPlaylist->clear();
  FPlaylistGroups.clear();
  FPlaylistChecks = std::make_unique<QActionGroup>(FPlaylist);
  FCaption = std::move(caption);
  FCurrent = current;
  FillRange(FPlaylist, 0, count);
}

void TPanelMenu::FillRange(QMenu* menu, int32_t first, int32_t last) {
  if (last - first <= kGroupSize) {
    for (int32_t i = first; i < last; ++i) {
      QAction* item = menu->addAction(FCaption(i));
      item->setCheckable(true);
      item->setChecked(i == FCurrent);
      FPlaylistChecks->addAction(item);
      QObject::connect(item, &QAction::triggered, item, [this, i] {
        if (OnPick) OnPick(i);
      });
    }
    return;
  }
  // Groups of 50 entries, of 50 groups, ...: no menu holds more than 50 items, and each is
  // filled when it opens, so that a long playlist's menu opens at once.
  int64_t step = kGroupSize;
  while (step * kGroupSize < last - first) step *= kGroupSize;
  for (int64_t from = first; from < last; from += step) {
    const auto to = static_cast<int32_t>(std::min<int64_t>(last, from + step));
    const auto at = static_cast<int32_t>(from);
    // Owned here alone: a group's QObject parent is the playlist menu, never another group.
    FPlaylistGroups.push_back(std::make_unique<QMenu>(QStringLiteral("%1–%2").arg(at + 1).arg(to), FPlaylist));
    QMenu* group = FPlaylistGroups.back().get();
    group->menuAction()->setCheckable(true);
    group->menuAction()->setChecked(FCurrent >= at && FCurrent < to);
    menu->addMenu(group);
    QObject::connect(group, &QMenu::aboutToShow, group, [this, group, at, to] {
      if (group->actions().isEmpty()) FillRange(group, at, to);
    });
  }
}

void TPanelMenu::SetPanelShown(bool shown) { Item("N4")->setText(Text(shown ? kPanelShown : kPanelHidden)); }

}  // namespace plumo
