#include "laps/LapTableText.h"

namespace quorvex::laps {
namespace {

// A number as the table writes one: a sign, digits and the separators of any locale (decimal
// point or comma, group marks, spaces), at least one digit, nothing else.
bool IsNumber(const QString& text) {
  bool digit = false;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c.isDigit())
      digit = true;
    else if (!((i == 0 && (c == u'+' || c == u'-')) || c == u'.' || c == u',' || c == u'\'' ||
               c.isSpace() || c == QChar(0x066B) || c == QChar(0x066C)))
      return false;
  }
  return digit;
}

// A spreadsheet reads a cell that begins with one of these as a formula (or starts one): text
// that is not a number gets an apostrophe before it, which makes it plain text.
QString Inert(const QString& text) {
  if (text.isEmpty() || IsNumber(text))
    return text;
  const QChar first = text.front();
  if (first == u'=' || first == u'+' || first == u'-' || first == u'@' || first == u'\t' ||
      first == u'\r')
    return u'\'' + text;
  return text;
}

QString Flat(QString text) {
  for (QChar& c : text) {
    if (c == u'\t' || c == u'\n' || c == u'\r')
      c = u' ';
  }
  return text;
}

QString CsvField(const QString& raw) {
  const QString text = Inert(raw);
  if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') &&
      !text.contains(u'\r'))
    return text;
  QString quoted = text;
  quoted.replace(QStringLiteral("\""), QStringLiteral("\"\""));
  return u'"' + quoted + u'"';
}

void AppendCsvLine(QString& out, const QStringList& fields) {
  QStringList quoted;
  for (const QString& field : fields)
    quoted << CsvField(field);
  out += quoted.join(u',') + QStringLiteral("\r\n");
}

}  // namespace

QString TabSeparatedText(const LapTableTexts& table) {
  QString out;
  const auto line = [&out](const QStringList& fields) {
    QStringList flat;
    for (const QString& field : fields)
      flat << Flat(Inert(field));
    out += flat.join(u'\t') + u'\n';
  };
  line(table.headers);
  for (const QStringList& row : table.rows)
    line(row);
  return out;
}

QByteArray CsvBytes(const LapTableTexts& table, const QStringList& file_names,
                    int columns_per_movie) {
  // The names line is as wide as the headers: the row headers' column, then the groups.
  QStringList names(table.headers.size());
  for (int m = 0; m < file_names.size(); ++m) {
    const int column = 1 + m * columns_per_movie;
    if (column < names.size())
      names[column] = file_names[m];
  }
  QString out;
  AppendCsvLine(out, names);
  AppendCsvLine(out, table.headers);
  for (const QStringList& row : table.rows)
    AppendCsvLine(out, row);
  return QByteArray("\xEF\xBB\xBF") + out.toUtf8();
}

}  // namespace quorvex::laps
