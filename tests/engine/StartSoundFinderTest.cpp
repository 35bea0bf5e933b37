// The background search for the start signal on the generated movies: the sound alone is
// decoded, and a cancel ends a search that waits on a stalled file at once.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <gst/gst.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "engine/StartSoundFinder.h"
#include "tests/support/TestEnv.h"

namespace quorvex {
namespace {

using namespace std::chrono_literals;
using State = StartSoundFinder::State;

std::u16string Path(const std::string& file) {
  return std::u16string(file.begin(), file.end());
}

StartSoundFinder::Status WaitForAnswer(const StartSoundFinder& finder) {
  for (int i = 0; i < 3000 && finder.status().state == State::kRunning; ++i)
    std::this_thread::sleep_for(10ms);
  return finder.status();
}

// A movie's pictures are not decoded by the search, only its sound; the shot is found.
TEST(StartSoundFinder, DecodesTheSoundOnly) {
  StartSoundFinder finder;
  for (const char* movie : {"start-gun.avi", "h264-aac-16x9.mp4"}) {
    finder.Start(Path(test::Movie(movie)), 0);
    const StartSoundFinder::Status status = WaitForAnswer(finder);
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
  finder.Start(Path(test::Movie("start-gun.avi")), 0);
  const StartSoundFinder::Status status = WaitForAnswer(finder);
  ASSERT_EQ(status.state, State::kFound);
  EXPECT_NEAR(double(status.onset_units) / 1e7, 1.5, 0.002);
}

// A file that delivers nothing (a pipe whose writer stalls) holds the search in its first wait:
// a cancel ends it long before that wait's own limit (10 s), and the state is idle again.
TEST(StartSoundFinder, ACancelEndsASearchStuckInItsFirstWait) {
  char dir[] = "/tmp/quorvex-fifo-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string fifo = std::string(dir) + "/movie.avi";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int writer = open(fifo.c_str(), O_RDWR);  // read-write: opening does not wait for a reader
  ASSERT_GE(writer, 0);
  ASSERT_EQ(write(writer, "RIFF", 4), 4);  // the start of a header, and then nothing
  {
    StartSoundFinder finder;
    finder.Start(Path(fifo), 0);
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(finder.status().state, State::kRunning);
    // The pipe's reader blocks until the pipeline stops it; closing the writer a moment after
    // the cancel lets a reader that ignores the stop go too.
    std::thread closer([writer] {
      std::this_thread::sleep_for(500ms);
      close(writer);
    });
    const auto t0 = std::chrono::steady_clock::now();
    finder.Cancel();
    const auto took = std::chrono::steady_clock::now() - t0;
    closer.join();
    EXPECT_LT(took, 5s) << "the cancel waited out the state wait";
    EXPECT_EQ(finder.status().state, State::kIdle);
  }
  unlink(fifo.c_str());
  rmdir(dir);
}

}  // namespace
}  // namespace quorvex
