#pragma once

// Readable failure messages for Qt values in GoogleTest assertions.

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}

inline void PrintTo(const QStringList& list, std::ostream* os) {
  *os << (list.isEmpty() ? "{}" : "{\"" + list.join("\", \"").toStdString() + "\"}");
}

inline void PrintTo(const QRect& r, std::ostream* os) {
  *os << "QRect(" << r.x() << ", " << r.y() << ", " << r.width() << "x" << r.height() << ")";
}

inline void PrintTo(const QSize& s, std::ostream* os) {
  *os << "QSize(" << s.width() << "x" << s.height() << ")";
}

// A menu bar or menu as text to compare: each item, then its submenu's items indented, with
// "---" for a separator, the shortcut in brackets and a check mark as "(x)" or "( )".
inline QStringList MenuTexts(const QWidget* menu, const QString& indent = "") {
  QStringList texts;
  for (const QAction* item : menu->actions()) {
    QString t = indent + (item->isSeparator() ? QString("---") : item->text());
    if (!item->shortcut().isEmpty())
      t += " [" + item->shortcut().toString() + "]";
    if (item->isCheckable())
      t += item->isChecked() ? " (x)" : " ( )";
    texts << t;
    if (item->menu() != nullptr)
      texts << MenuTexts(item->menu(), indent + "  ");
  }
  return texts;
}
