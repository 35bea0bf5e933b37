#include "laps/LapFile.h"

#include <QBuffer>
#include <QDomDocument>
#include <QFile>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include "platform/ui/NumberFormat.h"

namespace quorvex::laps {

namespace {

constexpr char kRootName[] = "QuorvexLapFile";
constexpr char kFileNameName[] = "file_name";
constexpr char kLapName[] = "lap";
constexpr char kListName[] = "list";

// Deeper than any lap file: the document tree is built and destroyed recursively, so a file of
// nothing but nested start tags must be refused before it exhausts the stack.
constexpr int kMaxDepth = 256;

[[noreturn]] void ThrowFormatError() {
  throw LapFileError(InvalidFormatString());
}

bool IsText(const QDomNode& node) {
  return node.isText();
}  // CDATA sections are text nodes

// Refuses documents nested deeper than kMaxDepth; leaves well-formedness to the DOM parser.
bool NestingWithinLimit(const QByteArray& bytes) {
  QXmlStreamReader reader(bytes);
  int depth = 0;
  while (!reader.atEnd()) {
    const auto token = reader.readNext();
    if (token == QXmlStreamReader::StartElement && ++depth > kMaxDepth)
      return false;
    if (token == QXmlStreamReader::EndElement)
      --depth;
  }
  return true;
}

QDomDocument ParseDocument(const QByteArray& bytes) {
  if (!NestingWithinLimit(bytes))
    ThrowFormatError();
  QDomDocument doc;
  QString message;
  int line = 0;
  int column = 0;
  if (!doc.setContent(bytes, &message, &line, &column)) {
    throw LapFileError(QStringLiteral("%1 (%2 行, %3 桁)").arg(message).arg(line).arg(column));
  }
  return doc;
}

// The single QuorvexLapFile element's two children, file_name and lap, in either order.
std::pair<QDomNode, QDomNode> FindSections(const QDomDocument& doc) {
  const QDomNodeList roots = doc.elementsByTagName(QString::fromLatin1(kRootName));
  if (roots.count() != 1)
    ThrowFormatError();
  const QDomNodeList children = roots.item(0).childNodes();
  if (children.count() != 2)
    ThrowFormatError();
  QDomNode file_name;
  QDomNode lap;
  for (int i = 0; i < 2; ++i) {
    const QDomNode child = children.item(i);
    if (child.isElement() && child.nodeName() == QLatin1String(kFileNameName)) {
      file_name = child;
    } else if (child.isElement() && child.nodeName() == QLatin1String(kLapName)) {
      lap = child;
    } else {
      ThrowFormatError();
    }
  }
  if (file_name.isNull() || lap.isNull())
    ThrowFormatError();
  return {file_name, lap};
}

std::vector<double> ToNumbers(const QStringList& texts, const QLocale& locale) {
  std::vector<double> values;
  values.reserve(texts.size());
  for (const QString& text : texts) {
    QString error;
    const std::optional<double> value = ui::ParseNumber(text, locale, &error);
    if (!value)
      throw LapFileError(error);
    values.push_back(*value);
  }
  return values;
}

LapFile ReadSections(const QDomDocument& doc, const QLocale& locale) {
  const auto [file_name, lap] = FindSections(doc);
  LapFile file;
  GetListFromXml(file_name, file.file_names);
  if (file.file_names.isEmpty())
    ThrowFormatError();
  std::vector<QStringList> texts;
  GetListFromXml2(lap, texts);
  if (texts.size() != static_cast<size_t>(file.file_names.size()))
    ThrowFormatError();
  for (const QStringList& movie : texts) {
    if (movie.size() != texts.front().size())
      ThrowFormatError();
  }
  file.time_list.reserve(texts.size());
  for (const QStringList& movie : texts)
    file.time_list.push_back(ToNumbers(movie, locale));
  return file;
}

// Characters XML 1.0 cannot carry, even escaped; a path may hold them on this system.
bool IsXmlText(const QString& text) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t c = text[i].unicode();
    if (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r')
      return false;
    if (c == 0xFFFE || c == 0xFFFF)
      return false;
    if (QChar::isHighSurrogate(c)) {
      if (i + 1 >= text.size() || !text[i + 1].isLowSurrogate())
        return false;
      ++i;
    } else if (QChar::isLowSurrogate(c)) {
      return false;
    }
  }
  return true;
}

void CheckWritable(const LapFile& file) {
  if (file.file_names.isEmpty() || file.time_list.size() != size_t(file.file_names.size())) {
    throw LapFileError(QStringLiteral("動画の数とラップの数が一致しません。"));
  }
  for (const auto& list : file.time_list) {
    if (list.empty() || list.size() != file.time_list.front().size()) {
      throw LapFileError(QStringLiteral("ラップの数が動画ごとに異なります。"));
    }
  }
  for (const QString& path : file.file_names) {
    if (!IsXmlText(path)) {
      throw LapFileError(QStringLiteral("XML に書けない文字を含むファイル名です: %1").arg(path));
    }
  }
}

// A text element whose carriage returns survive reading: a reader turns a literal one into a
// line feed, so it is written as a character reference.
void WriteTextElement(QXmlStreamWriter& w, const QString& name, const QString& text) {
  w.writeStartElement(name);
  const QStringList pieces = text.split(QLatin1Char('\r'));
  for (qsizetype i = 0; i < pieces.size(); ++i) {
    if (i > 0)
      w.writeEntityReference(QStringLiteral("#13"));
    if (!pieces[i].isEmpty())
      w.writeCharacters(pieces[i]);
  }
  w.writeEndElement();
}

void WriteElements(QXmlStreamWriter& w, const LapFile& file, const QLocale& locale) {
  const QString list = QString::fromLatin1(kListName);
  w.writeStartElement(QString::fromLatin1(kRootName));
  w.writeStartElement(QString::fromLatin1(kFileNameName));
  for (const QString& path : file.file_names)
    WriteTextElement(w, list, path);
  w.writeEndElement();
  w.writeStartElement(QString::fromLatin1(kLapName));
  for (const auto& movie : file.time_list) {
    w.writeStartElement(list);
    for (double value : movie)
      w.writeTextElement(list, ui::FormatGeneral15(value, locale));
    w.writeEndElement();
  }
  w.writeEndElement();
  w.writeEndElement();
  w.writeEndDocument();
}

}  // namespace

