#pragma once

#include <QByteArray>

#include <vector>

#include "laps/LapFile.h"

namespace quorvex::laps {

// Lap files to start mutations from: valid ones (as the writer makes them and as a person might
// edit them) and near misses of every refusal of the reader.
std::vector<QByteArray> LapFileSeeds();

// Whatever the input, the reader gives either a sound file (at least one movie, lists of one
// equal non-zero length, finite values) or a description of the failure.
bool IsSoundReadResult(const LapFileReadResult& result);

}  // namespace quorvex::laps
