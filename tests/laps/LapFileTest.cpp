// The lap file: the exact bytes written, reading back, every refusal of the reader, the
// temporary-file save that keeps an old file when the new one cannot be written, and a bounded
// run of mutated inputs that must never crash the reader.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <csignal>
#include <random>

#include "laps/LapFile.h"

namespace quorvex::laps {
namespace {

const QLocale kC = QLocale::c();
const QLocale kComma(QLocale::German, QLocale::Germany);
const QByteArray kBom = "\xEF\xBB\xBF";
const QByteArray kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\n";
const LapFile kTwoMovies{{"/movies/first.mp4", "/movies/second.mp4"},
                         {{12.5, 107.0 / 6, 23.04}, {3.2, 8.67, 14.1}}};

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
  return f.readAll();
}

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
  expected += "  </lap>\n</QuorvexLapFile>\n";
  EXPECT_EQ(LapFileBytes(kTwoMovies, kC), expected);
  const QByteArray comma = LapFileBytes(LapFile{{"a"}, {{1e-5, -2.5, 1e15}}}, kComma);
  EXPECT_TRUE(comma.contains("<list>1E-05</list>\n      <list>-2,5</list>\n      <list>1E+15<"));
}

TEST(LapFileWriter, RefusesWhatCannotBeALapFile) {
  const LapFile cases[] = {
      {{}, {}},                                            // no movie
      {{"a", "b"}, {{1.0}}},                               // fewer value lists than movies
      {{"a", "b"}, {{1.0, 2.0}, {1.0}}},                   // lists of different lengths
      {{"a"}, {{}}},                                       // no base
      {{QString("bad") + QChar(0x01) + "name"}, {{1.0}}},  // XML cannot carry U+0001
      {{QString("half") + QChar(0xD800)}, {{1.0}}},        // a lone surrogate
  };
  for (const LapFile& file : cases) {
    EXPECT_THROW(LapFileBytes(file, kC), LapFileError);
    QTemporaryDir dir;
    const QString path = dir.filePath("laps.xml");
    const std::optional<QString> error = WriteLapFile(path, file, kC);
    ASSERT_TRUE(error.has_value());
    EXPECT_FALSE(error->isEmpty());
    EXPECT_FALSE(QFile::exists(path));
  }
}

