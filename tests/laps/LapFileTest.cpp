// The lap file: the exact bytes written, reading back, the reader's refusals, and the
// temporary-file save that keeps an old file when the new one cannot be written.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>

#include "laps/LapFile.h"
#include "laps/LapTableText.h"

namespace quorvex::laps {
namespace {

const QLocale kC = QLocale::c();
const QLocale kComma(QLocale::German, QLocale::Germany);
const QByteArray kBom = "\xEF\xBB\xBF";
const QByteArray kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\n";
const LapFile kTwoMovies{{"/movies/first.mp4", "/movies/second.mp4"},
                         {{12.5, 107.0 / 6, 23.04}, {3.2, 8.67, 14.1}}};

TEST(LapFileWriter, WritesTheDocumentLineByLineInTheRegionalFormat) {
  QByteArray expected = kBom + kDeclaration + "<QuorvexLapFile>\n  <file_name>\n";
  for (const char* name : {"/movies/first.mp4", "/movies/second.mp4"})
    expected += QByteArray("    <list>") + name + "</list>\n";
  expected += "  </file_name>\n  <lap>\n";
  for (const char* values : {"12.5 17.8333333333333 23.04", "3.2 8.67 14.1"}) {
    expected += "    <list>\n";
    for (const QByteArray& v : QByteArray(values).split(' '))
      expected += "      <list>" + v + "</list>\n";
    expected += "    </list>\n";
  }
  EXPECT_EQ(LapFileBytes(kTwoMovies, kC), expected + "  </lap>\n</QuorvexLapFile>\n");
}

// Texts a spreadsheet would evaluate (movies named "=1+2.mp4", "@SUM(1+1).mkv", "-2+3.mp4")
// become plain text by a leading apostrophe, in the CSV and on the clipboard; numbers of either
// decimal separator, signed or grouped, stay numbers.
TEST(LapTableText, FormulaLikeTextsAreMadeInertAndNumbersStay) {
  const LapTableTexts table{{"", "+ﾄｰﾀﾙ", "区間"},
                            {{"1", "-0,25", "+1.50"}, {"2", "---", "1 234,5"}, {"\tx", "@a", "-"}}};
  const QByteArray csv = CsvBytes(table, {"=1+2.mp4", "@SUM(1+1).mkv"}, 1);
  EXPECT_EQ(csv, kBom + QString(",'=1+2.mp4,'@SUM(1+1).mkv\r\n,'+ﾄｰﾀﾙ,区間\r\n1,\"-0,25\",+1.50\r\n"
                                "2,'---,\"1 234,5\"\r\n'\tx,'@a,'-\r\n")
                            .toUtf8());
  const LapTableTexts names{{"", "-2+3.mp4", "\r=1"}, {{"-7", "+7", "=7", "+1-2"}}};
  EXPECT_EQ(TabSeparatedText(names), "\t'-2+3.mp4\t' =1\n-7\t+7\t'=7\t'+1-2\n");
}

TEST(LapFileWriter, RefusesWhatCannotBeALapFile) {
  const LapFile cases[] = {
      {{}, {}},                                            // no movie
      {{"a", "b"}, {{1.0, 2.0}, {1.0}}},                   // lists of different lengths
      {{QString("bad") + QChar(0x01) + "name"}, {{1.0}}},  // XML cannot carry U+0001
  };
  for (const LapFile& file : cases) {
    QTemporaryDir dir;
    const QString path = dir.filePath("laps.xml");
    EXPECT_FALSE(WriteLapFile(path, file, kC).value_or("").isEmpty());
    EXPECT_FALSE(QFile::exists(path));
  }
}

// Markup in paths is escaped (a carriage return as a reference, so that it survives reading).
TEST(LapFile, ThreeMoviesAndFourRowsRoundTrip) {
  const LapFile file{
      {"/m/A&B <1> \"fast\".mp4", "/m/tab\there\r\nline.avi", "/m/3.mkv"},
      {{10.0, 15.0, 20.123, 31.0 / 3}, {20.0, 26.0, 33.3, 40.25}, {30.0, 35.5, 39.0, 1e-7}}};
  const QByteArray bytes = LapFileBytes(file, kC);
  for (const QLocale& locale : {kC, kComma}) {
    QTemporaryDir dir;
    const QString path = dir.filePath("laps.xml");
    ASSERT_FALSE(WriteLapFile(path, file, locale).has_value());
    const LapFileReadResult back = ReadLapFile(path, locale);
    ASSERT_TRUE(back.file) << back.error.toStdString();
    // Written again, it gives the same bytes: the same paths and the same 15 digits.
    EXPECT_EQ(LapFileBytes(*back.file, kC), bytes);
  }
}

QByteArray Document(const QByteArray& root_content) {
  return kBom + kDeclaration + "<QuorvexLapFile>" + root_content + "</QuorvexLapFile>\n";
}

// Nine levels of ten references each: a billion characters if expanded.
QByteArray EntityBomb() {
  QByteArray doc = "<!DOCTYPE r [<!ENTITY e0 \"12345\">";
  for (int i = 1; i <= 9; ++i)
    doc += "<!ENTITY e" + QByteArray::number(i) + " \"" +
           ("&e" + QByteArray::number(i - 1) + ";").repeated(10) + "\">";
  return doc +
         "]><QuorvexLapFile><file_name><list>a</list></file_name>"
         "<lap><list><list>&e9;</list></list></lap></QuorvexLapFile>";
}

// What the reader made of a file: "name: values | ..." when accepted; "format" for the
// structural faults (InvalidFormatString()); else "error".
std::string Outcome(const LapFileReadResult& result) {
  if (!result.file)
    return result.error == InvalidFormatString() ? "format" : result.error.isEmpty() ? "" : "error";
  QStringList movies;
  for (size_t m = 0; m < result.file->time_list.size(); ++m) {
    QStringList values;
    for (double v : result.file->time_list[m])
      values << QString::number(v);
    movies << result.file->file_names.value(int(m)) + ": " + values.join(' ');
  }
  return movies.join(" | ").toStdString();
}

TEST(LapFileReader, AcceptsAndRefusesFiles) {
  const QByteArray a = "<file_name><list>a</list></file_name>";
  const QByteArray lap1 = "<lap><list><list>1</list></list></lap>";
  const std::pair<QByteArray, const char*> cases[] = {
      {Document(lap1 + a), "a: 1"},
      {Document(a + "<lap><list><list>  +1234.5 </list><list>-2E+01</list></list></lap>"),
       "a: 1234.5 -20"},
      {Document("<file_name><list><![CDATA[/x/a&b.mp4]]></list><list>/y/&#x41;.mp4</list>"
                "</file_name><lap><list><list>1</list></list><list><list>2</list></list></lap>"),
       "/x/a&b.mp4: 1 | /y/A.mp4: 2"},
      {Document("<file_name><list>a</list><list>b</list></file_name>"
                "<lap><list><list>1</list><list>2</list></list><list><list>1</list></list></lap>"),
       "format"},
      {Document("<file_name><list></list></file_name>" + lap1), "format"},
      {Document(a + a), "format"},
      // Refused before the document tree, whose recursion would exhaust the stack.
      {QByteArray("<a>").repeated(200000) + QByteArray("</a>").repeated(200000), "format"},
      {Document(a + "<lap><list><list>12,5</list></list></lap>"), "error"},
      {Document(a + "<lap><list><list>1e999</list></list></lap>"), "error"},
      {"", "error"},
      {EntityBomb(), "error"}};
  for (const auto& [bytes, outcome] : cases)
    EXPECT_EQ(Outcome(ParseLapFile(bytes, kC)), outcome) << bytes.left(300).toStdString();
  EXPECT_EQ(Outcome(ReadLapFile("/nonexistent/absent.xml", kC)), "error");
}

// Saving over an old file: a save that cannot complete keeps it and leaves no temporary file.
class LapFileSave : public testing::Test {
 protected:
  void SetUp() override {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(old), old.size());
  }
  void ExpectOnly(const QByteArray& content) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), content);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"laps.xml"});
  }
  // Right under /tmp, not under $TMPDIR: one save runs as another user, who must reach it.
  QTemporaryDir dir{"/tmp/quorvex-lapfile-XXXXXX"};
  const QString path = dir.filePath("laps.xml");
  const QByteArray old = "old content";
};

