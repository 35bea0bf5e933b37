#pragma once

// The log of the main window: movies that do not open, exports: the Qt logging category
// "quorvex.app". Warnings (failures, with their reason) are on by default;
// QT_LOGGING_RULES="quorvex.*=true" adds the details.

#include <QLoggingCategory>

namespace quorvex {

Q_DECLARE_LOGGING_CATEGORY(AppLog)

}  // namespace quorvex
