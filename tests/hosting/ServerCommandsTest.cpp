// Every command of the movie server across the process boundary, on generated movies, checked
// against what the engine reports in this process for the same movie; the server's refusals;
// the holder of a client; and many clients at once.
#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <memory>
#include <string>

#include "engine/CMovie.h"
#include "hosting/CAutoNativePtr.h"
#include "hosting/CMovieClient.h"
#include "hosting/Channel.h"
#include "platform/ipc/MessagePort.h"
#include "platform/media/Results.h"
#include "tests/support/TestEnv.h"
#include "tests/support/XTestWindow.h"

namespace quorvex {
namespace {

using namespace std::chrono_literals;
using namespace media;

constexpr int64_t kFrameUnits = 333667;  // one frame of 29.97 fps, in 100 ns

ClientOptions TestOptions() {
  ClientOptions o;
  o.server_path = test::QuorvexExe();
  return o;
}

std::u16string Path(const std::string& movie) {
  const std::string p = test::Movie(movie);
  return std::u16string(p.begin(), p.end());
}

bool ProcessGone(pid_t pid) {
  return kill(pid, 0) != 0 && errno == ESRCH;
}

// A movie opened in a server, drawing into a window of this process.
struct RemoteMovie {
  explicit RemoteMovie(const std::string& movie, int w = 320, int h = 240)
      : window(w, h), client(TestOptions()) {
    opened = client.InitializeGraph(Path(movie).c_str(), window.id());
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
  remote.client.SetRate(1.0);
  remote.client.Pause();
  for (int64_t frame : {150, 151, 3, 299}) {
    int64_t pos = frame * kFrameUnits + 1000;
    EXPECT_EQ(
        remote.client.SetPositions(&pos, AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime,
                                   nullptr, AM_SEEKING_NoPositioning),
        S_OK)
        << frame;
    EXPECT_EQ(pos, frame * kFrameUnits + 1000) << "the actual time, returned";
    int64_t now = -1;
    EXPECT_EQ(remote.client.GetCurrentPosition(&now), S_OK);
    EXPECT_EQ(now, pos) << frame;
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

TEST(ServerCommands, SetPositionsWritesOnlyTheGivenPositionsBack) {
  RemoteMovie remote("mjpeg-pcm-4x3.avi");
  ASSERT_TRUE(remote.opened);
  remote.client.Pause();
  int64_t cur = 60 * kFrameUnits, stop = 0;
  ASSERT_TRUE(SUCCEEDED(remote.client.SetPositions(
      &cur, AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime, nullptr, 0)));
  const auto* ret = remote.client.return_view();
  const int64_t stop_field_before = channel::ReadField<int64_t>(ret, 16);
  // Neither given: only the result code is replied, offsets 8 and 16 keep their values.
  const int64_t cur_field_before = channel::ReadField<int64_t>(ret, 8);
  remote.client.SetPositions(nullptr, AM_SEEKING_NoPositioning, nullptr, AM_SEEKING_NoPositioning);
  EXPECT_EQ(channel::ReadField<int64_t>(ret, 8), cur_field_before);
  EXPECT_EQ(channel::ReadField<int64_t>(ret, 16), stop_field_before);
  // The record holds 0 and the flags for a position not given.
  const auto* par = remote.client.param_view();
  EXPECT_EQ(channel::ReadField<uint8_t>(par, 4), 0);
  EXPECT_EQ(channel::ReadField<int64_t>(par, 8), 0);
  EXPECT_EQ(channel::ReadField<uint8_t>(par, 20), 0);
  EXPECT_EQ(channel::ReadField<int64_t>(par, 24), 0);
  (void)stop;
}

TEST(ServerCommands, EndOfStreamNotifiesTheRegisteredWindowAndPauses) {
  RemoteMovie remote("h264-noaudio.mp4");
  ASSERT_TRUE(remote.opened);
  int notifications = 0;
  ipc::MessagePort port([&](const ipc::Message& m) {
    if (m.code == channel::kGraphNotify)
      ++notifications;
    return 0;
  });
  ASSERT_EQ(remote.client.SetNotifyWindow(port.handle(), channel::kGraphNotify, 0), S_OK);
  remote.client.Pause();
  int64_t near_end = 290 * kFrameUnits;
  remote.client.SetPositions(&near_end, AM_SEEKING_AbsolutePositioning, nullptr, 0);
  remote.client.Run();
  ASSERT_TRUE(remote.client.IsPlaying());
  QElapsedTimer t;
  t.start();
  while (remote.client.IsPlaying() && t.elapsed() < 20000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (notifications > 0)
      remote.client.GraphNotifyProc();  // as the movie window answers
  }
  EXPECT_GT(notifications, 0);
  EXPECT_FALSE(remote.client.IsPlaying());  // paused on its last picture
  int64_t pos = 0;
  remote.client.GetCurrentPosition(&pos);
  EXPECT_GT(pos, 295 * kFrameUnits);
}

TEST(ServerRefusals, FilesThatAreNoMoviesFailAndTheServerKeepsAnswering) {
  for (const char* name : {"text-file.mp4", "truncated.mp4", "no-such-file.mp4"}) {
    RemoteMovie remote(name);
    EXPECT_FALSE(remote.opened) << name;
    EXPECT_FALSE(remote.client.lost()) << name;
    int32_t x = 0, y = 0;
    remote.client.GetAspectRatio(x, y);
    EXPECT_EQ(x, 4) << name;
    EXPECT_EQ(y, 3) << name;
    EXPECT_FALSE(remote.client.IsPlaying()) << name;
    // A second try is refused too: the server builds one graph in its life.
    EXPECT_FALSE(
        remote.client.InitializeGraph(Path("h264-aac-16x9.mp4").c_str(), remote.window.id()));
  }
}

TEST(ServerRefusals, CommandsBeforeAGraphReplyFailures) {
  CMovieClient client(TestOptions());
  int64_t value = 12345;
  EXPECT_TRUE(FAILED(client.GetDuration(&value)));
  EXPECT_EQ(value, 0);  // the value is replied as 0 with the failure
  value = 12345;
  EXPECT_TRUE(FAILED(client.GetCurrentPosition(&value)));
  EXPECT_EQ(value, 0);
  int64_t pos = 10 * kFrameUnits;
  EXPECT_TRUE(FAILED(client.SetPositions(&pos, AM_SEEKING_AbsolutePositioning, nullptr, 0)));
  EXPECT_TRUE(FAILED(client.put_Volume(0)));
  EXPECT_TRUE(FAILED(client.SetNotifyWindow(1234, channel::kGraphNotify, 0)));
  client.Run();
  client.Pause();
  client.Stop();
  client.SetRate(0.5);
  client.EnablePitchShift(true);
  client.GraphNotifyProc();
  client.SetVideoSize(100, 100);
  EXPECT_FALSE(client.IsPlaying());
  int32_t x = 0, y = 0;
  client.GetAspectRatio(x, y);
  EXPECT_EQ(x, 4);
  EXPECT_EQ(y, 3);
  EXPECT_FALSE(client.lost());
}

TEST(ServerRefusals, AnOverlongPathIsRefusedBeforeAnythingIsSent) {
  CMovieClient client(TestOptions());
  std::u16string longest(1023, u'a'), too_long(1024, u'a');
  const auto* par = client.param_view();
  EXPECT_FALSE(client.InitializeGraph(too_long.c_str(), 0));
  EXPECT_EQ(channel::ReadField<int32_t>(par, 0), 0);  // nothing was written into the block
  // 1023 units fit with the terminator: it is sent (and fails, as no such file exists).
  EXPECT_FALSE(client.InitializeGraph(longest.c_str(), 0));
  EXPECT_EQ(channel::ReadField<int32_t>(par, 0), channel::kInitializeGraph);
  EXPECT_FALSE(client.lost());
}

TEST(Holder, DeletesItsClientExactlyOnceAndEndsTheServer) {
  CAutoNativePtr<CMovieClient> holder(new CMovieClient(TestOptions()));
  CMovieClient* first = holder;
  const pid_t first_pid = first->server_pid();
  holder.Attach(first);  // the client already held: nothing happens
  holder.Attach(nullptr);
  EXPECT_EQ(holder.get(), first);
  EXPECT_FALSE(ProcessGone(first_pid));

  holder.Attach(new CMovieClient(TestOptions()));  // the first is deleted: its server ends
  EXPECT_TRUE(ProcessGone(first_pid));
  const pid_t second_pid = holder->server_pid();

  CAutoNativePtr<CMovieClient> other;
  other = holder;  // moves the client over
  EXPECT_EQ(holder.get(), nullptr);
  EXPECT_EQ(other->server_pid(), second_pid);
  other.Destroy();
  other.Destroy();
  EXPECT_EQ(other.get(), nullptr);
  EXPECT_TRUE(ProcessGone(second_pid));

  CAutoNativePtr<CMovieClient> kept(new CMovieClient(TestOptions()));
  CMovieClient* detached = kept.Detach();
  EXPECT_EQ(kept.get(), nullptr);
  EXPECT_FALSE(ProcessGone(detached->server_pid()));
  delete detached;
}

TEST(ManyClients, EightServersAnswerEachForItsOwnMovie) {
  const char* movies[] = {"h264-aac-16x9.mp4", "mjpeg-pcm-4x3.avi", "h264-vorbis-mono48k.mkv",
                          "h264-noaudio.mp4"};
  std::vector<std::unique_ptr<RemoteMovie>> remotes;
  for (int i = 0; i < 8; ++i) {
    remotes.push_back(std::make_unique<RemoteMovie>(movies[i % 4], 160, 120));
    ASSERT_TRUE(remotes.back()->opened) << i;
    remotes.back()->client.Pause();
  }
  // Interleaved: seek all, then read all back; each must report its own frame.
  for (int i = 0; i < 8; ++i) {
    int64_t pos = (10 + 20 * i) * kFrameUnits;
    remotes[i]->client.SetPositions(&pos, AM_SEEKING_AbsolutePositioning, nullptr, 0);
  }
  for (int round = 0; round < 3; ++round) {
    for (int i = 7; i >= 0; --i) {
      int64_t pos = -1;
      ASSERT_TRUE(SUCCEEDED(remotes[i]->client.GetCurrentPosition(&pos))) << i;
      EXPECT_NEAR(double(pos), double((10 + 20 * i) * kFrameUnits), kFrameUnits / 2.0) << i;
      int32_t x = 0, y = 0;
      remotes[i]->client.GetAspectRatio(x, y);
      EXPECT_EQ(x * 3 == y * 4, i % 4 != 0) << i;  // only the first movie is 16:9
    }
  }
}

}  // namespace
}  // namespace quorvex
