#include "platform/ui/Fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace quorvex::ui {

QString SubstituteUiGothicFont() {
  const QStringList japanese = QFontDatabase::families(QFontDatabase::Japanese);
  // The proportional IPA Gothic comes closest to the proportional original.
  QString chosen;
  for (const char* preferred : {"IPAPGothic", "IPAGothic", "IPAexGothic"}) {
    if (japanese.contains(QString::fromLatin1(preferred))) {
      chosen = QString::fromLatin1(preferred);
      break;
    }
  }
  if (chosen.isEmpty() && !japanese.isEmpty())
    chosen = japanese.first();
  if (!chosen.isEmpty())
    QFont::insertSubstitution(QString::fromLatin1(kUiGothicFamily), chosen);
  return chosen;
}

QFont UiGothicFont(qreal points) {
  QFont font(QString::fromLatin1(kUiGothicFamily));
  font.setPointSizeF(points);
  font.setWeight(QFont::Normal);
  font.setItalic(false);
  return font;
}

}  // namespace quorvex::ui
