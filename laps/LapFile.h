#pragma once

// The lap file: the paths of the open movies and their lap lists, as XML in UTF-8 with a
// byte-order mark. Reading checks the whole file, every number included, before it returns
// anything, so that the caller changes nothing unless the file is sound; writing replaces the
// target only once the new file is complete. No function here shows anything or touches a
// window; numbers use the regional format of the QLocale given. UI thread or any other thread:
// the functions share no state.

#include <QByteArray>
#include <QDomNode>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <exception>
#include <optional>
#include <vector>

#include "laps/LapModel.h"

namespace quorvex::laps {

// "ﾌｫｰﾏｯﾄが不正です。": the description of every structural fault of a lap file.
QString InvalidFormatString();

// The content of a lap file: file_names[i] and time_list[i] belong to movie i.
struct LapFile {
  QStringList file_names;
  LapLists time_list;
};

// A failure while reading or writing, with the description shown to the user.
class LapFileError : public std::exception {
 public:
  explicit LapFileError(QString description);
  const QString& description() const { return description_; }
  const char* what() const noexcept override { return what_.constData(); }

 private:
  QString description_;
  QByteArray what_;
};

// The outcome of reading: the file, or the description of why it cannot be used.
struct LapFileReadResult {
  std::optional<LapFile> file;
  QString error;  // empty on success
};

// Appends to `list` the text of every child of `element`, in document order. Every child must
// be an element named "list" whose only child is its text (a text or CDATA node); otherwise
// throws LapFileError with InvalidFormatString().
void GetListFromXml(const QDomNode& element, QStringList& list);
// Appends to `lists` one list per child of `element`, each filled by GetListFromXml. Every
// child must be an element named "list" with at least one child; otherwise throws LapFileError
// with InvalidFormatString().
void GetListFromXml2(const QDomNode& element, std::vector<QStringList>& lists);

// True when the file at `path` begins like a lap file (its first kilobyte names the element
// "QuorvexLapFile"): the program then loads it as one instead of opening it as a movie. Reads
// no more than that kilobyte; says nothing about whether the rest is sound.
bool LooksLikeLapFile(const QString& path);

// Reads a lap file from its bytes: exactly one element "QuorvexLapFile" anywhere, holding
// exactly the two nodes "file_name" and "lap" (comments, processing instructions and text
// count as nodes; white space between elements does not), at least one movie, as many value
// lists as movies, all of one length, every value a regional number.
LapFileReadResult ParseLapFile(const QByteArray& bytes, const QLocale& locale = QLocale::system());
// The same from the file at `path`; a missing or unreadable file is a failure.
LapFileReadResult ReadLapFile(const QString& path, const QLocale& locale = QLocale::system());

// The bytes of the lap file of `file`: byte-order mark, declaration with standalone "yes",
// two-space indentation, numbers in the 15-significant-digit general format. Throws
// LapFileError when `file` cannot be written as a lap file (no movie, lists of different
// lengths or without a base, a path holding characters that XML cannot carry).
QByteArray LapFileBytes(const LapFile& file, const QLocale& locale = QLocale::system());
// Writes `bytes` to `path` through a temporary file beside it, renamed over `path` only when
// complete: a failure leaves an existing file as it was. Where no file can be created beside it
// (a folder without write permission) an existing, writable `path` is written in place instead,
// and a failure part-way then leaves it incomplete. Returns the failure's description, or
// nullopt on success. The one save of every file the lap commands write.
std::optional<QString> SaveFileBytes(const QString& path, const QByteArray& bytes);
// Writes LapFileBytes to `path` with SaveFileBytes. Returns the failure's description, or
// nullopt on success.
std::optional<QString> WriteLapFile(const QString& path, const LapFile& file,
                                    const QLocale& locale = QLocale::system());

}  // namespace quorvex::laps
