#include "panel_accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <memory>

#include "forms.h"
#include "panel_display.h"
#include "panel_widgets.h"

namespace plumo {

namespace {

// A button: pressed by the screen reader as by a click.
class TButtonAccessible final : public QAccessibleWidget {
 public:
  explicit TButtonAccessible(TSpeedButton* button) : QAccessibleWidget(button, QAccessible::Button) {
    addControllingSignal(QStringLiteral("destroyed()"));
  }
  QStringList actionNames() const override { return {pressAction()}; }
  void doAction(const QString& name) override {
    auto* button = static_cast<TSpeedButton*>(widget());
    if (name == pressAction() && button->OnPress) button->OnPress();
  }
  QStringList keyBindingsForAction(const QString&) const override { return {}; }
};

// A widget of the given role: the display (a text whose name is what it shows), the panel (a
// window named by its title).
class TRoleAccessible final : public QAccessibleWidget {
 public:
  TRoleAccessible(QWidget* widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}
};

QAccessibleInterface* Factory(const QString& class_name, QObject* object) {
  // Qt's accessibility cache owns what the factory makes.
  if (class_name == QLatin1String("plumo::TSpeedButton"))
    return std::make_unique<TButtonAccessible>(static_cast<TSpeedButton*>(object)).release();
  if (class_name == QLatin1String("plumo::TImage"))
    return std::make_unique<TRoleAccessible>(static_cast<QWidget*>(object), QAccessible::StaticText).release();
  if (class_name == QLatin1String("plumo::TPlatform"))
    return std::make_unique<TRoleAccessible>(static_cast<QWidget*>(object), QAccessible::Window).release();
  return nullptr;
}

}  // namespace

void InstallPanelAccessibility() {
  static const bool installed = (QAccessible::installFactory(&Factory), true);
  (void)installed;
}

QString SpokenTitle(const std::string& title) {
  const QString q = ToQ(title);
  const qsizetype state = StateWordLength(q);
  if (state == 0) return q;
  return q.mid(1, state - 2) + QStringLiteral(", ") + q.mid(state);
}

QString WindowTitle(bool playing, const std::string& song, const std::string& artist) {
  if (!playing || song.empty()) return QStringLiteral("PLUMO");
  QString title = ToQ(song);
  if (!artist.empty()) title += QStringLiteral(" – ") + ToQ(artist);
  return title + QStringLiteral(" – PLUMO");
}

}  // namespace plumo
