#pragma once

// Client options that start the movie servers of a benchmark from the built program.
// QUORVEX_BENCH_EXE is defined by the benchmark's target (bench/*.cmake).

#include "hosting/CMovieClient.h"

namespace quorvex::bench {

inline ClientOptions ServerOptions() {
  ClientOptions options;
  options.server_path = QUORVEX_BENCH_EXE;
  return options;
}

}  // namespace quorvex::bench
