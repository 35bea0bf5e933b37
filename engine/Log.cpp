#include "engine/Log.h"

namespace quorvex {

Q_LOGGING_CATEGORY(EngineLog, "quorvex.engine", QtWarningMsg)

}  // namespace quorvex
