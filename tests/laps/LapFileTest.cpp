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
#include "tests/laps/LapFileSeeds.h"

namespace quorvex::laps {
namespace {

const QLocale kC = QLocale::c();
const QLocale kComma(QLocale::German, QLocale::Germany);
const QByteArray kBom = "\xEF\xBB\xBF";
const LapFile kTwoMovies{{"/movies/first.mp4", "/movies/second.mp4"},
                         {{12.5, 107.0 / 6, 23.04}, {3.2, 8.67, 14.1}}};

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
  return f.readAll();
}

TEST(LapFileWriter, WritesTheDocumentLineByLineInTheRegionalFormat) {
  const QByteArray expected = kBom +
                              "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\n"
                              "<QuorvexLapFile>\n"
                              "  <file_name>\n"
                              "    <list>/movies/first.mp4</list>\n"
                              "    <list>/movies/second.mp4</list>\n"
                              "  </file_name>\n"
                              "  <lap>\n"
                              "    <list>\n"
                              "      <list>12.5</list>\n"
                              "      <list>17.8333333333333</list>\n"
                              "      <list>23.04</list>\n"
                              "    </list>\n"
                              "    <list>\n"
                              "      <list>3.2</list>\n"
                              "      <list>8.67</list>\n"
                              "      <list>14.1</list>\n"
                              "    </list>\n"
                              "  </lap>\n"
                              "</QuorvexLapFile>\n";
  EXPECT_EQ(LapFileBytes(kTwoMovies, kC), expected);
  const QByteArray comma = LapFileBytes(LapFile{{"a"}, {{1e-5, -2.5, 1e15}}}, kComma);
  for (const char* value : {"<list>1E-05</list>", "<list>-2,5</list>", "<list>1E+15</list>"})
    EXPECT_TRUE(comma.contains(value)) << value;
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
    EXPECT_EQ(back.file->file_names, file.file_names);
    ASSERT_EQ(back.file->time_list.size(), 3u);
    for (size_t m = 0; m < 3; ++m) {
      ASSERT_EQ(back.file->time_list[m].size(), 4u);
      for (size_t r = 0; r < 4; ++r) {
        const double v = file.time_list[m][r];
        EXPECT_NEAR(back.file->time_list[m][r], v, std::fabs(v) * 1e-14);
      }
    }
  }
}

// A valid document with the given content of QuorvexLapFile.
QByteArray Document(const QByteArray& root_content) {
  return kBom + "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\n" +
         "<QuorvexLapFile>" + root_content + "</QuorvexLapFile>\n";
}

const QByteArray kFileA = "<file_name><list>a</list></file_name>";
const QByteArray kLap1 = "<lap><list><list>1</list></list></lap>";

struct Accepted {
  const char* name;
  QByteArray bytes;
  QStringList files;
  LapLists values;
};

void PrintTo(const Accepted& c, std::ostream* os) {
  *os << c.name;
}

class ReaderAccepts : public testing::TestWithParam<Accepted> {};

TEST_P(ReaderAccepts, TheFile) {
  const LapFileReadResult result = ParseLapFile(GetParam().bytes, kC);
  ASSERT_TRUE(result.file) << result.error.toStdString();
  EXPECT_EQ(result.file->file_names, GetParam().files);
  EXPECT_EQ(result.file->time_list, GetParam().values);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ReaderAccepts,
    testing::Values(
        Accepted{"lap_before_file_name", Document(kLap1 + kFileA), {"a"}, {{1.0}}},
        Accepted{"root_at_depth",
                 "<outer><!-- c --><QuorvexLapFile>" + kFileA + kLap1 + "</QuorvexLapFile></outer>",
                 {"a"},
                 {{1.0}}},
        Accepted{"no_bom_no_declaration",
                 "<QuorvexLapFile>\r\n\t" + kFileA + "\r\n" + kLap1 + "</QuorvexLapFile>",
                 {"a"},
                 {{1.0}}},
        Accepted{"numbers_with_space_sign_exponent",
                 Document(kFileA + "<lap><list><list>  +1234.5 </list><list>-2E+01</list>"
                                   "<list>.25</list></list></lap>"),
                 {"a"},
                 {{1234.5, -20.0, 0.25}}},
        Accepted{"cdata_and_character_references",
                 Document("<file_name><list><![CDATA[/x/a&b<c>.mp4]]></list>"
                          "<list>/y/&#x41;&amp;.mp4</list></file_name>"
                          "<lap><list><list>1</list></list><list><list>2</list></list></lap>"),
                 {"/x/a&b<c>.mp4", "/y/A&.mp4"},
                 {{1.0}, {2.0}}},
        Accepted{"path_keeps_its_spaces",
                 Document("<file_name><list> /a b/c.mp4 </list></file_name>" + kLap1),
                 {" /a b/c.mp4 "},
                 {{1.0}}}));

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

struct Refused {
  const char* name;
  QByteArray bytes;
  bool format_error;  // the description is InvalidFormatString(); else any other description
};

void PrintTo(const Refused& c, std::ostream* os) {
  *os << c.name;
}

class ReaderRefuses : public testing::TestWithParam<Refused> {};

