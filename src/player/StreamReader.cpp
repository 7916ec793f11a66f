#include "player/StreamReader.h"

#include "media/AVUtilEntries.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"
#include "media/SDLEntries.h"
#include "media/UnicodeProtocol.h"

#include <exception>

namespace {

// How long the sound waits at most for the first picture after the open or a
// seek (a broken video stream must not silence the file).
constexpr std::int64_t AudioHoldLimit = 1500000;

void HoldSound(TPlaybackState& is) {
    is.Clock.HoldSound(ff::avutil.av_gettime() + AudioHoldLimit);
}

// What the demuxer reports, turned into the pipeline's flushes; the
// conductor decides what the seek's end means for the play state.
class TReadEvents : public IDemuxerEvents {
public:
    TReadEvents(IPipelineOwner& owner, TPlaybackState& is, TFFBaseComponent* sender)
        : Owner(owner), Is(is), Sender(sender) {}

    void SeekMoving(double exact) override {
        if (Is.VideoSt) {
            // Pictures decoded from here on are from before the seek: none
            // is queued, and none may end the seek (JustSeeked) before the
            // video thread has met the flush marker.
            Is.Pictures.MarkFlushPending();
            Is.Video.SeekStarting(exact);
        }
        Is.JustSeeked = true;
        if (Is.AudioSt) Is.Sound.SeekStarting(exact);
        if (!Is.VideoSt) return;
        if (Is.AudioSt) HoldSound(Is);
        // Told again by the video thread with the first picture after the
        // flush marker, so told before that marker is queued.
        Owner.ExpectPicture(true);
    }

    void SeekLanded(bool moved, double exact) override {
        if (!moved) {
            Owner.ReportError(FormatText("%s: error while seeking", Is.Input.FileName().c_str()),
                              false);
            if (Is.VideoSt) Owner.ExpectPicture(false);
        } else {
            Is.Subtitles.Seeked(exact);
        }
        Is.EndReported = false;
    }

    void SeekDone() override { Owner.SeekReached(Is); }

    void ReadStopped(bool atEnd, int code, bool first) override {
        if (Is.VideoSt && !atEnd) Owner.ExpectPicture(false);
        if (!first || Is.Input.IsImageSequence()) return;
        const char* name = Is.Input.FileName().c_str();
        if (atEnd)
            GetLogger().Log(Sender, llInfo, FormatText("reach end of file: %s", name));
        else
            Owner.ReportError(FormatText("error #%d while reading file: %s", code, name), false);
    }

private:
    IPipelineOwner& Owner;
    TPlaybackState& Is;
    TFFBaseComponent* Sender;
};

} // namespace

void TStreamReader::Run(const std::string& fileName) {
    int result = -1;
    try {
        if (OpenInput(fileName)) {
            Is.OpenStatus = 1;
            TReadEvents events(FOwner, Is, FSender);
            result = Is.Input.Run(events);
        }
    } catch (const std::exception& e) {
        FOwner.ReportError(e.what(), false);
    }
    End(result);
}

bool TStreamReader::OpenInput(const std::string& fileName) {
    Is.OpenError = Is.Input.Open(fileName, FOptions.VideoSize);
    if (!Is.OpenError.empty()) return false;
    ChooseStreams();
    if (Is.AudioStream >= 0 || Is.VideoStream >= 0) return true;
    Is.OpenError = FormatText("%s: could not open codecs, no stream to play.",
                              FromLibraryName(fileName).c_str());
    return false;
}

void TStreamReader::ChooseStreams() {
    TStreamChoice choice = Is.Input.ChooseStreams(FOptions.DisableAudio, FOptions.DisableVideo);
    if (choice.Audio >= 0 && choice.Video >= 0) HoldSound(Is);
    if (choice.Audio >= 0) FComponents.Open(choice.Audio);
    int videoResult = choice.Video >= 0 ? FComponents.Open(choice.Video) : -1;
    if (videoResult < 0) Is.AudioHeldUntil = 0;
    if (choice.Subtitle >= 0 && Is.VideoSt) FComponents.Open(choice.Subtitle);
    if (videoResult < 0 && !FOptions.DisableDisplay) Is.ShowAudio = 2;
}

void TStreamReader::End(int result) {
    if (Is.OpenStatus != 1) Is.OpenStatus = -1;
    Is.AbortRequest = true;
    FComponents.CloseAll();
    // SDL keeps per-thread data (its error text) for threads it did not
    // start; this thread is done with SDL, so that data goes now.
    ff::sdl.SDL_TLSCleanup();
    if (Is.OpenStatus == 1) FOwner.InputClosing();
    Is.Input.Close();
    if (result != 0 && Is.OpenStatus == 1) FOwner.PostQuit();
    if (Is.OpenStatus == -1) Is.OpenStatus = -2;
}
