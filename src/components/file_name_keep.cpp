#include "file_name_keep.h"

#include <sys/stat.h>

#include <QAction>
#include <QMenu>
#include <cstdio>

#include "forms.h"
#include "ini_file.h"
#include "named_stream.h"

namespace plumo {

namespace {

// A file, or a folder (the panel keeps dropped folders in the history too), or a stream
// address ("http://", "https://"), which is kept as it was given.
bool Exists(const std::string& name) {
  if (IsStreamAddress(name)) return true;
  struct stat st {};
  return !name.empty() && ::stat(name.c_str(), &st) == 0;
}

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    out += c;
    if (c == '&') out += '&';
  }
  return out;
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    out += s[i];
    if (s[i] == '&' && i + 1 < s.size() && s[i + 1] == '&') ++i;
  }
  return out;
}

}  // namespace

TFileNameKeep::TFileNameKeep(QObject* owner, std::string ini_file_name)
    : QObject(owner), FIniFileName(std::move(ini_file_name)) {
  FSaveTimer.setSingleShot(true);
  FSaveTimer.setInterval(0);
  connect(&FSaveTimer, &QTimer::timeout, this, [this] { SaveChanged(); });
}

TFileNameKeep::~TFileNameKeep() {
  FSaveTimer.stop();
  try {
    Save();
  } catch (...) {
    // Nothing can report a failure this late; the previous file stays whole.
  }
}

void TFileNameKeep::SetParentMenu(QMenu* menu) {
  FParentMenu = menu;
  if (FParentMenu != nullptr) Load();
}

std::string TFileNameKeep::Caption(int i, const std::string& name) {
  char index[16];
  std::snprintf(index, sizeof index, "&%X ", static_cast<unsigned>(i));
  // The menu shows "&" as an accelerator mark; a name's own ampersands are doubled.
  return index + Escape(name);
}

std::string TFileNameKeep::NameOfCaption(const std::string& caption) {
  std::string name = caption.size() > 3 ? caption.substr(3) : std::string();
  const size_t first = name.find_first_not_of(' ');
  name = first == std::string::npos ? std::string() : name.substr(first);
  return Unescape(name);
}

void TFileNameKeep::Add(const std::string& file_name) {
  if (FParentMenu != nullptr && !file_name.empty()) {
    int found = -1;
    for (int i = 0; i < kCapacity; ++i)
      if (FNames[static_cast<size_t>(i)] == file_name) found = i;
    if (found >= 0) {
      for (int i = found; i > 0; --i) FNames[static_cast<size_t>(i)] = FNames[static_cast<size_t>(i - 1)];
    } else {
      for (size_t i = 0; i < FItems.size(); ++i) {
        if (FItems[i] == nullptr) {
          FItems[i] = std::make_unique<QAction>();
          QAction* item = FItems[i].get();
          connect(item, &QAction::triggered, this, [this, item] { ItemClick(item); });
          FParentMenu->addAction(item);
          break;
        }
      }
      for (size_t i = kCapacity - 1; i > 0; --i) FNames[i] = FNames[i - 1];
    }
    FNames[0] = file_name;
    for (size_t i = 0; i < FItems.size() && FItems[i] != nullptr; ++i)
      FItems[i]->setText(ToQ(Caption(static_cast<int>(i + 1), FNames[i])));
    // Loading restores what the file holds; nothing to write then.
    if (!FLoading) FSaveTimer.start();
  }
  UpdateParentEnabled();
}

void TFileNameKeep::UpdateParentEnabled() {
  if (FParentMenu == nullptr) return;
  const bool enabled = !FParentMenu->actions().isEmpty();
  FParentMenu->setEnabled(enabled);
  FParentMenu->menuAction()->setEnabled(enabled);
}

void TFileNameKeep::ItemClick(QAction* item) {
  // The stored name, not the caption: a name that is not valid UTF-8 does not survive the menu.
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].get() == item && !FNames[i].empty()) {
      if (OnSelect) OnSelect(this, FNames[i]);
      return;
    }
}

void TFileNameKeep::Load() {
  const platform::IniFile ini(FIniFileName);
  FLoading = true;
  for (int i = kCapacity; i >= 1; --i) {
    const std::string name = ini.ReadString(kSection, "FileName" + std::to_string(i), "");
    if (Exists(name)) Add(name);
  }
  FLoading = false;
  UpdateParentEnabled();
}

void TFileNameKeep::SaveChanged() {
  try {
    Save();
  } catch (const platform::IniWriteError&) {
    // The intake that changed the history saves the settings file too and reports a file that
    // cannot be written there; the list is tried again on the next change and on destruction.
  }
}

void TFileNameKeep::Save() {
  FSaveTimer.stop();
  platform::IniFile ini(FIniFileName);
  ini.EraseSection(kSection);
  for (int i = 1; i <= kCapacity; ++i) ini.WriteString(kSection, "FileName" + std::to_string(i), Name(i));
  ini.UpdateFile();
}

void TFileNameKeep::Clear() {
  // The host has erased the stored list; a change not yet written must not bring it back.
  FSaveTimer.stop();
  for (size_t i = 0; i < FNames.size(); ++i) {
    if (FNames[i].empty()) continue;
    if (FItems[i] != nullptr) {
      if (FParentMenu != nullptr) FParentMenu->removeAction(FItems[i].get());
      FItems[i].reset();
    }
    FNames[i].clear();
  }
  Load();
}

}  // namespace plumo