// A full disk keeps the old file; a successful save then replaces it.
TEST_F(LapFileSave, AFileTooLargeForTheDiskKeepsTheOldFile) {
  // The file-size limit makes the write fail part-way, as a full disk does.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{4096, RLIM_INFINITY};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  EXPECT_TRUE(WriteLapFile(path, {{"/m/a.mp4"}, {std::vector<double>(5000, 1.0 / 3)}}, kC));
  ExpectOnly(old);
  limit.rlim_cur = RLIM_INFINITY;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  ASSERT_FALSE(WriteLapFile(path, kTwoMovies, kC).has_value());
  ExpectOnly(LapFileBytes(kTwoMovies, kC));
}

// In a folder where no file can be created, an old file that may be overwritten is written in
// place; one that may not stays as it was. Root may write anywhere, so the save runs in a child
// process that gives up root first.
TEST_F(LapFileSave, AReadOnlyFolderWritesInPlaceOnlyAWritableFile) {
  const QFile::Permissions read = QFile::ReadOwner | QFile::ReadOther;
  for (const bool writable : {false, true}) {
    ASSERT_TRUE(QFile::setPermissions(
        path, writable ? read | QFile::WriteOwner | QFile::WriteOther : read));
    ASSERT_TRUE(QFile::setPermissions(dir.path(), read | QFile::ExeOwner | QFile::ExeOther));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
        _exit(3);
      _exit(WriteLapFile(path, kTwoMovies, kC) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(status, writable ? 1 << 8 : 0) << "0: failed, 1: succeeded, 3: no setuid";
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ExpectOnly(writable ? LapFileBytes(kTwoMovies, kC) : old);
  }
}

}  // namespace
}  // namespace quorvex::laps
