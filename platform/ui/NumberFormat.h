#pragma once

// Numbers as the user reads and writes them: the two display formats of the lap table and the
// general format of the lap file, with the regional decimal separator, and the regional parsing
// of a number text. Pure functions of their arguments; safe on any thread. Digits are always
// ASCII; only the separators and signs come from the locale.

#include <QLocale>
#include <QString>

#include <optional>

namespace quorvex::ui {

// "##0.00": at least one integer digit, exactly two decimals, no group separators, the locale's
// minus sign before a negative value. The value is first written as a decimal of 15
// significant digits, and that decimal is rounded to two places, halves away from zero
// (2.675 gives 2.68). A value that rounds to zero has no sign. Non-finite values are written
// as the locale writes them.
QString FormatFixed2(double value, const QLocale& locale = QLocale::system());

// "+##0.00;-##0.00;##0.00": like FormatFixed2, with '+' before a positive and '-' before a
// negative value; a value that rounds to zero is "0.00" without a sign.
QString FormatSigned2(double value, const QLocale& locale = QLocale::system());

// The general format of a double with 15 significant digits: trailing zeros and a trailing
// decimal separator dropped, no group separators, '-' before a negative value; scientific
// form "1E-05" / "1.5E+15" (capital E, signed exponent of at least two digits) when the
// decimal exponent is below -4 or at least 15. Zero (either sign) is "0".
QString FormatGeneral15(double value, const QLocale& locale = QLocale::system());

// Reads a number written in the regional format: ASCII white space around it, an optional
// leading sign (the locale's or '+'/'-'), digits, the locale's decimal separator, an optional
// exponent ("e" or "E", an optional sign, digits). A group separator is refused: the lap file
// never contains one, and taking it would read a number written with the other decimal
// separator ("43.019" under a comma locale) as a thousand times its value. Values too small for a
// double read as zero. Returns nullopt for any other text, for a value too large for a double, and
// for infinities and NaN, and then sets `error` (when given) to a description of the failure.
std::optional<double> ParseNumber(const QString& text, const QLocale& locale = QLocale::system(),
                                  QString* error = nullptr);

}  // namespace quorvex::ui
