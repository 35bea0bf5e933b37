// The design's Japanese font name resolves to an installed font that has the half-width
// katakana of the texts.
#include <gtest/gtest.h>

#include "tests/ui/Printers.h"

#include <QFontInfo>
#include <QFontMetrics>

#include "platform/ui/Fonts.h"

namespace quorvex::ui {
namespace {

TEST(Fonts, UiGothicResolvesToAnInstalledJapaneseFont) {
  const QString chosen = SubstituteUiGothicFont();
  ASSERT_FALSE(chosen.isEmpty()) << "no Japanese font installed (fonts-ipafont-gothic)";
  EXPECT_EQ(QFont::substitute(kUiGothicFamily).compare(chosen, Qt::CaseInsensitive), 0);
  const QFont font = UiGothicFont();
  EXPECT_EQ(font.pointSizeF(), 9.0);
  EXPECT_EQ(QFontInfo(font).family(), chosen);
  const QFontMetrics metrics(font);
  // "ﾌｧｲﾙ", "音声ﾋﾟｯﾁ一定": half-width katakana, their sound marks and kanji.
  for (char32_t c : {U'ﾌ', U'ｧ', U'ﾟ', U'ﾋ', U'音', U'定', U'停'}) {
    EXPECT_TRUE(metrics.inFontUcs4(c)) << std::hex << uint32_t(c);
  }
}

}  // namespace
}  // namespace quorvex::ui
