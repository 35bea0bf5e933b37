// Native frame steps through a real movie server, on movies of 25, 29.97, 60 and 240 fps: a
// step lands on the start of the neighbouring frame of the movie's own rate, and the picture
// shown is that frame's (its burnt-in time code and noise), the same picture that a
// frame-accurate seek into that frame shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/ChannelTerms.h"
#include "hosting/CMovieClient.h"
#include "tests/support/TestEnv.h"
#include "tests/support/XTestWindow.h"

namespace quorvex {
namespace {

using namespace media;

// A server with `movie` open, paused, drawing into `window`.
std::unique_ptr<CMovieClient> Open(const char* movie, const test::XTestWindow& window) {
  ClientOptions options;
  options.server_path = test::QuorvexExe();
  auto client = std::make_unique<CMovieClient>(options);
  const std::string path = test::Movie(movie);
  EXPECT_TRUE(
      client->InitializeGraph(std::u16string(path.begin(), path.end()).c_str(), window.id()));
  client->SetVideoSize(window.width(), window.height());
  client->Pause();
  return client;
}

struct StepCase {
  const char* movie;
  int64_t fps_num, fps_den;
  int frames;  // in the movie
};

class NativeStepTest : public testing::TestWithParam<StepCase> {
 protected:
  void SetUp() override { client_ = Open(GetParam().movie, window_); }

  // Where frame `k` starts, in 100 ns units (not truncated).
  double Start(int k) const {
    return double(k) * 1e7 * double(GetParam().fps_den) / double(GetParam().fps_num);
  }
  // A frame-accurate seek into the middle of frame `k`; returns the picture then shown.
  std::vector<uint32_t> ShowFrame(int k) {
    int64_t units = int64_t(Start(k) + (Start(1) / 2));
    client_->SetPositions(&units, AM_SEEKING_AbsolutePositioning, nullptr,
                          AM_SEEKING_NoPositioning);
    return window_.Grab();
  }
  double Position() {
    int64_t units = -1;
    EXPECT_EQ(client_->GetCurrentPosition(&units), S_OK);
    return double(units);
  }

  test::XTestWindow window_{320, 240};
  std::unique_ptr<CMovieClient> client_;
};

TEST_P(NativeStepTest, LandsOnTheNeighbouringFrame) {
  const int last = GetParam().frames - 1;
  std::vector<std::vector<uint32_t>> picture(size_t(GetParam().frames));
  for (int k : {0, 9, 10, 11, 15, last - 1})
    picture[size_t(k)] = ShowFrame(k);
  ASSERT_NE(picture[10], picture[11]) << "frames must be told apart by their pictures";

  // From frame 10: +1, -1, -1, then a jump of +6 (one seek at a fixed rate).
  ShowFrame(10);
  const std::pair<int, int> steps[] = {{+1, 11}, {-1, 10}, {-1, 9}, {+6, 15}};
  for (const auto& [step, frame] : steps) {
    EXPECT_EQ(client_->StepFrames(step), S_OK) << step << " to " << frame;
    EXPECT_NEAR(Position(), Start(frame), 1.5) << step << " to " << frame;
    EXPECT_EQ(window_.Grab(), picture[size_t(frame)]) << step << " to " << frame;
    EXPECT_FALSE(client_->IsPlaying());
  }
  // The ends: back from frame 0 and forward from the last frame do not move.
  ShowFrame(9);
  EXPECT_EQ(client_->StepFrames(-30), S_OK) << "stops at the first frame";
  EXPECT_EQ(window_.Grab(), picture[0]);
  EXPECT_EQ(client_->StepFrames(-1), S_FALSE);
  EXPECT_EQ(Position(), 0.0);
  ShowFrame(last);
  EXPECT_EQ(client_->StepFrames(+1), S_FALSE);
  EXPECT_EQ(client_->StepFrames(-1), S_OK);
  EXPECT_NEAR(Position(), Start(last - 1), 1.5);
  EXPECT_EQ(window_.Grab(), picture[size_t(last - 1)]);
}

// Phone footage (pictures dropped, picture times that wander, a time scale of 600) through the
// channel: a seek into the middle of a picture shows it, and steps of one, five and ten pictures
// both ways and beyond both ends land on the start of exactly that picture of the stream (the
// first 100 ns unit of it); a lap stored there and recalled by an absolute seek shows the same
// picture.
TEST(NativeStepPhoneTest, ARecalledPositionShowsTheSteppedPicture) {
  for (const char* movie : {"vfr-dropped.mp4", "vfr-wander.mp4", "ntsc-600.mov"}) {
    SCOPED_TRACE(movie);
    const std::vector<int64_t> times = test::PictureTimes(movie);
    ASSERT_GT(times.size(), 100u);
    test::XTestWindow window(320, 240);
    const std::unique_ptr<CMovieClient> opened = Open(movie, window);
    CMovieClient& client = *opened;
    const int last = int(times.size()) - 1;
    int k = 40;
    int64_t units = (times[size_t(k)] + times[size_t(k) + 1]) / 2 / 100;
    client.SetPositions(&units, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
    for (int step : {+1, -1, -1, +5, -5, +10, -10, -1, +10, -1000, -1, +1, +1000, +1, -1}) {
      const int want = std::clamp(k + step, 0, last);
      ASSERT_EQ(client.StepFrames(step), want != k ? S_OK : S_FALSE) << step << " from " << k;
      k = want;
      int64_t at = -1;
      ASSERT_EQ(client.GetCurrentPosition(&at), S_OK);
      EXPECT_EQ(at, times[size_t(k)] / 100) << step << " to " << k;
      const std::vector<uint32_t> stepped = window.Grab();
      client.SetPositions(&units, AM_SEEKING_AbsolutePositioning, nullptr,
                          AM_SEEKING_NoPositioning);  // somewhere else, then the lap's time
      int64_t recalled = at;
      client.SetPositions(&recalled, AM_SEEKING_AbsolutePositioning, nullptr,
                          AM_SEEKING_NoPositioning);
      EXPECT_TRUE(window.Grab() == stepped) << step << " to " << k;
      units = at;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Rates, NativeStepTest,
                         testing::Values(StepCase{"h264-25fps.mp4", 25, 1, 50},
                                         StepCase{"h264-noaudio.mp4", 30000, 1001, 300},
                                         StepCase{"h264-60fps.mp4", 60, 1, 120},
                                         StepCase{"h264-240fps.mp4", 240, 1, 480}),
                         [](const testing::TestParamInfo<StepCase>& info) {
                           return "fps" + std::to_string(info.param.fps_num / info.param.fps_den);
                         });

}  // namespace
}  // namespace quorvex
