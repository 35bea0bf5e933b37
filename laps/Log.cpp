#include "laps/Log.h"

namespace quorvex {

Q_LOGGING_CATEGORY(LapLog, "quorvex.laps", QtWarningMsg)

}  // namespace quorvex
