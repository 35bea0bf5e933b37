#pragma once

// The main of a benchmark that needs widgets: a QApplication on X11 (xcb unless told otherwise)
// and the texts' Japanese font, as the player has them.

#include <benchmark/benchmark.h>

#include <QApplication>

#include "platform/ui/Fonts.h"

namespace quorvex::bench {

inline int RunWithWidgets(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "xcb");
  QApplication app(argc, argv);
  ui::SubstituteUiGothicFont();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace quorvex::bench
