// When pictures are shown: the picture a seek asked for comes first even when
// decoding up to it took a while.
#include "PlayerTestSupport.h"

#include <cstdlib>

namespace {

// The times of the pictures shown, as the player reports them.
struct TShownTimes {
    std::mutex Lock; // guards Times
    std::vector<double> Times;

    std::size_t Count() {
        std::lock_guard lock(Lock);
        return Times.size();
    }
    std::vector<double> After(std::size_t index) {
        std::lock_guard lock(Lock);
        return std::vector<double>(Times.begin() + static_cast<long>(index), Times.end());
    }
};

} // namespace

TEST_F(PlayerTest, SeekWhilePlayingShowsTheAskedPictureFirstAfterALongDecode) {
    // Key frames at 0 and 4 s only: the seek to 3.6 s decodes 90 pictures
    // before the one it shows.
    testsupport::TempDir dir;
    std::string file = dir.file("sparse-keys.mkv");
    ASSERT_TRUE(testsupport::MakeMedia(
        file, "-f lavfi -i testsrc2=size=640x360:rate=25 -f lavfi -i "
              "sine=frequency=440:sample_rate=44100 -t 5 -c:v mpeg4 -g 100 -q:v 5 -c:a mp2"));
    // Host times count from the container's start; the shown times do not.
    double start = std::atof(testsupport::ProbeValue(file, "format=start_time").c_str());
    TFFPlayer player;
    TRecordingSurface surface(320, 180);
    TShownTimes shown;
    player.OnPictureShown = [&shown](double pts, double, bool) {
        std::lock_guard lock(shown.Lock);
        shown.Times.push_back(pts);
    };
    ASSERT_TRUE(player.Open(file, &surface, false)) << player.LastErrMsg();
    ASSERT_TRUE(WaitUntil([&] { return shown.Count() >= 5; }, 15));
    std::size_t before = shown.Count();
    player.Seek(0, false, 3600000);
    ASSERT_TRUE(WaitUntil(
        [&] {
            auto times = shown.After(before);
            return !times.empty() && times.back() - start > 3.5;
        },
        15));
    player.Close(true);
    // Pictures from before the seek may still show while it is on its way;
    // the first from after it is the asked one.
    for (double pts : shown.After(before)) {
        if (pts - start < 3.5) continue;
        // The first picture at or after the asked time (25 per second).
        EXPECT_GE(pts - start, 3.5995);
        EXPECT_LT(pts - start, 3.6395);
        break;
    }
}
