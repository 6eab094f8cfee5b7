// The panel in the user's language: the menu, its changing caption, the about box and the
// messages, for each language PLUMO speaks and for one it does not (English); and translation
// files without unfinished or missing entries.
#include "translations.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QAbstractButton>
#include <QCoreApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QXmlStreamReader>
#include <map>
#include <set>

#include "entry_message.h"
#include "forms.h"
#include "ini_file.h"
#include "panel_form.h"
#include "simulated_wave_device.h"
#include "stream.h"
#include "test_support.h"

namespace plumo {
namespace {

// Whether text holds kana or kanji.
bool Japanese(const QString& text) {
  return std::any_of(text.begin(), text.end(), [](QChar c) {
    return (c.unicode() >= 0x3040 && c.unicode() <= 0x30FF) || (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF);
  });
}

// Every text of the menu, its sub-menus included (separators and the history's file names aside).
void MenuTexts(const QMenu& menu, std::vector<QString>& texts) {
  for (const QAction* a : menu.actions()) {
    if (a->isSeparator() || a->objectName().isEmpty()) continue;
    texts.push_back(a->text());
    if (a->menu() != nullptr) MenuTexts(*a->menu(), texts);
  }
}

struct Language {
  QStringList ui_languages;
  std::string language;
  // The texts of PLUMO1, N4 (shown, hidden), N6, N8, N9, N10, N11, N12, N14, N13, History1, N5,
  // Exit1, in this order.
  std::vector<std::string> menu;
  std::string confirm, about_caption, close, nothing_playable, cannot_write;
  // The display's state word while playing (the tray icon's tip shows it too).
  std::string playing;
  // A message box's Yes button, in Qt's own translation.
  std::string yes;
};

TEST(TranslationsTest, PanelSpeaksTheUserLanguage) {
  const std::vector<std::string> ja{"PLUMOについて", "パネルを隠す", "パネルを表示", "常に先頭に表示", "音量",
                                    "最大", "大", "中", "小", "極小", "消音", "履歴", "履歴を消去", "終了"};
  const std::vector<std::string> en{"About PLUMO", "Hide Panel", "Show Panel", "Always on Top", "Volume", "Maximum",
                                    "High", "Medium", "Low", "Very Low", "Mute", "History", "Clear History", "Exit"};
  const Language languages[] = {
      {{"ja-JP"}, "ja", ja, "履歴を消去しますか?", "About PLUMO", "Close",
       "a, b, c ほか 1 件 に再生できるファイルがありません", "/x/plumo.INI に書き込めません", "PLAY", "はい(&Y)"},
      {{"en-US"}, "en", en, "Clear the history?", "About PLUMO", "Close", "No playable files in a, b, c and 1 more",
       "Cannot write to /x/plumo.INI", "PLAY", "&Yes"},
      // A language without a translation of its own reads English; the first one spoken wins.
      {{"it-IT", "pt-BR"}, "en", en, "Clear the history?", "About PLUMO", "Close",
       "No playable files in a, b, c and 1 more", "Cannot write to /x/plumo.INI", "PLAY", "&Yes"},
      {{"pt-BR", "de_CH", "fr"}, "de",
       {"Über PLUMO", "Panel ausblenden", "Panel einblenden", "Immer im Vordergrund", "Lautstärke", "Maximal", "Laut",
        "Mittel", "Leise", "Sehr leise", "Stumm", "Verlauf", "Verlauf löschen", "Beenden"},
       "Den Verlauf löschen?", "Über PLUMO", "Schließen", "Keine abspielbaren Dateien in a, b, c und 1 weitere",
       "/x/plumo.INI kann nicht geschrieben werden", "WIEDERGABE", "&Ja"},
      {{"fr-FR"}, "fr",
       {"À propos de PLUMO", "Masquer le panneau", "Afficher le panneau", "Toujours au premier plan", "Volume",
        "Maximum", "Fort", "Moyen", "Faible", "Très faible", "Muet", "Historique", "Effacer l’historique", "Quitter"},
       "Effacer l’historique\u00a0?", "À propos de PLUMO", "Fermer", "Aucun fichier lisible dans a, b, c et 1 de plus",
       "Impossible d’écrire dans /x/plumo.INI", "LECTURE", "&Oui"},
      {{"es-ES"}, "es",
       {"Acerca de PLUMO", "Ocultar el panel", "Mostrar el panel", "Siempre encima", "Volumen", "Máximo", "Alto",
        "Medio", "Bajo", "Muy bajo", "Silencio", "Historial", "Borrar el historial", "Salir"},
       "¿Borrar el historial?", "Acerca de PLUMO", "Cerrar", "No hay archivos reproducibles en a, b, c y 1 más",
       "No se puede escribir en /x/plumo.INI", "REPRODUCCIÓN", "&Sí"},
  };
  for (const Language& l : languages) {
    SCOPED_TRACE(l.ui_languages.join(',').toStdString());
    const TTranslations translations(l.ui_languages);
    EXPECT_EQ(translations.Language().toStdString(), l.language);
    test::TempDir dir;
    std::vector<std::string> errors;
    TPlatform p(platform::MakeSimulatedWaveDriver({}), dir / "plumo.INI",
                [&errors](const std::exception_ptr& e) { errors.push_back(DisplayedMessage(e)); });
    p.Timer1().stop();
    std::vector<std::string> texts;
    for (const char* name : {"PLUMO1", "N4"}) texts.push_back(p.Item(name)->text().toStdString());
    p.Item("N4")->trigger();  // the first start hides the panel; now it shows
    texts.push_back(p.Item("N4")->text().toStdString());
    std::swap(texts[1], texts[2]);
    for (const char* name : {"N6", "N8", "N9", "N10", "N11", "N12", "N14", "N13", "History1", "N5", "Exit1"})
      texts.push_back(p.Item(name)->text().toStdString());
    EXPECT_EQ(texts, l.menu);
    // Whatever the menu holds (also items added later) is in the language.
    std::vector<QString> all;
    MenuTexts(*p.findChild<QMenu*>(QStringLiteral("PopupMenu1")), all);
    for (const QString& text : all) {
      if (text == QStringLiteral("ReplayGain")) continue;  // a name, the same in every language
      EXPECT_EQ(Japanese(text), l.language == "ja") << text.toStdString();
    }

    std::string asked;
    p.Confirm = [&asked](const std::string& text) {
      asked = text;
      return false;
    };
    p.Item("N5")->trigger();
    EXPECT_EQ(asked, l.confirm);
    EXPECT_EQ(p.AboutDialog1().Caption, l.about_caption);
    EXPECT_EQ(p.AboutDialog1().CloseButton, l.close);
    EXPECT_FALSE(p.OpenFiles({"a", "b", "c", "d"}));
    EXPECT_EQ(errors, std::vector<std::string>{l.nothing_playable});
    EXPECT_EQ(DisplayedMessage(std::make_exception_ptr(platform::IniWriteError("/x/plumo.INI"))), l.cannot_write);
    if (QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_de.qm")) {
      const QMessageBox box(QMessageBox::Question, "PLUMO", "?", QMessageBox::Yes | QMessageBox::No);
      EXPECT_EQ(box.button(QMessageBox::Yes)->text().toStdString(), l.yes);
    }
    test::CopyFile(test::DataPath("samples/playlists/pl_one.mp3"), dir / "one.mp3");
    ASSERT_TRUE(p.OpenFiles({dir / "one.mp3"}));
    EXPECT_EQ(p.Title().substr(0, l.playing.size() + 2), "[" + l.playing + "]");
    EXPECT_EQ(p.TrayIcon1().TipHelp().substr(0, l.playing.size() + 8), "PLUMO:[" + l.playing + "]");
    p.CloseForm();
  }
}

// A message about an entry names it (an address without its password) and says what was wrong
// in the user's words; the network library's text stays as the detail. The first rows fail for
// real; the 404 and the certificate rows take the texts the network stream gives for them.
TEST(TranslationsTest, EntryMessagesNameTheEntryInTheUserLanguage) {
  test::TempDir dir;
  test::WriteFile(dir / "broken.mp3", std::string(4096, 'x'));
  const std::string address = test::UnusedLoopbackAddress() + "/live";
  const std::string secret = "http://dj:s3cret@" + address.substr(7);
  const std::string https = "https://127.0.0.1:1/live";
  struct Row {
    std::string entry;  // played, or with the failure text given
    std::string failure;
    std::string shown, en, de;
    bool detail;
  };
  const Row rows[] = {
      {dir / "broken.mp3", "", dir / "broken.mp3", "not MPEG audio", "kein MPEG-Audio", false},
      {secret, "", address, "cannot connect", "keine Verbindung möglich", true},
      {address, address + ": HTTP 404 Not Found", address, "not found on the server", "auf dem Server nicht gefunden", true},
      {https, https + ": SSL certificate problem: self-signed certificate", https, "certificate not trusted",
       "Zertifikat nicht vertrauenswürdig", true},
  };
  for (const char* language : {"en", "de"}) {
    const TTranslations translations(QStringList{language});
    std::vector<std::string> errors;
    TPlatform p(platform::MakeSimulatedWaveDriver({}), dir / "plumo.INI",
                [&errors](const std::exception_ptr& e) { errors.push_back(DisplayedMessage(e)); });
    p.Timer1().stop();
    for (const Row& r : rows) {
      SCOPED_TRACE(std::string(language) + " " + r.entry);
      errors.clear();
      if (r.failure.empty()) {
        p.OpenFiles({r.entry});
        test::PollUntil([&] {
          QCoreApplication::processEvents();
          return !errors.empty();
        });
      } else {
        errors.push_back(EntryMessage(r.entry, std::make_exception_ptr(EStreamError(r.failure))));
      }
      ASSERT_FALSE(errors.empty());
      const std::string reason = std::string(language) == "en" ? r.en : r.de;
      EXPECT_EQ(errors[0].substr(0, r.shown.size() + 2 + reason.size()), r.shown + ": " + reason) << errors[0];
      EXPECT_EQ(errors[0].find("\n("), r.detail ? r.shown.size() + 2 + reason.size() : std::string::npos) << errors[0];
      EXPECT_EQ(errors[0].find("s3cret"), std::string::npos) << errors[0];
    }
    p.CloseForm();
  }
}

// Each translation holds every text of every other one, each finished.
TEST(TranslationsTest, EveryTextIsTranslatedInEveryLanguage) {
  const QDir dir(QStringLiteral(PLUMO_TRANSLATIONS_DIR));
  const QStringList files = dir.entryList({QStringLiteral("plumo_*.ts")});
  EXPECT_EQ(files, (QStringList{"plumo_de.ts", "plumo_en.ts", "plumo_es.ts", "plumo_fr.ts"}));
  std::map<QString, std::set<std::string>> sources;  // file -> "context/source"
  std::set<std::string> every;
  for (const QString& name : files) {
    QFile file(dir.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    QXmlStreamReader xml(&file);
    QString context, source;
    while (!xml.atEnd()) {
      if (xml.readNext() != QXmlStreamReader::StartElement) continue;
      if (xml.name() == QLatin1String("name")) context = xml.readElementText();
      else if (xml.name() == QLatin1String("source")) source = context + "/" + xml.readElementText();
      else if (xml.name() == QLatin1String("translation")) {
        const QString type = xml.attributes().value(QLatin1String("type")).toString();
        const QString text = xml.readElementText();
        EXPECT_TRUE(type.isEmpty() && !text.isEmpty()) << name.toStdString() << ": " << source.toStdString() << " is "
                                                       << (type.isEmpty() ? "empty" : type.toStdString());
        EXPECT_FALSE(Japanese(text)) << name.toStdString() << ": " << source.toStdString();
        sources[name].insert(source.toStdString());
        every.insert(source.toStdString());
      }
    }
    EXPECT_FALSE(xml.hasError()) << name.toStdString() << ": " << xml.errorString().toStdString();
  }
  for (const auto& [name, texts] : sources)
    for (const std::string& text : every) EXPECT_TRUE(texts.count(text)) << name.toStdString() << " misses " << text;
  // The desktop entry says what PLUMO is in the same languages; its Name stays PLUMO.
  const std::string entry = test::ReadFile(std::string(PLUMO_ARTWORK_DIR) + "/../plumo.desktop");
  EXPECT_NE(entry.find("\nName=PLUMO\n"), std::string::npos);
  for (const char* key : {"GenericName", "Comment", "Keywords"})
    for (const char* language : {"", "[ja]", "[de]", "[fr]", "[es]"})
      EXPECT_NE(entry.find("\n" + std::string(key) + language + "="), std::string::npos) << key << language;
}

}  // namespace
}  // namespace plumo
