#pragma once

// The log of the channel: the movie client, the movie server and the commands they refuse: the Qt
// logging category "quorvex.channel". Warnings (failures, with their reason) are on by default;
// QT_LOGGING_RULES="quorvex.*=true" adds the details.

#include <QLoggingCategory>

namespace quorvex {

Q_DECLARE_LOGGING_CATEGORY(ChannelLog)

}  // namespace quorvex
