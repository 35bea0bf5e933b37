#pragma once

// The log of the movie's graph, its clock and the search for the start sound (server process): the
// Qt logging category "quorvex.engine". Warnings (failures, with their reason) are on by default;
// QT_LOGGING_RULES="quorvex.*=true" adds the details.

#include <QLoggingCategory>

namespace quorvex {

Q_DECLARE_LOGGING_CATEGORY(EngineLog)

}  // namespace quorvex
