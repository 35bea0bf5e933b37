#pragma once

#include <QByteArray>

#include <vector>

namespace quorvex::laps {

// Lap files to start mutations from: valid ones (as the writer makes them and as a person might
// edit them) and near misses of every refusal of the reader.
std::vector<QByteArray> LapFileSeeds();

}  // namespace quorvex::laps
