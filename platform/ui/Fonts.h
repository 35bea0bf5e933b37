#pragma once

#include <QFont>
#include <QString>

namespace quorvex::ui {

// The Japanese user-interface font that the designs name.
inline constexpr char kUiGothicFamily[] = "MS UI Gothic";

// Makes "MS UI Gothic" resolve to an installed Japanese font (the IPA Gothic fonts when present,
// else any font that covers Japanese), so that the half-width katakana texts render. Returns the
// family chosen, empty when no Japanese font is installed (Qt's fallback then decides). Changes
// Qt's font substitution table of this process; call once on the UI thread after the
// application object exists.
QString SubstituteUiGothicFont();

// "MS UI Gothic" at the given size, regular. The character set of the design (Shift-JIS) has no
// counterpart: Qt's text is Unicode throughout.
QFont UiGothicFont(qreal points = 9);

}  // namespace quorvex::ui
