#include "translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>

namespace plumo {

QString TranslationLanguage(const QStringList& ui_languages) {
  static const QStringList spoken{"ja", "en", "de", "fr", "es"};
  for (const QString& tag : ui_languages) {
    // The language is the tag's first part: "de" of "de-CH" or "de_CH.UTF-8".
    const QString language = tag.section(QLatin1Char('-'), 0, 0).section(QLatin1Char('_'), 0, 0).toLower();
    if (spoken.contains(language)) return language;
  }
  return QStringLiteral("en");
}

TTranslations::TTranslations(const QStringList& ui_languages) : FLanguage(TranslationLanguage(ui_languages)) {
  // Japanese is the language the panel's texts are written in.
  auto panel = std::make_unique<QTranslator>();
  if (FLanguage != QLatin1String("ja") &&
      panel->load(QStringLiteral(":/plumo/i18n/plumo_") + FLanguage + QStringLiteral(".qm")) &&
      QCoreApplication::installTranslator(panel.get()))
    FPanel = std::move(panel);
  auto qt = std::make_unique<QTranslator>();
  if (qt->load(QStringLiteral("qtbase_") + FLanguage, QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
      QCoreApplication::installTranslator(qt.get()))
    FQt = std::move(qt);
}

TTranslations::~TTranslations() {
  if (FQt) QCoreApplication::removeTranslator(FQt.get());
  if (FPanel) QCoreApplication::removeTranslator(FPanel.get());
}

}  // namespace plumo
