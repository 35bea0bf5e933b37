#pragma once

// Readable failure messages for Qt values in GoogleTest assertions.

#include <QRect>
#include <QSize>
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