// Markup in paths is escaped (a carriage return as a reference, so that it survives reading).
TEST(LapFile, ThreeMoviesAndFourRowsRoundTrip) {
  const LapFile file{
      {"/m/A&B <1> \"fast\".mp4", "/m/tab\there\r\nline.avi", "/m/3.mkv"},
      {{10.0, 15.0, 20.123, 31.0 / 3}, {20.0, 26.0, 33.3, 40.25}, {30.0, 35.5, 39.0, 1e-7}}};
  const QByteArray bytes = LapFileBytes(file, kC);
  EXPECT_TRUE(bytes.contains("A&amp;B &lt;1&gt;")) << bytes.constData();
  EXPECT_TRUE(bytes.contains("    <list>/m/tab\there&#13;\nline.avi</list>\n"));
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

// A valid document with the given content of QuorvexLapFile.
QByteArray Document(const QByteArray& root_content) {
  return kBom + kDeclaration + "<QuorvexLapFile>" + root_content + "</QuorvexLapFile>\n";
}

const QByteArray kFileA = "<file_name><list>a</list></file_name>";
const QByteArray kLap1 = "<lap><list><list>1</list></list></lap>";

// Nine levels of ten references each: a billion characters if expanded.
QByteArray EntityBomb() {
  QByteArray doc = "<!DOCTYPE r [<!ENTITY e0 \"12345\">";
  for (int i = 1; i <= 9; ++i) {
    doc += "<!ENTITY e" + QByteArray::number(i) + " \"";
    for (int k = 0; k < 10; ++k)
      doc += "&e" + QByteArray::number(i - 1) + ";";
    doc += "\">";
  }
  return doc + "]><QuorvexLapFile>" + kFileA + "<lap><list><list>&e9;</list></list></lap>" +
         "</QuorvexLapFile>";
}

// What the reader made of a file: "name: values | ..." when accepted; "format" for the
// structural faults (InvalidFormatString()); else "error" with any other description.
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

const std::vector<std::pair<QByteArray, const char*>>& ReadCases() {
  static const std::vector<std::pair<QByteArray, const char*>> cases{
      {Document(kLap1 + kFileA), "a: 1"},
      {"<outer><!-- c --><QuorvexLapFile>" + kFileA + kLap1 + "</QuorvexLapFile></outer>", "a: 1"},
      {"<QuorvexLapFile>\r\n\t" + kFileA + "\r\n" + kLap1 + "</QuorvexLapFile>", "a: 1"},
      {Document(kFileA + "<lap><list><list>  +1234.5 </list><list>-2E+01</list>"
                         "<list>.25</list></list></lap>"),
       "a: 1234.5 -20 0.25"},
      {Document("<file_name><list><![CDATA[/x/a&b<c>.mp4]]></list>"
                "<list>/y/&#x41;&amp;.mp4</list></file_name>"
                "<lap><list><list>1</list></list><list><list>2</list></list></lap>"),
       "/x/a&b<c>.mp4: 1 | /y/A&.mp4: 2"},
      {Document("<file_name><list> /a b/c.mp4 </list></file_name>" + kLap1), " /a b/c.mp4 : 1"},
      {Document("<file_name><list>a</list><list>b</list><list>c</list></file_name>"
                "<lap><list><list>1</list></list><list><list>2</list></list></lap>"),
       "format"},
      {Document("<file_name><list>a</list><list>b</list></file_name>"
                "<lap><list><list>1</list><list>2</list></list><list><list>1</list></list></lap>"),
       "format"},
      {Document("<file_name><list><b>a</b></list></file_name>" + kLap1), "format"},
      {Document("x" + kFileA + kLap1), "format"},
      {Document("<!-- note -->" + kFileA + kLap1), "format"},
      {Document(kFileA + "<lap><list><?pi x?><list>1</list></list></lap>"), "format"},
      {Document(kFileA + "<lap><list><list><!--1--></list></list></lap>"), "format"},
      {Document("<file_name><list></list></file_name>" + kLap1), "format"},
      {Document(kFileA + "<lap><list/></lap>"), "format"},
      {Document("<file_name/><lap/>"), "format"},
      {Document(kFileA + kFileA), "format"},
      {Document(kFileA + "<laps/>"), "format"},
      {Document("<file_name><item>a</item></file_name>" + kLap1), "format"},
      {Document(kFileA), "format"},
      {Document(kFileA + "<lap><list><list>1</list><QuorvexLapFile/></list></lap>"), "format"},
      {"<other/>", "format"},
      // Refused before the document tree, whose recursion would exhaust the stack.
      {QByteArray("<a>").repeated(200000) + QByteArray("</a>").repeated(200000), "format"},
      {Document(kFileA + "<lap><list><list>12,5</list></list></lap>"), "error"},
      {Document(kFileA + "<lap><list><list>1e999</list></list></lap>"), "error"},
      {kBom + "<QuorvexLapFile>" + kFileA, "error"},
      {"", "error"},
      {EntityBomb(), "error"},
      {QByteArray("\x00\xff\x13\x37", 4), "error"}};
  return cases;
}

TEST(LapFileReader, AcceptsAndRefusesFiles) {
  for (const auto& [bytes, outcome] : ReadCases())
    EXPECT_EQ(Outcome(ParseLapFile(bytes, kC)), outcome) << bytes.left(300).toStdString();
  QTemporaryDir dir;  // missing files and empty paths
  for (const QString& path : {dir.filePath("absent.xml"), QString(), dir.path()})
    EXPECT_EQ(Outcome(ReadLapFile(path, kC)), "error") << path.toStdString();
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
    EXPECT_EQ(ReadAll(path), content);
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
  const std::optional<QString> error =
      WriteLapFile(path, {{"/m/a.mp4"}, {std::vector<double>(5000, 1.0 / 3)}}, kC);
  ASSERT_TRUE(error.has_value());
  EXPECT_FALSE(error->isEmpty());
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
  const QFile::Permissions write = QFile::WriteOwner | QFile::WriteOther;
  for (const bool writable : {false, true}) {
    SCOPED_TRACE(writable ? "writable file" : "read-only file");
    ASSERT_TRUE(QFile::setPermissions(path, writable ? read | write : read));
    ASSERT_TRUE(QFile::setPermissions(dir.path(), read | QFile::ExeOwner | QFile::ExeOther));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
        _exit(3);
      const std::optional<QString> error = WriteLapFile(path, kTwoMovies, kC);
      _exit(!error ? 1 : error->isEmpty() ? 2 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), writable ? 1 : 0)
        << "0: the save failed; 1: it succeeded; 2: no description; 3: no setuid";
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ExpectOnly(writable ? LapFileBytes(kTwoMovies, kC) : old);
  }
}

// Mutations of the valid and refused files above: the reader never crashes, leaks or hangs
// (ASan and the test's time limit watch that) and returns either a description or a sound file:
// one the writer takes (a movie, lists of one equal non-zero length) with finite values.
TEST(LapFileReader, MutatedInputsNeverBreakIt) {
  std::mt19937 random(7);
  std::vector<QByteArray> seeds{LapFileBytes(kTwoMovies, kC), LapFileBytes(kTwoMovies, kComma)};
  for (const auto& [bytes, outcome] : ReadCases()) {
    if (bytes.size() < 2000)
      seeds.push_back(bytes);
  }
  const QByteArray tokens[] = {"<list>", "</list>",           "<lap>", "<file_name>", "<!--x-->",
                               "&amp;",  "<![CDATA[",         "]]>",   "1e308",       ",",
                               "-",      "</QuorvexLapFile>", "\xff"};
  int accepted = 0;
  for (int i = 0; i < 4000; ++i) {
    QByteArray bytes = seeds[random() % seeds.size()];
    for (int e = 1 + random() % 4; e > 0 && !bytes.isEmpty(); --e) {
      const int at = random() % bytes.size();
      if (random() % 3 == 0)
        bytes.remove(at, 1 + random() % 8);
      else if (random() % 2 == 0)
        bytes.insert(at, tokens[random() % std::size(tokens)]);
      else
        bytes.insert(at, bytes.mid(random() % bytes.size(), random() % 32));
    }
    for (const QLocale& locale : {kC, kComma}) {
      const LapFileReadResult result = ParseLapFile(bytes, locale);
      const std::string outcome = Outcome(result);
      ASSERT_FALSE(outcome.empty() || outcome.find("inf") != outcome.npos ||
                   outcome.find("nan") != outcome.npos)
          << bytes.toStdString();
      if (result.file) {
        ++accepted;
        ASSERT_NO_THROW(LapFileBytes(*result.file, locale)) << bytes.toStdString();
      }
    }
  }
  // Some mutations keep the file valid: the loop reached the end of the reader.
  EXPECT_GT(accepted, 0);
}

}  // namespace
}  // namespace quorvex::laps
