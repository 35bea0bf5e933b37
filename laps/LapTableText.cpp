#include "laps/LapTableText.h"

namespace quorvex::laps {
namespace {

QString Flat(QString text) {
  for (QChar& c : text) {
    if (c == u'\t' || c == u'\n' || c == u'\r')
      c = u' ';
  }
  return text;
}

QString CsvField(const QString& text) {
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
      flat << Flat(field);
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
