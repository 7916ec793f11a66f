// Text subtitles (SubRip, ASS, mov_text, ...) drawn onto the player's
// pictures: the decoders give each subtitle as an ASS event; libass lays the
// events out with the stream's styles and gives coloured coverage masks,
// which are blended into the planar YUV 4:2:0 picture.
#pragma once

#include "media/FFmpegHeaders.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>

struct ass_library;
struct ass_renderer;
struct ass_track;

// Events come from the subtitle thread and the read thread, pictures from
// the playback thread; FLock guards every field.
class TTextSubtitles {
public:
    TTextSubtitles() = default;
    ~TTextSubtitles();
    TTextSubtitles(const TTextSubtitles&) = delete;
    TTextSubtitles& operator=(const TTextSubtitles&) = delete;

    // Sets up the styles of the stream (the decoder's subtitle header, may
    // be empty). False when libass cannot be started.
    bool Start(const std::uint8_t* header, int headerSize);
    // One decoded event ("ReadOrder,Layer,Style,Name,...,Text") shown from
    // `startMs` for `durationMs`. An event given again (read twice around a
    // seek) is kept once; the read order is renumbered, as each decoder
    // counts from 0 after a flush.
    void AddEvent(const std::string& event, std::int64_t startMs, std::int64_t durationMs);
    // Forgets every event (after a seek).
    void Flush();
    // Draws the events due at `nowMs` into `picture` (planar YUV 4:2:0);
    // `makeWritable` is called first when there is something to draw. True
    // when something was drawn.
    bool Draw(AVFrame* picture, std::int64_t nowMs, const std::function<bool()>& makeWritable);

private:
    void Stop();

    std::mutex FLock;
    ass_library* FLibrary = nullptr;
    ass_renderer* FRenderer = nullptr;
    ass_track* FTrack = nullptr;
    int FWidth = 0, FHeight = 0;
    std::set<std::string> FEvents; // times and text of the events held
    long long FReadOrder = 0;
};
