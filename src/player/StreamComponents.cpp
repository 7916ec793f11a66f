#include "player/StreamComponents.h"

#include "media/AVUtilEntries.h"
#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"

using namespace std::chrono_literals;

namespace {

double Now() {
    return static_cast<double>(ff::avutil.av_gettime()) / 1000000.0;
}

// How long a close waits for a hook that does not return.
constexpr auto HookReturnLimit = std::chrono::seconds(2);

// What the video decoder asks and reports: the pipeline's flags answer what
// they can, the conductor decides what the play state makes of the rest.
class TVideoEvents : public IVideoDecoderEvents {
public:
    TVideoEvents(IPipelineOwner& owner, TPlaybackState& is, std::atomic<int>& skipped)
        : Owner(owner), Is(is), Skipped(skipped) {}

    // Paused, the decoder still runs until a seek's picture is out (also
    // when a second seek came before it), for a step and for the first
    // pictures of a file opened paused.
    bool MayDecode() override {
        return !Is.Paused || Is.PausedAtSeek || Is.JustSeeked || Is.StartPausedFrames != 0 ||
               Owner.Stepping();
    }
    void Flushed() override { Is.VideoCurrentPosition = -1; }
    void PictureAfterFlush() override {
        if (!Is.JustSeeked) return;
        Is.JustSeeked = false;
        if (Is.Paused) Is.PendingShows = 1;
        Is.PausedAtSeek = false;
    }
    bool Hook(AVFrame* picture, double pts) override { return Owner.HookPicture(Is, picture, pts); }
    // How far the pictures are ahead of the sound (video clock minus the
    // sound's), once the sound tells the time heard.
    std::optional<double> OffSound() override {
        if (!Is.AudioSt || !Is.Audio.Tells()) return std::nullopt;
        const double now = Now();
        return Is.Clock.Video(now, static_cast<double>(Is.Input.StartTime()) / 1000000.0) -
               Is.Clock.Sound(now);
    }
    void PictureQueued() override {
        // The sound starts once the decoder keeps ahead of the display.
        if (Is.Pictures.Count() >= TPictureQueue::Size) Is.AudioHeldUntil = 0;
        Owner.PictureQueued(Is);
    }
    void PictureSkipped() override { ++Skipped; }
    void InputEnded() override {
        if (!Is.EndReported) Owner.UpdatePosition();
    }
    void InputFinished() override {
        Is.AudioHeldUntil = 0;
        Owner.ExpectPicture(false);
    }
    void Failed(const std::string& text) override { Owner.ReportError(text, false); }

private:
    IPipelineOwner& Owner;
    TPlaybackState& Is;
    std::atomic<int>& Skipped;
};

} // namespace

int TStreamComponents::Open(int streamIndex) {
    AVStream* stream = Is.Input.Stream(streamIndex);
    if (!stream) return -1;
    ff::CodecContextPtr codec = OpenDecoder(stream);
    if (!codec) return -1;
    switch (codec->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
        StartVideo(streamIndex, stream, std::move(codec));
        break;
    case AVMEDIA_TYPE_AUDIO:
        StartAudio(streamIndex, stream, std::move(codec));
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        StartSubtitle(streamIndex, stream, std::move(codec));
        break;
    default:
        break;
    }
    return 0;
}

// The stream's decoder, opened; for sound also the output device. Null
// (reported) when either cannot be had.
ff::CodecContextPtr TStreamComponents::OpenDecoder(AVStream* stream) {
    const AVCodec* decoder = ff::avcodec.avcodec_find_decoder(stream->codecpar->codec_id);
    ff::CodecContextPtr codec(ff::avcodec.avcodec_alloc_context3(decoder));
    if (!codec || ff::avcodec.avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0) {
        FLinks.Owner.ReportError("avcodec_open() failed.", false);
        return nullptr;
    }
    codec->pkt_timebase = stream->time_base;
    codec->workaround_bugs = 1;
    codec->error_concealment = 3;
    codec->thread_count = 0; // automatic: one thread cannot decode large pictures in time
    {
        std::lock_guard lock(CodecLock());
        if (!decoder || ff::avcodec.avcodec_open2(codec.get(), decoder, nullptr) < 0) {
            FLinks.Owner.ReportError("avcodec_open() failed.", false);
            codec.reset();
            return nullptr;
        }
    }
    if (codec->codec_type != AVMEDIA_TYPE_AUDIO) return codec;
    std::string failure = Is.Sound.OpenDevice(codec.get());
    if (failure.empty()) return codec;
    FLinks.Owner.ReportError(failure, false);
    std::lock_guard lock(CodecLock());
    codec.reset();
    return nullptr;
}

