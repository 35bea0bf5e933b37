#include "platform/ui/FileDialogFilter.h"

namespace quorvex::ui {

namespace {

QStringList Patterns(const QString& list) {
  QStringList out;
  for (QString p : list.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    p = p.trimmed();
    if (p == QLatin1String("*.*"))
      p = QStringLiteral("*");
    if (p.isEmpty())
      continue;
    // The patterns were meant for a file system that ignores case; camera files are often
    // named in capitals (MVI_0001.MOV).
    for (const QString& variant : {p, p.toUpper()}) {
      if (!out.contains(variant))
        out.append(variant);
    }
  }
  return out;
}

// "Movie files (*.avi;*.mpg)" -> "Movie files" when the parentheses repeat the patterns.
QString LabelWithoutOwnPatterns(const QString& label, const QString& patterns) {
  const QString suffix = QLatin1Char('(') + patterns + QLatin1Char(')');
  if (!label.endsWith(suffix))
    return label;
  return label.left(label.size() - suffix.size()).trimmed();
}

}  // namespace

QStringList FileDialogFilters(const QString& pairs) {
  QStringList filters;
  if (pairs.isEmpty())
    return filters;
  const QStringList parts = pairs.split(QLatin1Char('|'));
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QStringList patterns = Patterns(parts[i + 1]);
    if (patterns.isEmpty())
      continue;
    const QString label = LabelWithoutOwnPatterns(parts[i].trimmed(), parts[i + 1].trimmed());
    filters.append(label + QLatin1String(" (") + patterns.join(QLatin1Char(' ')) +
                   QLatin1Char(')'));
  }
  return filters;
}

}  // namespace quorvex::ui
