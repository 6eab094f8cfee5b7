// TFileNameKeep: the 16 most recently opened files as items under a menu of the host's choosing,
// with captions "&<index in hex> <name>" whose second character is the item's accelerator. The
// list is kept in the settings file under [KeepFileNames], FileName1 (newest) .. FileName16; it
// is written each time it changes (once the event loop runs again, so that a drop of many files
// writes it once) and on destruction.
#pragma once

#include <QObject>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <string>

class QAction;
class QMenu;

namespace plumo {

class TFileNameKeep final : public QObject {
  Q_OBJECT
 public:
  using TFileNameSelectEvent = std::function<void(TFileNameKeep* sender, const std::string& select_file_name)>;
  static constexpr int kCapacity = 16;
  // The settings file's section of the list.
  static constexpr const char* kSection = "KeepFileNames";

  // ini_file_name: the settings file (platform::SettingsFileName() in the program).
  TFileNameKeep(QObject* owner, std::string ini_file_name);
  // Saves the list.
  ~TFileNameKeep() override;
  TFileNameKeep(const TFileNameKeep&) = delete;
  TFileNameKeep& operator=(const TFileNameKeep&) = delete;

  QMenu* ParentMenu() const { return FParentMenu; }
  // Attaches the menu and loads the stored list into it.
  void SetParentMenu(QMenu* menu);
  const std::string& IniFileName() const { return FIniFileName; }

  TFileNameSelectEvent OnSelect;

  // Puts a name at the top (moving it there when present); the change is saved soon after.
  void Add(const std::string& file_name);
  // Reads the stored list; names of files or folders that no longer exist are dropped (stream
  // addresses are kept).
  void Load();
  // Erases [KeepFileNames] and writes the list; raises the settings write error.
  void Save();
  // Removes every item and loads again.
  void Clear();
  // Whether a change is still to be written.
  bool SavePending() const { return FSaveTimer.isActive(); }

  // Names[1..16]; an empty name is a free place.
  const std::string& Name(int i) const { return FNames[static_cast<size_t>(i - 1)]; }
  QAction* Item(int i) const { return FItems[static_cast<size_t>(i - 1)].get(); }
  // The caption of the item for place i with the given name.
  static std::string Caption(int i, const std::string& name);
  // The name an item's caption stands for.
  static std::string NameOfCaption(const std::string& caption);

 private:
  void ItemClick(QAction* item);
  void UpdateParentEnabled();

  void SaveChanged();

  std::string FIniFileName;
  QMenu* FParentMenu = nullptr;
  bool FLoading = false;
  QTimer FSaveTimer;
  std::array<std::string, kCapacity> FNames;
  std::array<std::unique_ptr<QAction>, kCapacity> FItems;
};

}  // namespace plumo
