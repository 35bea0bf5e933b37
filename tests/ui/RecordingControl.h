#pragma once

// A controller that records the calls the control panel or a movie window makes, for the tests
// that look at one window without the main window behind it. Arguments are recorded with the
// call, doubles to their last bit.

#include <QStringList>

#include "ui/ControlInterface.h"

namespace quorvex::test {

class RecordingControl : public ControlInterface {
 public:
  static QString Call(const char* name, double arg) {
    return QString("%1 %2").arg(name).arg(arg, 0, 'g', 17);
  }

  void Play() override { calls << "Play"; }
  void Pause() override { calls << "Pause"; }
  void Stop() override { calls << "Stop"; }
  void SeekCurrentPosition(double step) override { calls << Call("SeekCurrentPosition", step); }
  void ClearTime() override { calls << "ClearTime"; }
  void SetBaseTime() override { calls << "SetBaseTime"; }
  void AddTime() override { calls << "AddTime"; }
  void SetRate(double rate) override { calls << Call("SetRate", rate); }
  int32_t GetCountTime() override {
    calls << "GetCountTime";
    return count_time;
  }
  void ToggleVideoFormControlsShowing() override { calls << "ToggleVideoFormControlsShowing"; }
  bool IsVideoFormControlsShowing() override {
    calls << "IsVideoFormControlsShowing";
    return controls_showing;
  }
  void SetBaseMovieIndex(int32_t index) override { calls << Call("SetBaseMovieIndex", index); }
  void StepFrames(int32_t frames) override { calls << Call("StepFrames", frames); }
  void ZoomAll(double factor, double x, double y) override {
    calls << Call("ZoomAll", factor) + QString(" %1 %2").arg(x).arg(y);
  }
  void ResetZoomAll() override { calls << "ResetZoomAll"; }

  QStringList calls;
  int32_t count_time = 0;
  bool controls_showing = true;
};

}  // namespace quorvex::test