void TStreamComponents::StartVideo(int streamIndex, AVStream* stream, ff::CodecContextPtr codec) {
    Is.VideoStream = streamIndex;
    Is.VideoSt = stream;
    Is.VideoCodec = std::move(codec);
    Is.VideoOpen = true;
    Is.Rotation = StreamRotation(stream);
    Is.Video.Open(Is.VideoCodec.get(), stream, Is.Rotation);
    Is.VideoQueue.Start();
    Is.VideoQueue.PutFlush();
    Is.Input.Feed(TFeed::Video, streamIndex, Is.VideoQueue);
    Is.VideoDone.Reset();
    // The thread holds the pipeline state (see JoinVideoThread), not this.
    Is.VideoThread = std::thread(
        [owner = &FLinks.Owner, skipped = &FLinks.Skipped, hold = Is.shared_from_this()] {
            TVideoEvents events(*owner, *hold, *skipped);
            hold->Video.Run(events);
            hold->VideoDone.Set();
        });
}

void TStreamComponents::StartAudio(int streamIndex, AVStream* stream, ff::CodecContextPtr codec) {
    Is.AudioStream = streamIndex;
    Is.AudioSt = stream;
    Is.AudioCodec = std::move(codec);
    Is.AudioDuration =
        stream->duration != AV_NOPTS_VALUE
            ? ff::avutil.av_rescale_q(stream->duration, stream->time_base, AVRational{1, 1000000})
            : -1;
    Is.AudioQueue.Start();
    Is.AudioQueue.PutFlush();
    Is.Input.Feed(TFeed::Audio, streamIndex, Is.AudioQueue);
    Is.Sound.Start(Is.AudioCodec.get(), stream, FLinks.Mute, FLinks.Volume, FLinks.Sender);
}

void TStreamComponents::StartSubtitle(int streamIndex, AVStream* stream,
                                      ff::CodecContextPtr codec) {
    Is.SubtitleStream = streamIndex;
    Is.SubtitleSt = stream;
    if (std::string failure = Is.Subtitles.Open(
            TSubtitles::TSource{codec.get(), stream, streamIndex, Is.VideoStream,
                                Is.Input.FileName(), Is.Input.Context()->interrupt_callback});
        !failure.empty())
        FLinks.Owner.ReportError(failure, false);
    Is.SubtitleCodec = std::move(codec);
    Is.SubtitleQueue.Start();
    Is.SubtitleQueue.PutFlush();
    Is.Input.Feed(TFeed::Subtitle, streamIndex, Is.SubtitleQueue);
    Is.SubtitleThread =
        std::thread([is = &Is] { is->Subtitles.Run(is->Paused, is->PausedAtSeek); });
}

void TStreamComponents::Close(int streamIndex) {
    AVStream* stream = Is.Input.Stream(streamIndex);
    ff::CodecContextPtr codec;
    if (streamIndex == Is.VideoStream) {
        Is.VideoQueue.Abort();
        Is.Pictures.Abort();
        JoinVideoThread();
        Is.VideoQueue.Flush();
        Is.VideoOpen = false;
        codec = std::move(Is.VideoCodec);
        Is.VideoSt = nullptr;
        Is.VideoStream = -1;
    } else if (streamIndex == Is.AudioStream) {
        Is.AudioQueue.Abort();
        Is.Sound.Close();
        Is.AudioQueue.Flush();
        codec = std::move(Is.AudioCodec);
        Is.AudioSt = nullptr;
        Is.AudioStream = -1;
        Is.AudioDuration = -1;
    } else if (streamIndex == Is.SubtitleStream) {
        Is.SubtitleQueue.Abort();
        Is.Subtitles.Abort();
        if (Is.SubtitleThread.joinable()) Is.SubtitleThread.join();
        Is.SubtitleQueue.Flush();
        codec = std::move(Is.SubtitleCodec);
        Is.SubtitleSt = nullptr;
        Is.SubtitleStream = -1;
    }
    stream->discard = AVDISCARD_ALL;
    std::lock_guard lock(CodecLock());
    codec.reset();
}

void TStreamComponents::CloseAll() {
    if (Is.AudioStream >= 0) Close(Is.AudioStream);
    if (Is.VideoStream >= 0) Close(Is.VideoStream);
    if (Is.SubtitleStream >= 0) Close(Is.SubtitleStream);
    Is.Subtitles.Close();
}

// Waits for the video thread's end. A hook of the host that has not returned
// after HookReturnLimit is not waited for: the thread is let go, holding the
// pipeline state it uses (its shared reference) but nothing of the player,
// which may be destroyed before the hook returns. Back from the hook it sees
// that it was given up on and ends at once. Keeping the player alive instead
// would make the close and the host's window wait as long as the hook.
void TStreamComponents::JoinVideoThread() {
    if (!Is.VideoThread.joinable()) return;
    auto deadline = std::chrono::steady_clock::now() + HookReturnLimit;
    while (!Is.VideoDone.WaitFor(50ms)) {
        if (std::chrono::steady_clock::now() < deadline) continue;
        if (!Is.PictureHook.Abandon()) continue; // busy elsewhere: it ends soon
        Is.VideoThread.detach();
        GetLogger().Log(FLinks.Sender, llWarning,
                        "OnHook does not return: the video thread is left to end");
        return;
    }
    Is.VideoThread.join();
}
