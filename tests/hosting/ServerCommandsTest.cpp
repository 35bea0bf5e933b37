// Every command of the movie server across the process boundary, on generated movies, and the
// server's refusals.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/ChannelTerms.h"
#include "hosting/CMovieClient.h"
#include "hosting/Channel.h"
#include "tests/support/TestEnv.h"
#include "tests/support/XTestWindow.h"

namespace quorvex {
namespace {

using namespace std::chrono_literals;
using namespace media;

constexpr int64_t kFrameUnits = 333667;  // one frame of 29.97 fps, in 100 ns

// A movie opened in a server, drawing into a window of this process.
struct RemoteMovie {
  explicit RemoteMovie(const std::string& movie, int w = 320, int h = 240)
      : window(w, h), client({.server_path = test::QuorvexExe()}) {
    opened = client.InitializeGraph(test::Utf16(test::Movie(movie)).c_str(), window.id());
  }
  test::XTestWindow window;
  CMovieClient client;
  bool opened = false;
};

// The replies of a server carry what its engine reports: durations, aspect ratios, rates,
// frame-accurate seeks with the actual time returned, the playing state and volumes.
TEST(ServerCommands, RepliesCarryWhatTheEngineReports) {
  RemoteMovie remote("h264-aac-16x9.mp4");
  ASSERT_TRUE(remote.opened);
  int64_t duration = -1;
  EXPECT_EQ(remote.client.GetDuration(&duration), S_OK);
  EXPECT_NEAR(double(duration) / kUnitsPerSecond, 10.01, 0.05);
  int32_t x = 0, y = 0;
  remote.client.GetAspectRatio(x, y);
  EXPECT_EQ(std::pair(x, y), std::pair(16, 9));
  remote.client.SetRate(0.25);
  EXPECT_DOUBLE_EQ(remote.client.GetRate(), 0.25);
  remote.client.Pause();
  for (int64_t frame : {151, 3}) {  // the actual time returned, and then reported
    int64_t pos = frame * kFrameUnits + 1000, now = -1;
    const uint32_t flags = AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime;
    EXPECT_EQ(remote.client.SetPositions(&pos, flags, nullptr, 0), S_OK);
    EXPECT_EQ(remote.client.GetCurrentPosition(&now), S_OK);
    EXPECT_EQ(std::pair(pos, now), std::pair(frame * kFrameUnits + 1000, pos)) << frame;
  }
  EXPECT_FALSE(remote.client.IsPlaying());
  remote.client.Run();
  EXPECT_TRUE(remote.client.IsPlaying());
  remote.client.Stop();
  EXPECT_FALSE(remote.client.IsPlaying());
  remote.client.EnablePitchShift(true);  // no reply; the server must still answer afterwards
  EXPECT_EQ(remote.client.put_Volume(-10000), S_OK);
  EXPECT_FALSE(remote.client.lost());
}

// Files that are no movies fail to open, and the server keeps answering with its defaults; it
// builds one graph in its life, so a second try is refused too.
TEST(ServerRefusals, FilesThatAreNoMoviesFailAndTheServerKeepsAnswering) {
  for (const char* name : {"text-file.mp4", "truncated.mp4", "no-such-file.mp4"}) {
    RemoteMovie remote(name);
    EXPECT_FALSE(remote.opened) << name;
    int32_t x = 0, y = 0;
    remote.client.GetAspectRatio(x, y);
    EXPECT_EQ(std::pair(x, y), std::pair(4, 3)) << name;
    EXPECT_FALSE(remote.client.InitializeGraph(
        test::Utf16(test::Movie("h264-aac-16x9.mp4")).c_str(), remote.window.id()));
  }
}

TEST(ServerRefusals, CommandsBeforeAGraphReplyFailures) {
  CMovieClient client({.server_path = test::QuorvexExe()});
  int64_t value = 12345;
  EXPECT_TRUE(FAILED(client.GetDuration(&value)));
  EXPECT_EQ(value, 0);  // the value is replied as 0 with the failure
  int64_t pos = 10 * kFrameUnits;
  EXPECT_TRUE(FAILED(client.SetPositions(&pos, AM_SEEKING_AbsolutePositioning, nullptr, 0)));
  EXPECT_EQ(pos, 10 * kFrameUnits) << "the given position is replied as it was sent";
  EXPECT_TRUE(FAILED(client.put_Volume(0)));
  EXPECT_TRUE(FAILED(client.StepFrames(1)));
  EXPECT_TRUE(FAILED(client.FindStartSound()));
  EXPECT_EQ(client.GetStartSound(&value), channel::kStartSoundIdle);
  client.Run();
  EXPECT_FALSE(client.IsPlaying());
  EXPECT_EQ(client.GetRate(), 1.0);
  int32_t x = 0, y = 0;
  client.GetAspectRatio(x, y);
  EXPECT_EQ(std::pair(x, y), std::pair(4, 3));
  EXPECT_FALSE(client.lost());
}

// A path that does not fit the record with its terminator is refused before anything is sent.
TEST(ServerRefusals, AnOverlongPathIsRefusedBeforeAnythingIsSent) {
  CMovieClient client({.server_path = test::QuorvexExe()});
  std::u16string longest(1023, u'a'), too_long(1024, u'a');
  EXPECT_FALSE(client.InitializeGraph(too_long.c_str(), 0));
  EXPECT_EQ(channel::ReadField<int32_t>(client.param_view(), 0), 0);
  EXPECT_FALSE(client.InitializeGraph(longest.c_str(), 0));  // sent; no such file
  EXPECT_EQ(channel::ReadField<int32_t>(client.param_view(), 0), channel::kInitializeGraph);
  EXPECT_FALSE(client.lost());
}

}  // namespace
}  // namespace quorvex
