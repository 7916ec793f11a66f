// Plays a file to its end the way a preview panel does (pictures converted
// to the panel's size, SDL's audio through whatever driver the environment
// names) and reports the cost: CPU seconds per second of playback, pictures
// shown and dropped, the largest distance between a shown picture's time
// and the audio clock and how many were more than a frame (at 30/s) off it, and how long a seek
// with wait takes afterwards.
//
//   vantrel-play-bench FILE PANEL_WIDTH PANEL_HEIGHT SEEK_SECONDS
#include "media/FFmpegLoader.h"
#include "media/MainThread.h"
#include "media/MainThreadWait.h"
#include "player/FFPlay.h"

#include <sys/resource.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace {

class TCountingSurface : public IVideoSurface {
public:
    TCountingSurface(int width, int height) : FWidth(width), FHeight(height) {}
    int ClientWidth() const override { return FWidth; }
    int ClientHeight() const override { return FHeight; }
    bool SetMode(int, int) override { return true; }
    void Show(const Bitmap32&, const TSurfaceRect&) override {}
    void Redraw() override {}

private:
    int FWidth, FHeight;
};

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int Number(const char* text) {
    int value = 0;
    std::from_chars(text, text + std::char_traits<char>::length(text), value);
    return value;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: vantrel-play-bench FILE PANEL_WIDTH PANEL_HEIGHT SEEK\n");
        return 1;
    }
    SetMainThread();
    TFFPlayer player;
    if (!player.LoadLibraries("")) {
        std::fprintf(stderr, "%s\n", player.LastErrMsg().c_str());
        return 1;
    }
    TCountingSurface surface(Number(argv[2]), Number(argv[3]));
    auto wallStart = std::chrono::steady_clock::now();
    std::mutex lock; // guards the five below (playback thread and main thread)
    double largest = 0;
    int beyondFrame = 0;    // pictures shown more than a frame (at 30/s) off the sound
    double seekTarget = -1; // seconds; set when the seek starts
    std::chrono::steady_clock::time_point seekStart, seekShown;
    player.OnPictureShown = [&](double pts, double audioClock, bool hasAudio) {
        std::lock_guard guard(lock);
        if (seekTarget >= 0 && pts >= seekTarget - 0.001 && seekShown == seekStart)
            seekShown = std::chrono::steady_clock::now();
        if (std::getenv("BENCH_TRACE"))
            std::fprintf(
                stderr, "%.3f %.3f %.3f %d\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count(),
                pts, pts - audioClock, player.DroppedPictures.load());
        if (hasAudio && seekTarget < 0) {
            double gap = std::fabs(pts - audioClock);
            largest = std::max(largest, gap);
            if (gap > 1.0 / 30) ++beyondFrame;
        }
    };
    std::int64_t duration = 0;
    player.OnFileOpen = [&](TCustomPlayer*, const std::int64_t d, const int, const int, int&,
                            int&) { duration = d; };
    std::int64_t last = -1;
    player.OnPosition = [&](TCustomPlayer*, const std::int64_t p) { last = p; };
    double cpuStart = CpuSeconds();
    wallStart = std::chrono::steady_clock::now();
    if (!player.Open(argv[1], &surface, false)) {
        std::fprintf(stderr, "%s\n", player.LastErrMsg().c_str());
        return 1;
    }
    if (!ServeMainThreadUntil([&] { return duration > 0 && last >= duration; },
                              std::chrono::seconds(600))) {
        std::fprintf(stderr, "did not reach the end\n");
        return 1;
    }
    double cpu = CpuSeconds() - cpuStart;
    double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    double played = duration / 1e6;

    {
        std::lock_guard guard(lock);
        seekTarget = std::atof(argv[4]);
        seekStart = seekShown = std::chrono::steady_clock::now();
    }
    player.Seek(0, true, static_cast<std::int64_t>(seekTarget * 1e6));
    double seekMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - seekStart)
            .count();
    // And until the picture at the asked time is on the display.
    ServeMainThreadUntil(
        [&] {
            std::lock_guard guard(lock);
            return seekShown != seekStart;
        },
        std::chrono::seconds(10));
    player.Close(true);
    std::lock_guard guard(lock);
    double shownMs = std::chrono::duration<double, std::milli>(seekShown - seekStart).count();
    std::printf("played=%.2f wall=%.2f cpu=%.2f cpu_per_second=%.3f shown=%d dropped=%d "
                "max_av_ms=%.1f beyond_frame=%d seek_ms=%.0f seek_shown_ms=%.0f\n",
                played, wall, cpu, cpu / played, player.ShownPictures.load(),
                player.DroppedPictures.load(), largest * 1000, beyondFrame, seekMs, shownMs);
    return 0;
}
