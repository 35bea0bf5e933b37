#pragma once

// The log of lap files that do not load or save: the Qt logging category "quorvex.laps". Warnings
// (failures, with their reason) are on by default; QT_LOGGING_RULES="quorvex.*=true" adds the
// details.

#include <QLoggingCategory>

namespace quorvex {

Q_DECLARE_LOGGING_CATEGORY(LapLog)

}  // namespace quorvex
