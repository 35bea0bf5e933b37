#pragma once

// A controller that records the calls the control panel or a movie window makes, for the tests
// that look at one window without the main window behind it.

#include <QString>
#include <QStringList>

#include "ui/ControlInterface.h"

namespace quorvex::test {

class RecordingControl : public ControlInterface {
 public:
  void Play() override { calls << "Play"; }
  void Pause() override { calls << "Pause"; }
  void Stop() override { calls << "Stop"; }
  void SeekCurrentPosition(double step) override {
    calls << "SeekCurrentPosition";
    steps.push_back(step);
  }
  void ClearTime() override { calls << "ClearTime"; }
  void SetBaseTime() override { calls << "SetBaseTime"; }
  void AddTime() override { calls << "AddTime"; }
  void SetRate(double rate) override {
    calls << "SetRate";
    rates.push_back(rate);
  }
  int32_t GetCountTime() override {
    calls << "GetCountTime";
    return count_time;
  }
  void ToggleVideoFormControlsShowing() override { calls << "ToggleVideoFormControlsShowing"; }
  bool IsVideoFormControlsShowing() override {
    calls << "IsVideoFormControlsShowing";
    return controls_showing;
  }
  void SetBaseMovieIndex(int32_t index) override {
    calls << QString("SetBaseMovieIndex %1").arg(index);
  }

  QStringList calls;
  std::vector<double> steps;
  std::vector<double> rates;
  int32_t count_time = 0;
  bool controls_showing = true;
};

}  // namespace quorvex::test
