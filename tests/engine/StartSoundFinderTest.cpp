// The background search for the start signal on the generated movies: the sound alone is
// decoded, and a cancel ends a search that waits for sound that never comes at once.
#include <gtest/gtest.h>

#include <gst/gst.h>

#include <chrono>
#include <string>
#include <thread>

#include "engine/StartSoundFinder.h"
#include "tests/support/TestEnv.h"

namespace quorvex {
namespace {

using namespace std::chrono_literals;
using State = StartSoundFinder::State;

StartSoundFinder::Status WaitForAnswer(const StartSoundFinder& finder) {
  for (int i = 0; i < 3000 && finder.status().state == State::kRunning; ++i)
    std::this_thread::sleep_for(10ms);
  return finder.status();
}

// A movie's pictures are not decoded by the search, only its sound; the shot is found, also by
// a finder that searched another movie before.
TEST(StartSoundFinder, DecodesTheSoundOnly) {
  StartSoundFinder finder;
  StartSoundFinder::Status status;
  for (const char* movie : {"h264-aac-16x9.mp4", "start-gun.avi"}) {
    finder.Start(test::Utf16(test::Movie(movie)), 0);
    status = WaitForAnswer(finder);
    EXPECT_NE(status.state, State::kFailed) << movie;
    EXPECT_NE(status.state, State::kRunning) << movie;
    const std::vector<std::string> decoders = finder.decoders();
    EXPECT_EQ(decoders.empty(), std::string(movie) == "start-gun.avi")
        << movie;  // AAC's; PCM has none
    for (const std::string& name : decoders) {
      GstElementFactory* factory = gst_element_factory_find(name.c_str());
      ASSERT_NE(factory, nullptr) << name;
      const std::string klass =
          gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
      gst_object_unref(factory);
      EXPECT_EQ(klass.find("Video"), std::string::npos) << movie << ": " << name << " " << klass;
      EXPECT_EQ(klass.find("Image"), std::string::npos) << movie << ": " << name << " " << klass;
    }
  }
  ASSERT_EQ(status.state, State::kFound);
  EXPECT_NEAR(double(status.onset_ns) / 1e9, 1.5, 0.002);
}

// A movie without sound never prerolls the search's sound sink: the search stands in its first
// wait. A cancel ends it long before that wait's own limit (10 s), and the state is idle again.
TEST(StartSoundFinder, ACancelEndsASearchStuckInItsFirstWait) {
  StartSoundFinder finder;
  finder.Start(test::Utf16(test::Movie("h264-noaudio.mp4")), 0);
  std::this_thread::sleep_for(300ms);
  ASSERT_EQ(finder.status().state, State::kRunning);
  const auto t0 = std::chrono::steady_clock::now();
  finder.Cancel();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s) << "the cancel waited out the state wait";
  EXPECT_EQ(finder.status().state, State::kIdle);
}

}  // namespace
}  // namespace quorvex
