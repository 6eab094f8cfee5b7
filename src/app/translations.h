// The language the panel speaks. Its own texts are written in Japanese and shown as they stand to
// a Japanese user; English, German, French and Spanish come from translations compiled into the
// program, and English serves every other language.
#pragma once

#include <QString>
#include <QStringList>
#include <QTranslator>
#include <memory>

namespace plumo {

// The language of the texts for the user's languages in order of preference (as
// QLocale::uiLanguages() gives them, "de-CH", "fr_FR", "ja"): the first one PLUMO speaks,
// "ja", "en", "de", "fr" or "es"; "en" when it speaks none of them.
QString TranslationLanguage(const QStringList& ui_languages);

// Installs the translation for the user's languages into the application for as long as it
// lives: the panel's texts (none for Japanese), and Qt's own (the buttons of the message boxes)
// where Qt's translations are installed. Made after the application and before the panel.
class TTranslations {
 public:
  explicit TTranslations(const QStringList& ui_languages);
  ~TTranslations();
  TTranslations(const TTranslations&) = delete;
  TTranslations& operator=(const TTranslations&) = delete;

  const QString& Language() const { return FLanguage; }

 private:
  QString FLanguage;
  std::unique_ptr<QTranslator> FPanel;
  std::unique_ptr<QTranslator> FQt;
};

}  // namespace plumo
