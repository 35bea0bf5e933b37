#include "app/Log.h"

namespace quorvex {

Q_LOGGING_CATEGORY(AppLog, "quorvex.app", QtWarningMsg)

}  // namespace quorvex
