#include "hosting/Log.h"

namespace quorvex {

Q_LOGGING_CATEGORY(ChannelLog, "quorvex.channel", QtWarningMsg)

}  // namespace quorvex
