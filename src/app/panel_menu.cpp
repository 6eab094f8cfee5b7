#include "panel_menu.h"

#include <QCoreApplication>
#include <QWidget>

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

#define PANEL_TEXT(text) QT_TRANSLATE_NOOP("plumo::TPlatform", text)

// The menu in order; a submenu holds the rows up to its end row.
constexpr TMenuRow kRows[] = {
    {"PLUMO1", PANEL_TEXT("PLUMOについて"), mkItem, mcAbout, 0},
    {"N2", nullptr, mkSeparator, mcNone, 0},
    {"N4", PANEL_TEXT("パネルを隠す"), mkItem, mcPanel, 0},
    {"N6", PANEL_TEXT("常に先頭に表示"), mkCheck, mcTopFlag, 0},
    {"N7", nullptr, mkSeparator, mcNone, 0},
    {"N8", PANEL_TEXT("音量"), mkSubmenu, mcNone, 0},
    {"N9", PANEL_TEXT("最大"), mkRadio, mcVolume, 100},
    {"N10", PANEL_TEXT("大"), mkRadio, mcVolume, 80},
    {"N11", PANEL_TEXT("中"), mkRadio, mcVolume, 60},
    {"N12", PANEL_TEXT("小"), mkRadio, mcVolume, 40},
    {"N14", PANEL_TEXT("極小"), mkRadio, mcVolume, 20},
    {"N13", PANEL_TEXT("消音"), mkRadio, mcVolume, 0},
    {nullptr, nullptr, mkEndSubmenu, mcNone, 0},
    // ReplayGain: play every file at the level its tags give for the track or the album.
    {"ReplayGain1", PANEL_TEXT("ReplayGain"), mkSubmenu, mcNone, 0},
    {"ReplayGainOff", PANEL_TEXT("オフ"), mkRadio, mcReplayGain, rgmOff},
    {"ReplayGainTrack", PANEL_TEXT("トラック"), mkRadio, mcReplayGain, rgmTrack},
    {"ReplayGainAlbum", PANEL_TEXT("アルバム"), mkRadio, mcReplayGain, rgmAlbum},
    {nullptr, nullptr, mkEndSubmenu, mcNone, 0},
    {"N3", nullptr, mkSeparator, mcNone, 0},
    // Filled by the history component; unavailable while it is empty.
    {"History1", PANEL_TEXT("履歴"), mkSubmenu, mcNone, 0},
    {nullptr, nullptr, mkEndSubmenu, mcNone, 0},
    {"N5", PANEL_TEXT("履歴を消去"), mkItem, mcClearHistory, 0},
    {"N1", nullptr, mkSeparator, mcNone, 0},
    {"Exit1", PANEL_TEXT("終了"), mkItem, mcExit, 0},
};

constexpr const char* kPanelShown = PANEL_TEXT("パネルを隠す");
constexpr const char* kPanelHidden = PANEL_TEXT("パネルを表示");

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
  FHistory->setEnabled(false);
  FHistory->menuAction()->setEnabled(false);
  CheckVolLevel(100);
  CheckReplayGain(rgmOff);
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

void TPanelMenu::CheckReplayGain(int32_t mode) {
  if (QAction* item = RadioItem(mcReplayGain, mode)) item->setChecked(true);
}

void TPanelMenu::SetPanelShown(bool shown) { Item("N4")->setText(Text(shown ? kPanelShown : kPanelHidden)); }

}  // namespace plumo
