#include "open_dialog.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QInputDialog>

#include "forms.h"

namespace plumo {

std::vector<std::string> AskWithDialog(QWidget* parent, TAsk ask, bool add, const std::string& start) {
  const QString folder = ToQ(start);
  std::vector<std::string> names;
  if (ask == akFiles) {
    const QString filter = QCoreApplication::translate("plumo::TPlatform", "MPEG オーディオとプレイリスト (%1)").arg(QStringLiteral("*.mp3 *.mp2 *.mpa *.m3u *.m3u8 *.pls *.cue"));
    const QString caption = add ? QCoreApplication::translate("plumo::TPlatform", "ファイルを追加") : QCoreApplication::translate("plumo::TPlatform", "ファイルを開く");
    for (const QString& file : QFileDialog::getOpenFileNames(parent, caption, folder, filter)) names.push_back(FromQ(file));
  } else if (ask == akFolder) {
    const QString chosen = QFileDialog::getExistingDirectory(parent, QCoreApplication::translate("plumo::TPlatform", "フォルダを開く"), folder);
    if (!chosen.isEmpty()) names.push_back(FromQ(chosen));
  } else {
    bool ok = false;
    const QString address = QInputDialog::getText(parent, QCoreApplication::translate("plumo::TPlatform", "アドレスを開く"),
                                                  QCoreApplication::translate("plumo::TPlatform", "インターネットラジオや音声ファイルのアドレス (http://, https://):"),
                                                  QLineEdit::Normal, QStringLiteral("https://"), &ok);
    if (ok && !address.trimmed().isEmpty()) names.push_back(FromQ(address.trimmed()));
  }
  return names;
}

}  // namespace plumo
