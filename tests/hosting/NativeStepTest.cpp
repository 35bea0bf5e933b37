// Native frame steps through a real movie server, on movies of 25, 29.97, 60 and 240 fps and on
// phone footage (pictures dropped, picture times that wander, a time scale of 600): steps of
// one, five and ten pictures both ways and beyond both ends land on the start of exactly the
// neighbouring picture of the stream (the first 100 ns unit of it) and show it (its burnt-in
// time code and noise); a lap stored there and recalled by an absolute seek shows the same
// picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "engine/ChannelTerms.h"
#include "hosting/CMovieClient.h"
#include "tests/support/TestEnv.h"
#include "tests/support/XTestWindow.h"

namespace quorvex {
namespace {

using namespace media;

class NativeStepTest : public testing::TestWithParam<const char*> {};

TEST_P(NativeStepTest, LandsOnTheStreamsOwnPictures) {
  const std::vector<int64_t> times = test::PictureTimes(GetParam());
  ASSERT_GE(times.size(), 50u);
  test::XTestWindow window(320, 240);
  CMovieClient client({.server_path = test::QuorvexExe()});
  ASSERT_TRUE(client.InitializeGraph(test::Utf16(test::Movie(GetParam())).c_str(), window.id()));
  client.SetVideoSize(window.width(), window.height());
  client.Pause();
  const int last = int(times.size()) - 1;
  int k = 30;
  // A seek into the middle of a picture shows that picture: the first step goes from there.
  int64_t units = (times[size_t(k)] + times[size_t(k) + 1]) / 2 / 100;
  client.SetPositions(&units, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
  std::vector<uint32_t> shown = window.Grab();
  for (int step : {+1, -1, -1, +5, -5, +10, -10, -1, +10, -1000, -1, +1, +1000, +1, -1}) {
    const int want = std::clamp(k + step, 0, last);
    ASSERT_EQ(client.StepFrames(step), want != k ? S_OK : S_FALSE) << step << " from " << k;
    int64_t at = -1;
    ASSERT_EQ(client.GetCurrentPosition(&at), S_OK);
    EXPECT_EQ(at, times[size_t(want)] / 100) << step << " to " << want;
    const std::vector<uint32_t> stepped = window.Grab();
    EXPECT_EQ(stepped != shown, want != k) << "a picture of its own, " << step << " to " << want;
    k = want;
    client.SetPositions(&units, AM_SEEKING_AbsolutePositioning, nullptr,
                        AM_SEEKING_NoPositioning);  // somewhere else, then the lap's time
    int64_t recalled = at;
    client.SetPositions(&recalled, AM_SEEKING_AbsolutePositioning, nullptr,
                        AM_SEEKING_NoPositioning);
    EXPECT_TRUE(window.Grab() == stepped) << step << " to " << k;
    units = at;
    shown = stepped;
  }
}

INSTANTIATE_TEST_SUITE_P(Movies, NativeStepTest,
                         testing::Values("h264-25fps.mp4", "h264-noaudio.mp4", "h264-60fps.mp4",
                                         "h264-240fps.mp4", "vfr-dropped.mp4", "vfr-wander.mp4",
                                         "ntsc-600.mov"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           std::replace_if(
                               name.begin(), name.end(),
                               [](unsigned char c) { return !std::isalnum(c); }, '_');
                           return name;
                         });

}  // namespace
}  // namespace quorvex
