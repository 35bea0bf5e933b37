// The display formats of the lap table and the number format of the lap file, in the C locale
// and in a locale with a decimal comma, and the regional parsing of number texts.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <span>

#include "platform/ui/NumberFormat.h"

namespace quorvex::ui {
namespace {

const QLocale kC = QLocale::c();
const QLocale kComma(QLocale::German, QLocale::Germany);

// Written with '.' as the decimal separator; the comma locale's expectation swaps it for ','.
struct FormatCase {
  double value;
  const char* fixed;    // "##0.00"
  const char* sign;     // "+##0.00;-##0.00;##0.00"
  const char* general;  // the lap file's 15-digit general format
};

class Formats : public testing::TestWithParam<FormatCase> {};

// Each text in both locales; the general text reads back to the same 15 significant digits.
TEST_P(Formats, InBothLocalesAndReadBack) {
  const FormatCase& c = GetParam();
  for (const QLocale& locale : {kC, kComma}) {
    auto text = [&](const char* t) {
      return QString::fromLatin1(t).replace('.', locale.decimalPoint());
    };
    EXPECT_EQ(FormatFixed2(c.value, locale), text(c.fixed));
    EXPECT_EQ(FormatSigned2(c.value, locale), text(c.sign));
    EXPECT_EQ(FormatGeneral15(c.value, locale), text(c.general));
    const std::optional<double> back = ParseNumber(FormatGeneral15(c.value, locale), locale);
    ASSERT_TRUE(back.has_value());
    EXPECT_NEAR(*back, c.value, std::fabs(c.value) * 1e-14);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, Formats,
    testing::Values(
        FormatCase{5, "5.00", "+5.00", "5"}, FormatCase{123.456, "123.46", "+123.46", "123.456"},
        FormatCase{-0.5, "-0.50", "-0.50", "-0.5"},
        // Its binary value lies below 2.675; its 15-digit decimal does not.
        FormatCase{2.675, "2.68", "+2.68", "2.675"}, FormatCase{0, "0.00", "0.00", "0"},
        FormatCase{-0.0, "0.00", "0.00", "0"}, FormatCase{1e-5, "0.00", "0.00", "1E-05"},
        FormatCase{1e-4, "0.00", "0.00", "0.0001"},
        FormatCase{1e15, "1000000000000000.00", "+1000000000000000.00", "1E+15"},
        FormatCase{1e14, "100000000000000.00", "+100000000000000.00", "100000000000000"},
        FormatCase{0.1 + 0.2, "0.30", "+0.30", "0.3"},
        FormatCase{1.0 / 3, "0.33", "+0.33", "0.333333333333333"},
        FormatCase{107.0 / 6, "17.83", "+17.83", "17.8333333333333"},
        // Rounded to zero: no sign in either format.
        FormatCase{-0.004, "0.00", "0.00", "-0.004"}, FormatCase{0.005, "0.01", "+0.01", "0.005"},
        FormatCase{-0.005, "-0.01", "-0.01", "-0.005"},
        // The carry runs into a new integer digit.
        FormatCase{9.995, "10.00", "+10.00", "9.995"},
        FormatCase{-99.999, "-100.00", "-100.00", "-99.999"},
        FormatCase{123456789012345.6, "123456789012346.00", "+123456789012346.00",
                   "123456789012346"},
        FormatCase{2.5e-300, "0.00", "0.00", "2.5E-300"}));

// Number texts as a person might type them in the lap file, each read in its locale; refused
// ones with a description. The other decimal separator is no number, nor is a group separator.
TEST(NumberFormat, ParsesRegionalTexts) {
  const std::pair<const char*, double> c_values[] = {{"12.5", 12.5},
                                                     {" \t12.5\r\n ", 12.5},
                                                     {"+1.5", 1.5},
                                                     {"-1.5E+03", -1500.0},
                                                     {"1e-5", 1e-5},
                                                     {".5", 0.5},
                                                     {"5.", 5.0},
                                                     {"-0", -0.0},
                                                     {"1e-400", 0.0},
                                                     {"17.8333333333333", 17.8333333333333},
                                                     {"0e999999999999", 0.0}};
  const std::pair<const char*, double> comma_values[] = {
      {"12,5", 12.5}, {" -3,25E-2 ", -0.0325}, {"17,8333333333333", 17.8333333333333}};
  const char* c_refused[] = {"43,019",    "1,234.5", "12,5",     "1,23",   "1234,567",
                             "1,234.5,6", "",        "  ",       "abc",    "1e",
                             "1e+",       "e5",      ".",        "--1",    "1-",
                             "1 2",       "1.2.3",   "0x10",     "1e400",  "-1e99999999999",
                             "inf",       "NaN",     "Infinity", "\uff11", "\u00a01"};
  const char* comma_refused[] = {"43.019", "1.234,5", "12.5", "17.8333333333333", "3.2", "1,2,3"};
  for (const QLocale& locale : {kC, kComma}) {
    using Values = std::span<const std::pair<const char*, double>>;
    using Texts = std::span<const char* const>;
    const bool c = locale == kC;
    for (const auto& [text, value] : c ? Values(c_values) : Values(comma_values)) {
      const std::optional<double> got = ParseNumber(QString::fromUtf8(text), locale);
      ASSERT_TRUE(got.has_value()) << text;
      EXPECT_EQ(*got, value) << text;
      EXPECT_EQ(std::signbit(*got), std::signbit(value)) << text;
    }
    for (const char* text : c ? Texts(c_refused) : Texts(comma_refused)) {
      QString error;
      EXPECT_FALSE(ParseNumber(QString::fromUtf8(text), locale, &error).has_value()) << text;
      EXPECT_FALSE(error.isEmpty()) << text;
    }
  }
}

// Random values of every magnitude survive writing and reading to 15 significant digits.
TEST(NumberFormat, GeneralFormatRoundTripsRandomValues) {
  std::mt19937_64 random(20240601);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  std::uniform_int_distribution<int> exponent(-300, 300);
  for (const QLocale& locale : {kC, kComma}) {
    for (int i = 0; i < 5000; ++i) {
      const double value = std::ldexp(mantissa(random), exponent(random));
      const QString text = FormatGeneral15(value, locale);
      const std::optional<double> back = ParseNumber(text, locale);
      ASSERT_TRUE(back.has_value()) << text.toStdString();
      ASSERT_NEAR(*back, value, std::fabs(value) * 5e-15) << text.toStdString();
      ASSERT_EQ(FormatGeneral15(*back, locale), text);  // already at 15 digits
    }
  }
}

// The display rounding agrees with rounding the 15-digit decimal text, halves away from zero,
// for hundredths-and-a-half values where binary rounding would often go the other way.
TEST(NumberFormat, HalvesRoundAwayFromZeroOnTheDecimalForm) {
  for (int cents = -100000; cents <= 100000; cents += 7) {
    const double half = (cents + 0.5) / 100.0;  // x.xx5 as near as binary allows
    const int expected = cents >= 0 ? cents + 1 : cents;
    EXPECT_EQ(FormatFixed2(half, kC), FormatFixed2(expected / 100.0, kC)) << half;
  }
  // Huge values keep every integer digit.
  const QString expected = QStringLiteral("-15") + QString(299, QLatin1Char('0')) + ",00";
  EXPECT_EQ(FormatFixed2(-1.5e300, kComma), expected);
  EXPECT_EQ(FormatSigned2(-1.5e300, kComma), expected);
  EXPECT_EQ(FormatGeneral15(-1.5e300, kComma), QStringLiteral("-1,5E+300"));
}

}  // namespace
}  // namespace quorvex::ui
