#include "platform/ui/NumberFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

namespace quorvex::ui {

namespace {

// A decimal d0.d1d2... x 10^exponent. std::to_chars, unlike printf, ignores the C locale that
// QCoreApplication sets from the environment, so the digits never depend on LC_NUMERIC.
struct Decimal {
  std::string digits;  // ASCII digits, most significant first; empty means zero
  int exponent = 0;
};

// The value's decimal form with 15 significant digits, correctly rounded from its binary value.
Decimal ToDecimal15(double magnitude) {
  char buf[64];
  const auto result =
      std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific, 14);
  const std::string text(buf, result.ptr);  // "d.dddddddddddddde+XX"
  Decimal d;
  d.digits = text.substr(0, 1) + text.substr(2, 14);
  d.exponent = std::stoi(text.substr(text.find('e') + 1));
  return d;
}

bool IsZero(const Decimal& d) {
  return d.digits.find_first_not_of('0') == std::string::npos;
}

// Rounds to `places` decimals, halves away from zero: only the first dropped digit decides.
void RoundToPlaces(Decimal& d, int places) {
  const int keep = d.exponent + 1 + places;
  if (keep >= static_cast<int>(d.digits.size()))
    return;
  if (keep < 0) {
    d.digits.clear();
    return;
  }
  const bool up = d.digits[keep] >= '5';
  d.digits.resize(keep);
  if (!up)
    return;
  int i = keep - 1;
  for (; i >= 0 && d.digits[i] == '9'; --i)
    d.digits[i] = '0';
  if (i >= 0) {
    ++d.digits[i];
  } else {
    d.digits.insert(d.digits.begin(), '1');
    ++d.exponent;
  }
}

char DigitAt(const Decimal& d, int power) {
  const int index = d.exponent - power;
  if (index < 0 || index >= static_cast<int>(d.digits.size()))
    return '0';
  return d.digits[index];
}

// "I.FF" from a decimal already rounded to two places.
QString FixedTwo(const Decimal& d, const QLocale& locale) {
  QString out;
  if (d.exponent < 0) {
    out += QLatin1Char('0');
  } else {
    for (int p = d.exponent; p >= 0; --p)
      out += QLatin1Char(DigitAt(d, p));
  }
  out += locale.decimalPoint();
  out += QLatin1Char(DigitAt(d, -1));
  out += QLatin1Char(DigitAt(d, -2));
  return out;
}

// The unsigned text of |value| in "##0.00", and whether it rounded to zero.
QString MagnitudeFixed2(double value, const QLocale& locale, bool* zero) {
  Decimal d = ToDecimal15(std::fabs(value));
  RoundToPlaces(d, 2);
  *zero = IsZero(d);
  return FixedTwo(d, locale);
}

bool IsAsciiSpace(QChar c) {
  return c == QLatin1Char(' ') || (c >= u'\t' && c <= u'\r');
}
bool IsAsciiDigit(QChar c) {
  return c >= u'0' && c <= u'9';
}

// A cursor over the text being parsed.
class Scanner {
 public:
  explicit Scanner(QStringView text) : text_(text) {}
  bool AtEnd() const { return pos_ >= text_.size(); }
  bool Take(QStringView token) {
    if (token.isEmpty() || !text_.mid(pos_).startsWith(token))
      return false;
    pos_ += token.size();
    return true;
  }
  // Appends the run of ASCII digits at the cursor to `out`; returns its length.
  qsizetype TakeDigits(std::string& out) {
    const qsizetype start = pos_;
    while (!AtEnd() && IsAsciiDigit(text_[pos_]))
      out += static_cast<char>(text_[pos_++].unicode());
    return pos_ - start;
  }
  qsizetype pos() const { return pos_; }
  void Reset(qsizetype pos) { pos_ = pos; }