TEST_P(ReaderRefuses, TheFile) {
  const LapFileReadResult result = ParseLapFile(GetParam().bytes, kC);
  EXPECT_FALSE(result.file.has_value());
  EXPECT_FALSE(result.error.isEmpty());
  EXPECT_EQ(result.error == InvalidFormatString(), GetParam().format_error)
      << result.error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Files, ReaderRefuses,
    testing::Values(
        Refused{"two_value_lists_for_three_files",
                Document("<file_name><list>a</list><list>b</list><list>c</list></file_name>"
                         "<lap><list><list>1</list></list><list><list>2</list></list></lap>"),
                true},
        Refused{"lists_of_different_length",
                Document("<file_name><list>a</list><list>b</list></file_name>"
                         "<lap><list><list>1</list><list>2</list></list>"
                         "<list><list>1</list></list></lap>"),
                true},
        Refused{"element_instead_of_text",
                Document("<file_name><list><b>a</b></list></file_name>" + kLap1), true},
        Refused{"text_under_the_root", Document("x" + kFileA + kLap1), true},
        Refused{"comment_under_the_root", Document("<!-- note -->" + kFileA + kLap1), true},
        Refused{"processing_instruction_in_a_value_list",
                Document(kFileA + "<lap><list><?pi x?><list>1</list></list></lap>"), true},
        Refused{"comment_as_a_value",
                Document(kFileA + "<lap><list><list><!--1--></list></list></lap>"), true},
        Refused{"empty_file_path", Document("<file_name><list></list></file_name>" + kLap1), true},
        Refused{"empty_value_list", Document(kFileA + "<lap><list/></lap>"), true},
        Refused{"no_movie", Document("<file_name/><lap/>"), true},
        Refused{"file_name_twice", Document(kFileA + kFileA), true},
        Refused{"other_child_name", Document(kFileA + "<laps/>"), true},
        Refused{"wrong_item_name", Document("<file_name><item>a</item></file_name>" + kLap1), true},
        Refused{"only_one_section", Document(kFileA), true},
        Refused{"two_roots_at_different_depths",
                Document(kFileA + "<lap><list><list>1</list><QuorvexLapFile/></list></lap>"), true},
        Refused{"no_root", "<other/>", true},
        // Refused before the document tree, whose recursion would exhaust the stack.
        Refused{"deeply_nested",
                QByteArray("<a>").repeated(200000) + QByteArray("</a>").repeated(200000), true},
        Refused{"other_decimal_separator",
                Document(kFileA + "<lap><list><list>12,5</list></list></lap>"), false},
        Refused{"infinite_value", Document(kFileA + "<lap><list><list>1e999</list></list></lap>"),
                false},
        Refused{"not_well_formed", kBom + "<QuorvexLapFile>" + kFileA, false},
        Refused{"empty_input", "", false}, Refused{"entity_expansion_bomb", EntityBomb(), false},
        Refused{"binary_garbage", QByteArray("\x00\xff\x13\x37", 4), false}));

TEST(LapFileReader, MissingFilesAndEmptyPathsAreFailures) {
  QTemporaryDir dir;
  for (const QString& path : {dir.filePath("absent.xml"), QString(), dir.path()}) {
    const LapFileReadResult result = ReadLapFile(path, kC);
    EXPECT_FALSE(result.file.has_value()) << path.toStdString();
    EXPECT_FALSE(result.error.isEmpty()) << path.toStdString();
  }
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

TEST_F(LapFileSave, AFileTooLargeForTheDiskKeepsTheOldFile) {
  // The file-size limit makes the write fail part-way, as a full disk does.
  std::signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{4096, RLIM_INFINITY};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const std::optional<QString> error =
      WriteLapFile(path, {{"/m/a.mp4"}, {std::vector<double>(5000, 1.0 / 3)}}, kC);
  ASSERT_TRUE(error.has_value());
  EXPECT_FALSE(error->isEmpty());
  ExpectOnly(old);
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

TEST_F(LapFileSave, ASuccessfulSaveReplacesTheOldFile) {
  ASSERT_FALSE(WriteLapFile(path, kTwoMovies, kC).has_value());
  ExpectOnly(LapFileBytes(kTwoMovies, kC));
}

// Mutations of valid and invalid files: the reader returns a sound file or a description, and
// never crashes, leaks or hangs (ASan and the test's time limit watch the rest).
TEST(LapFileReader, MutatedInputsNeverBreakIt) {
  std::mt19937 random(7);
  const std::vector<QByteArray> seeds = LapFileSeeds();
  const QByteArray tokens[] = {"<list>",
                               "</list>",
                               "<lap>",
                               "</lap>",
                               "<file_name>",
                               "<!--x-->",
                               "&amp;",
                               "<![CDATA[",
                               "]]>",
                               "1e308",
                               ",",
                               "-",
                               "<QuorvexLapFile>",
                               "</QuorvexLapFile>",
                               "&#0;",
                               "\xff"};
  int accepted = 0;
  for (int i = 0; i < 4000; ++i) {
    QByteArray bytes = seeds[random() % seeds.size()];
    for (int e = 1 + random() % 4; e > 0 && !bytes.isEmpty(); --e) {
      const int at = random() % bytes.size();
      switch (random() % 4) {
        case 0:
          bytes[at] = char(random());
          break;
        case 1:
          bytes.remove(at, 1 + random() % 8);
          break;
        case 2:
          bytes.insert(at, tokens[random() % std::size(tokens)]);
          break;
        default:
          bytes.insert(at, bytes.mid(random() % bytes.size(), random() % 32));
      }
    }
    for (const QLocale& locale : {kC, kComma}) {
      const LapFileReadResult result = ParseLapFile(bytes, locale);
      ASSERT_TRUE(IsSoundReadResult(result)) << bytes.toStdString();
      accepted += result.file.has_value();
    }
  }
  // Some mutations keep the file valid: the loop reached the end of the reader, not only its
  // first refusal.
  EXPECT_GT(accepted, 0);
}

}  // namespace
}  // namespace quorvex::laps