QString InvalidFormatString() {
  return QStringLiteral("ﾌｫｰﾏｯﾄが不正です。");
}

LapFileError::LapFileError(QString description)
    : description_(std::move(description)), what_(description_.toUtf8()) {}

void GetListFromXml(const QDomNode& element, QStringList& list) {
  const QDomNodeList children = element.childNodes();
  for (int i = 0; i < children.count(); ++i) {
    const QDomNode node = children.item(i);
    const QDomNodeList content = node.childNodes();
    if (content.count() != 1 || content.item(0).hasChildNodes() || !node.isElement() ||
        node.nodeName() != QLatin1String(kListName) || !IsText(content.item(0))) {
      ThrowFormatError();
    }
    list.append(content.item(0).nodeValue());
  }
}

void GetListFromXml2(const QDomNode& element, std::vector<QStringList>& lists) {
  const QDomNodeList children = element.childNodes();
  for (int i = 0; i < children.count(); ++i) {
    const QDomNode node = children.item(i);
    if (!node.hasChildNodes() || !node.isElement() || node.nodeName() != QLatin1String(kListName)) {
      ThrowFormatError();
    }
    QStringList texts;
    GetListFromXml(node, texts);
    lists.push_back(std::move(texts));
  }
}

LapFileReadResult ParseLapFile(const QByteArray& bytes, const QLocale& locale) {
  try {
    return {ReadSections(ParseDocument(bytes), locale), QString()};
  } catch (const LapFileError& e) {
    return {std::nullopt, e.description()};
  }
}

LapFileReadResult ReadLapFile(const QString& path, const QLocale& locale) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return {std::nullopt, f.errorString()};
  const QByteArray bytes = f.readAll();
  if (f.error() != QFileDevice::NoError)
    return {std::nullopt, f.errorString()};
  return ParseLapFile(bytes, locale);
}

QByteArray LapFileBytes(const LapFile& file, const QLocale& locale) {
  CheckWritable(file);
  QByteArray bytes("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>");
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly | QIODevice::Append);
  QXmlStreamWriter writer(&buffer);
  writer.setAutoFormatting(true);
  writer.setAutoFormattingIndent(2);
  WriteElements(writer, file, locale);
  return bytes;
}

bool LooksLikeLapFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) && file.read(1024).contains("<QuorvexLapFile");
}

std::optional<QString> SaveFileBytes(const QString& path, const QByteArray& bytes) {
  QSaveFile out(path);
  // A folder where the user may overwrite the file but not create one beside it still
  // saves, in place; everywhere else the temporary file keeps a failed save harmless.
  out.setDirectWriteFallback(true);
  if (!out.open(QIODevice::WriteOnly))
    return out.errorString();
  if (out.write(bytes) != bytes.size()) {
    const QString error = out.errorString();
    out.cancelWriting();
    return error;
  }
  if (!out.commit())
    return out.errorString();
  return std::nullopt;
}

std::optional<QString> WriteLapFile(const QString& path, const LapFile& file,
                                    const QLocale& locale) {
  try {
    return SaveFileBytes(path, LapFileBytes(file, locale));
  } catch (const LapFileError& e) {
    return e.description();
  }
}

}  // namespace quorvex::laps