 private:
  QStringView text_;
  qsizetype pos_ = 0;
};

// A sign at the cursor: true for minus. The locale's signs and the ASCII ones are both taken.
bool TakeSign(Scanner& s, const QLocale& locale) {
  if (s.Take(locale.negativeSign()) || s.Take(u"-"))
    return true;
  if (!s.Take(locale.positiveSign()))
    s.Take(u"+");
  return false;
}

struct Parsed {
  bool negative = false;
  std::string int_digits;
  std::string frac_digits;
  long long exponent = 0;  // saturated; only its sign matters once it is this large
};

bool Scan(QStringView text, const QLocale& locale, Parsed& p) {
  Scanner s(text);
  p.negative = TakeSign(s, locale);
  // No group separators: this program never writes them, and accepting them read "43.019"
  // written under a comma locale as 43019 under a point locale.
  s.TakeDigits(p.int_digits);
  if (s.Take(locale.decimalPoint()))
    s.TakeDigits(p.frac_digits);
  if (p.int_digits.empty() && p.frac_digits.empty())
    return false;
  if (s.Take(u"e") || s.Take(u"E")) {
    const bool negative = TakeSign(s, locale);
    std::string exp_digits;
    if (s.TakeDigits(exp_digits) == 0)
      return false;
    for (char c : exp_digits) {
      p.exponent = std::min(p.exponent * 10 + (c - '0'), 1'000'000'000LL);
    }
    if (negative)
      p.exponent = -p.exponent;
  }
  return s.AtEnd();
}

// The decimal exponent of the parsed value's leading non-zero digit; its sign tells an
// overflow from an underflow.
long long LeadingExponent(const Parsed& p) {
  const size_t int_nz = p.int_digits.find_first_not_of('0');
  if (int_nz != std::string::npos) {
    return static_cast<long long>(p.int_digits.size() - int_nz) - 1 + p.exponent;
  }
  const size_t frac_nz = p.frac_digits.find_first_not_of('0');
  if (frac_nz == std::string::npos)
    return 0;  // zero never overflows
  return -static_cast<long long>(frac_nz) - 1 + p.exponent;
}

void SetError(QString* error, const QString& text) {
  if (error)
    *error = text;
}

}  // namespace

QString FormatFixed2(double value, const QLocale& locale) {
  if (!std::isfinite(value))
    return locale.toString(value);
  bool zero = false;
  const QString magnitude = MagnitudeFixed2(value, locale, &zero);
  return (std::signbit(value) && !zero) ? locale.negativeSign() + magnitude : magnitude;
}

QString FormatSigned2(double value, const QLocale& locale) {
  if (!std::isfinite(value))
    return locale.toString(value);
  bool zero = false;
  const QString magnitude = MagnitudeFixed2(value, locale, &zero);
  if (zero)
    return magnitude;
  return (std::signbit(value) ? QLatin1Char('-') : QLatin1Char('+')) + magnitude;
}

QString FormatGeneral15(double value, const QLocale& locale) {
  if (!std::isfinite(value))
    return locale.toString(value);
  if (value == 0)
    return QStringLiteral("0");
  Decimal d = ToDecimal15(std::fabs(value));
  d.digits.erase(d.digits.find_last_not_of('0') + 1);
  QString out = value < 0 ? QStringLiteral("-") : QString();
  const QString point = locale.decimalPoint();
  if (d.exponent < -4 || d.exponent >= 15) {
    out += QLatin1Char(d.digits[0]);
    if (d.digits.size() > 1)
      out += point + QString::fromLatin1(d.digits.substr(1));
    const int e = std::abs(d.exponent);
    out += QStringLiteral("E%1%2%3")
               .arg(d.exponent < 0 ? QLatin1Char('-') : QLatin1Char('+'))
               .arg(e < 10 ? QStringLiteral("0") : QString())
               .arg(e);
    return out;
  }
  if (d.exponent < 0) {
    out += QLatin1Char('0') + point + QString(-d.exponent - 1, QLatin1Char('0'));
    return out + QString::fromLatin1(d.digits);
  }
  for (int p = d.exponent; p >= 0; --p)
    out += QLatin1Char(DigitAt(d, p));
  if (static_cast<int>(d.digits.size()) > d.exponent + 1) {
    out += point + QString::fromLatin1(d.digits.substr(d.exponent + 1));
  }
  return out;
}

std::optional<double> ParseNumber(const QString& text, const QLocale& locale, QString* error) {
  QStringView view(text);
  while (!view.isEmpty() && IsAsciiSpace(view.front()))
    view = view.mid(1);
  while (!view.isEmpty() && IsAsciiSpace(view.back()))
    view.chop(1);
  Parsed p;
  if (!Scan(view, locale, p)) {
    SetError(error, QStringLiteral("数値の形式が正しくありません: \"%1\"").arg(text));
    return std::nullopt;
  }
  const std::string plain = (p.int_digits.empty() ? std::string("0") : p.int_digits) + "." +
                            p.frac_digits + "e" + std::to_string(p.exponent);
  double value = 0;
  const auto result = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    if (LeadingExponent(p) > 0) {
      SetError(error, QStringLiteral("数値が大きすぎます: \"%1\"").arg(text));
      return std::nullopt;
    }
    value = 0;  // too small for a double
  } else if (result.ec != std::errc() || !std::isfinite(value)) {
    SetError(error, QStringLiteral("数値の形式が正しくありません: \"%1\"").arg(text));
    return std::nullopt;
  }
  return p.negative ? -value : value;
}

}  // namespace quorvex::ui
