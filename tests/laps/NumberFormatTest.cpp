// The display formats of the lap table and the number format of the lap file, in the C locale
// and in a locale with a decimal comma, and the regional parsing of number texts.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/ui/NumberFormat.h"

namespace quorvex::ui {
namespace {

const QLocale kC = QLocale::c();
const QLocale kComma(QLocale::German, QLocale::Germany);

// Each text in both locales (written with '.', swapped for ',' in the comma locale); the general
// text reads back to the same 15 significant digits.
TEST(NumberFormat, FormatsInBothLocalesAndReadsBack) {
  const struct {
    double value;
    const char *fixed, *sign, *general;
  } cases[] = {{123.456, "123.46", "+123.46", "123.456"},
               // Its binary value lies below 2.675; its 15-digit decimal does not.
               {2.675, "2.68", "+2.68", "2.675"},
               {-0.0, "0.00", "0.00", "0"},
               {1e15, "1000000000000000.00", "+1000000000000000.00", "1E+15"},
               {107.0 / 6, "17.83", "+17.83", "17.8333333333333"},
               {-0.004, "0.00", "0.00", "-0.004"},  // rounded to zero: no sign
               {-99.999, "-100.00", "-100.00", "-99.999"}};
  for (const auto& c : cases) {
    for (const QLocale& locale : {kC, kComma}) {
      auto text = [&](const char* t) {
        return QString::fromLatin1(t).replace('.', locale.decimalPoint());
      };
      EXPECT_EQ(FormatFixed2(c.value, locale), text(c.fixed));
      EXPECT_EQ(FormatSigned2(c.value, locale), text(c.sign));
      EXPECT_EQ(FormatGeneral15(c.value, locale), text(c.general));
      EXPECT_NEAR(ParseNumber(FormatGeneral15(c.value, locale), locale).value_or(NAN), c.value,
                  std::fabs(c.value) * 1e-14);
    }
  }
  // The display rounding rounds the 15-digit decimal text, halves away from zero.
  for (int cents = -100000; cents <= 100000; cents += 7)
    EXPECT_EQ(FormatFixed2((cents + 0.5) / 100.0, kC),
              FormatFixed2((cents >= 0 ? cents + 1 : cents) / 100.0, kC))
        << cents;
}

// Number texts as a person might type them in the lap file, each read in its locale; refused
// ones with a description. The other decimal separator is no number, nor is a group separator.
TEST(NumberFormat, ParsesRegionalTexts) {
  const std::tuple<const QLocale&, const char*, double> values[] = {
      {kC, " \t12.5\r\n ", 12.5},
      {kC, "-1.5E+03", -1500.0},
      {kC, ".5", 0.5},
      {kC, "5.", 5.0},
      {kC, "1e-400", 0.0},
      {kC, "-0", -0.0},
      {kComma, "12,5", 12.5},
      {kComma, " -3,25E-2 ", -0.0325}};
  for (const auto& [locale, text, value] : values) {
    const std::optional<double> got = ParseNumber(QString::fromUtf8(text), locale);
    EXPECT_TRUE(got && *got == value && std::signbit(*got) == std::signbit(value)) << text;
  }
  const std::pair<const QLocale&, const char*> refused[] = {
      {kC, "43,019"}, {kC, "1,234.5"}, {kC, ""},           {kC, "1e+"},
      {kC, "1 2"},    {kC, "1e400"},   {kC, "inf"},        {kC, "0x10"},
      {kC, "\uff11"}, {kC, "1.2.3"},   {kComma, "43.019"}, {kComma, "1.234,5"}};
  for (const auto& [locale, text] : refused) {
    QString error;
    EXPECT_FALSE(ParseNumber(QString::fromUtf8(text), locale, &error).has_value()) << text;
    EXPECT_FALSE(error.isEmpty()) << text;
  }
}

}  // namespace
}  // namespace quorvex::ui
