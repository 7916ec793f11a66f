// The pipeline's stream side: opening a file, the read thread with its seek
// and queue limits, opening and closing the decoders, the pause toggle, the
// playback thread's event loop and the refresh thread.
#include "player/FFPlay.h"

#include "media/FFmpegLoader.h"
#include "media/MyUtils.h"
#include "media/SDLEntries.h"
#include "media/UnicodeProtocol.h"
#include "probe/AVProbe.h"

#include <climits>
#include <cmath>
#include <cstring>

using namespace std::chrono_literals;

namespace {

constexpr int MaxQueueBytes = 0xF00000;
constexpr int MinAudioQueueBytes = 0x50000;
constexpr int MinFrames = 5;

double Now() {
    return static_cast<double>(ff::avutil.av_gettime()) / 1000000.0;
}

int DecodeInterrupt(void* opaque) {
    return static_cast<TPlaybackState*>(opaque)->AbortRequest.load() ? 1 : 0;
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

// ---- Opening and closing the stream ----

bool TCustomPlayer::StreamOpen(const std::string& fileName, bool startPaused) {
    std::shared_ptr<TPlaybackState> is;
    try {
        is = std::make_shared<TPlaybackState>();
    } catch (const std::bad_alloc&) {
        ReportError("av_mallocz() failed.", true);
        return false;
    }
    is->Player = this;
    is->Display.Attach(FSurface);
    if (startPaused) {
        is->Paused = true;
        is->StartPausedFrames = 1;
        FStepping = false;
    }
    is->FileName = fileName;
    try {
        is->ReadThread = std::thread(&TCustomPlayer::ReadThreadRun, this, is.get());
    } catch (const std::system_error&) {
        ReportError("SDL_CreateThread() failed.", true);
        return false;
    }
    while (is->OpenStatus == 0) {
        ServiceWait();
        SleepMs(10);
    }
    if (is->OpenStatus == 1) {
        if (!is->VideoSt && !DisableDisplay) is->ShowAudio = 1;
        TPlaybackState* state = is.get();
        {
            std::lock_guard lock(FStreamLock);
            FStreamOwner = std::move(is);
        }
        FStream = state;
        FFileOpen = true;
        state->RefreshThread = std::thread(&TCustomPlayer::RefreshThreadRun, this, state);
        return true;
    }
    while (is->OpenStatus == -1) {
        ServiceWait();
        SleepMs(10);
    }
    is->ReadThread.join();
    ResetPlayer();
    return false;
}

void TCustomPlayer::StreamClose() {
    TPlaybackState* is = FStream.load();
    if (!is) return;
    is->AbortRequest = true;
    is->AudioQueue.Abort();
    is->VideoQueue.Abort();
    is->SubtitleQueue.Abort();
    is->Pictures.Abort();
    is->SubPictures.Abort();
    if (is->ReadThread.joinable()) is->ReadThread.join();
    if (is->RefreshThread.joinable()) is->RefreshThread.join();
    if (FSurface) FSurface->SetResizeHandler(nullptr);
    std::shared_ptr<TPlaybackState> owner;
    {
        std::lock_guard frameLock(FFrameLock);
        std::lock_guard streamLock(FStreamLock);
        FStream = nullptr;
        FFileOpen = false;
        owner = std::move(FStreamOwner);
    }
    // Freed here, or by the last host call still holding it.
}

std::shared_ptr<TPlaybackState> TCustomPlayer::HeldStream() {
    std::lock_guard lock(FStreamLock);
    return FStreamOwner;
}

// ---- Read thread ----

namespace {

// How long the sound waits at most for the first picture after the open or a
// seek (a broken video stream must not silence the file).
constexpr std::int64_t AudioHoldLimit = 1500000;

} // namespace

void TCustomPlayer::HoldAudio(TPlaybackState* is) {
    is->HoldShown = false;
    is->Audio.Hold();
    is->AudioHeldUntil = ff::avutil.av_gettime() + AudioHoldLimit;
}

void TCustomPlayer::ReadThreadRun(TPlaybackState* is) {
    int result = -1;
    try {
        if (ReadOpenInput(is) == 0) {
            is->OpenStatus = 1;
            result = ReadLoop(is);
        }
    } catch (const std::exception& e) {
        ReportError(e.what(), false);
    }
    ReadEnd(is, result);
}

int TCustomPlayer::ReadOpenInput(TPlaybackState* is) {
    AVFormatContext* context = ff::avformat.avformat_alloc_context();
    if (!context) {
        FLastErrMsg = MediaErrorText(is->FileName, AVERROR(ENOMEM));
        return -1;
    }
    context->interrupt_callback.callback = DecodeInterrupt;
    context->interrupt_callback.opaque = is;
    AVDictionary* options = nullptr;
    if (FrameWidth > 0 && FrameHeight > 0)
        ff::avutil.av_dict_set(&options, "video_size",
                               FormatText("%dx%d", FrameWidth, FrameHeight).c_str(), 0);
    std::string path = FromLibraryName(is->FileName);
    int error = ff::avformat.avformat_open_input(&context, path.c_str(), nullptr, &options);
    if (options) ff::avutil.av_dict_free(&options);
    if (error < 0) {
        FLastErrMsg = MediaErrorText(path, error);
        return -1;
    }
    is->FormatContext = context;
    {
        std::lock_guard lock(CodecLock());
        error = ff::avformat.avformat_find_stream_info(context, nullptr);
    }
    if (error < 0) {
        FLastErrMsg = FormatText("%s: could not find codec parameters", path.c_str());
        return -1;
    }
    if (context->pb) context->pb->eof_reached = 0;
    std::string format = context->iformat ? context->iformat->name : "";
    is->IsImageSequence = format == "image2";
    is->IsCapture = format == "vfwcap" || format == "vfwcapture";
    is->StartTime = context->start_time != AV_NOPTS_VALUE ? context->start_time : 0;
    is->Duration = context->duration != AV_NOPTS_VALUE ? context->duration : -1;
    ReadChooseStreams(is);
    if (is->AudioStream < 0 && is->VideoStream < 0) {
        FLastErrMsg = FormatText("%s: could not open codecs, no stream to play.", path.c_str());
        return -1;
    }
    return 0;
}

void TCustomPlayer::ReadChooseStreams(TPlaybackState* is) {
    AVFormatContext* context = is->FormatContext;
    for (unsigned i = 0; i < context->nb_streams; ++i)
        context->streams[i]->discard = AVDISCARD_ALL;
    auto best = [context](AVMediaType type, int related) {
        int index = ff::avformat.av_find_best_stream(context, type, -1, related, nullptr, 0);
        if (index >= 0 && type == AVMEDIA_TYPE_VIDEO &&
            (context->streams[index]->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return -1;
        return index;
    };
    int video = DisableVideo ? -1 : best(AVMEDIA_TYPE_VIDEO, -1);
    int audio = DisableAudio ? -1 : best(AVMEDIA_TYPE_AUDIO, video);
    int subtitle = DisableVideo ? -1 : best(AVMEDIA_TYPE_SUBTITLE, video >= 0 ? video : audio);
    if (audio >= 0 && video >= 0) HoldAudio(is);
    if (audio >= 0) ComponentOpen(is, audio);
    int videoResult = video >= 0 ? ComponentOpen(is, video) : -1;
    if (videoResult < 0) is->AudioHeldUntil = 0;
    if (subtitle >= 0 && is->VideoSt) ComponentOpen(is, subtitle);
    if (videoResult < 0 && !DisableDisplay) is->ShowAudio = 2;
}

bool TCustomPlayer::QueuesFull(TPlaybackState* is) {
    int total =
        is->AudioQueue.ByteSize() + is->VideoQueue.ByteSize() + is->SubtitleQueue.ByteSize();
    if (total > MaxQueueBytes) return true;
    bool needAudio = is->AudioSt && is->AudioQueue.ByteSize() <= MinAudioQueueBytes;
    bool needVideo = is->VideoSt && is->VideoQueue.PacketCount() <= MinFrames;
    bool needSubtitle = is->SubtitleSt && is->SubtitleQueue.PacketCount() <= MinFrames;
    return !needAudio && !needVideo && !needSubtitle;
}

int TCustomPlayer::ReadLoop(TPlaybackState* is) {
    AVFormatContext* context = is->FormatContext;
    ff::PacketPtr packet(ff::avcodec.av_packet_alloc());
    if (!packet) return -1;
    while (!is->AbortRequest) {
        if (is->Paused != is->LastPaused) {
            is->LastPaused = is->Paused;
            is->ReadPauseResult = is->LastPaused ? ff::avformat.av_read_pause(context)
                                                 : ff::avformat.av_read_play(context);
        }
        if (is->SeekRequest) ReadSeek(is);
        if (QueuesFull(is)) {
            SleepMs(10);
            continue;
        }
        if (is->EndOfInput) {
            // The video thread tells the waiters once it has drained the
            // decoder: a seek's picture may still be on its way.
            if (is->VideoSt) is->VideoQueue.PutEmpty(is->VideoStream);
            SleepMs(10);
            if (is->AudioQueue.ByteSize() + is->VideoQueue.ByteSize() +
                    is->SubtitleQueue.ByteSize() ==
                0)
                is->Drained = true;
            continue;
        }
        is->Reading = true;
        int result = ff::avformat.av_read_frame(context, packet.get());
        is->Reading = false;
        if (is->AbortRequest) break;
        if (result < 0) {
            if (result == AVERROR(EAGAIN)) {
                SleepMs(10);
                continue;
            }
            bool atEnd =
                result == AVERROR_EOF || (context->pb && ff::avformat.avio_feof(context->pb));
            if (is->VideoSt && !atEnd) FFrameQueued.Set();
            if (!is->IsImageSequence && !is->EndOfFileLogged) {
                is->EndOfFileLogged = true;
                if (atEnd)
                    GetLogger().Log(this, llInfo,
                                    FormatText("reach end of file: %s", is->FileName.c_str()));
                else
                    ReportError(FormatText("error #%d while reading file: %s", result,
                                           is->FileName.c_str()),
                                false);
            }
            if (atEnd) {
                is->EndOfInput = true;
                continue;
            }
            if (context->pb && context->pb->error) break;
            SleepMs(100);
            continue;
        }
        int index = packet->stream_index;
        if (index == is->AudioStream)
            is->AudioQueue.Put(packet.get());
        else if (index == is->VideoStream)
            is->VideoQueue.Put(packet.get());
        else if (index == is->SubtitleStream)
            is->SubtitleQueue.Put(packet.get());
        else
            ff::avcodec.av_packet_unref(packet.get());
    }
    while (!is->AbortRequest)
        SleepMs(100);
    return 0;
}

void TCustomPlayer::ReadSeek(TPlaybackState* is) {
    AVFormatContext* context = is->FormatContext;
    std::int64_t target = is->SeekPosition;
    std::int64_t relative = is->SeekRelative;
    int flags = is->SeekFlags;
    std::int64_t minimum = relative > 0 ? target - relative + 2 : INT64_MIN;
    // A time seek lands on a key frame at or before the target, so that the
    // pictures from there up to the target can be decoded and dropped.
    std::int64_t maximum = relative < 0                 ? target - relative - 2
                           : (flags & AVSEEK_FLAG_BYTE) ? INT64_MAX
                                                        : target;
    int result = ff::avformat.avformat_seek_file(context, -1, minimum, target, maximum, flags);
    if (result < 0) result = ff::avformat.av_seek_frame(context, -1, target, flags);
    if (result < 0)
        result = ff::avformat.av_seek_frame(context, -1, target, flags ^ AVSEEK_FLAG_BACKWARD);
    if (result < 0) {
        ReportError(FormatText("%s: error while seeking", is->FileName.c_str()), false);
        if (is->VideoSt) FFrameQueued.Set();
    } else {
        double exact = (flags & AVSEEK_FLAG_BYTE) ? -1 : static_cast<double>(target) / 1000000.0;
        if (is->VideoSt) {
            // Pictures decoded from here on are from before the seek: none
            // is queued, and none may end the seek (JustSeeked) before the
            // video thread has met the flush marker.
            is->Pictures.MarkFlushPending();
            is->FlushedAfterSeek = false;
        }
        is->JustSeeked = true;
        if (is->AudioSt) {
            is->PendingAudioTarget = exact;
            is->AudioQueue.Flush();
            is->AudioQueue.PutFlush();
        }
        if (is->SubtitleSt) {
            is->SubtitleQueue.Flush();
            is->SubtitleQueue.PutFlush();
        }
        if (is->VideoSt) {
            if (is->AudioSt) HoldAudio(is);
            is->PendingVideoTarget = exact;
            // Set again by the video thread with the first picture after the
            // flush marker, so cleared before it is queued.
            FFrameQueued.Reset();
            is->VideoQueue.Flush();
            is->VideoQueue.PutFlush();
        }
        if (is->SubtitleSt && is->TextSubtitles) {
            // Before the reading goes on, so the first picture after the
            // seek has the text due at it.
            is->TextSubtitles->Flush();
            if (exact >= 0) CatchUpSubtitles(is, exact);
        }
    }
    is->EndOfFileLogged = false;
    is->Drained = false;
    is->EndOfInput = false;
    is->EndReported = false;
    is->SeekRequest = false;
    FSeekDone.Set();
    if (!is->VideoSt) FSeeking = false;
}

void TCustomPlayer::ReadEnd(TPlaybackState* is, int result) {
    if (is->OpenStatus != 1) is->OpenStatus = -1;
    is->AbortRequest = true;
    if (is->AudioStream >= 0) ComponentClose(is, is->AudioStream);
    if (is->VideoStream >= 0) ComponentClose(is, is->VideoStream);
    if (is->SubtitleStream >= 0) ComponentClose(is, is->SubtitleStream);
    CloseSubtitleLookback(is);
    // SDL keeps per-thread data (its error text) for threads it did not
    // start; this thread is done with SDL, so that data goes now.
    ff::sdl.SDL_TLSCleanup();
    if (is->OpenStatus == 1) {
        try {
            FProbe->AttachContext(nullptr);
        } catch (const std::exception&) {
        }
    }
    if (is->FormatContext) ff::avformat.avformat_close_input(&is->FormatContext);
    if (result != 0 && is->OpenStatus == 1) PostQuit();
    if (is->OpenStatus == -1) is->OpenStatus = -2;
}

// ---- Decoders ----

int TCustomPlayer::ComponentOpen(TPlaybackState* is, int streamIndex) {
    AVFormatContext* context = is->FormatContext;
    if (streamIndex < 0 || streamIndex >= static_cast<int>(context->nb_streams)) return -1;
    AVStream* stream = context->streams[streamIndex];
    const AVCodec* decoder = ff::avcodec.avcodec_find_decoder(stream->codecpar->codec_id);
    ff::CodecContextPtr codec(ff::avcodec.avcodec_alloc_context3(decoder));
    if (!codec || ff::avcodec.avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0) {
        ReportError("avcodec_open() failed.", false);
        return -1;
    }
    codec->pkt_timebase = stream->time_base;
    codec->workaround_bugs = 1;
    codec->error_concealment = 3;
    codec->thread_count = 0; // automatic: one thread cannot decode large pictures in time
    {
        std::lock_guard lock(CodecLock());
        if (!decoder || ff::avcodec.avcodec_open2(codec.get(), decoder, nullptr) < 0) {
            ReportError("avcodec_open() failed.", false);
            return -1;
        }
    }
    if (codec->codec_type == AVMEDIA_TYPE_AUDIO && !OpenAudioDevice(is, codec.get())) {
        std::lock_guard lock(CodecLock());
        codec.reset();
        return -1;
    }
    stream->discard = AVDISCARD_DEFAULT;
    switch (codec->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
        is->VideoStream = streamIndex;
        is->VideoSt = stream;
        is->VideoCodec = std::move(codec);
        is->VideoOpen = true;
        is->Rotation = StreamRotation(stream);
        is->VideoQueue.Start();
        is->VideoQueue.PutFlush();
        is->VideoDone.Reset();
        is->VideoThread = std::thread([this, hold = is->shared_from_this()] {
            VideoThreadRun(hold.get());
            hold->VideoDone.Set();
        });
        break;
    case AVMEDIA_TYPE_AUDIO:
        is->AudioStream = streamIndex;
        is->AudioSt = stream;
        is->AudioCodec = std::move(codec);
        is->AudioDuration = stream->duration != AV_NOPTS_VALUE
                                ? ff::avutil.av_rescale_q(stream->duration, stream->time_base,
                                                          AVRational{1, 1000000})
                                : -1;
        is->AudioBufSize = 0;
        is->AudioBufIndex = 0;
        is->AudioFrame.reset(ff::avutil.av_frame_alloc());
        is->SampleArray.assign(0x20000, 0);
        is->AudioQueue.Start();
        is->AudioQueue.PutFlush();
        ff::sdl.SDL_PauseAudioDevice(is->AudioDevice, 0);
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        is->SubtitleStream = streamIndex;
        is->SubtitleSt = stream;
        if (codec->codec_descriptor && (codec->codec_descriptor->props & AV_CODEC_PROP_TEXT_SUB)) {
            is->TextSubtitles = std::make_unique<TTextSubtitles>();
            if (!is->TextSubtitles->Start(codec->subtitle_header, codec->subtitle_header_size)) {
                ReportError("Cannot start the text subtitle renderer", false);
                is->TextSubtitles.reset();
            }
        }
        is->SubtitleCodec = std::move(codec);
        is->SubtitleQueue.Start();
        is->SubtitleQueue.PutFlush();
        is->SubtitleThread = std::thread(&TCustomPlayer::SubtitleThreadRun, this, is);
        break;
    default:
        break;
    }
    return 0;
}

bool TCustomPlayer::OpenAudioDevice(TPlaybackState* is, AVCodecContext* codec) {
    if (ff::sdl.SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        ReportError(std::string("SDL_OpenAudio() failed: ") + ff::sdl.SDL_GetError(), false);
        return false;
    }
    SDL_AudioSpec wanted{}, obtained{};
    wanted.freq = codec->sample_rate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = static_cast<Uint8>(codec->ch_layout.nb_channels == 1 ? 1 : 2);
    wanted.silence = 0;
    wanted.samples = 1024;
    wanted.callback = &TCustomPlayer::AudioCallback;
    wanted.userdata = is;
    is->AudioDevice = ff::sdl.SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (is->AudioDevice == 0 || codec->sample_rate <= 0) {
        ReportError(std::string("SDL_OpenAudio() failed: ") + ff::sdl.SDL_GetError(), false);
        if (is->AudioDevice) ff::sdl.SDL_CloseAudioDevice(is->AudioDevice);
        is->AudioDevice = 0;
        ff::sdl.SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    is->Audio.SetFormat(obtained.freq, obtained.channels, static_cast<int>(obtained.size));
    return true;
}

void TCustomPlayer::ComponentClose(TPlaybackState* is, int streamIndex) {
    AVStream* stream = is->FormatContext->streams[streamIndex];
    ff::CodecContextPtr codec;
    if (streamIndex == is->VideoStream) {
        is->VideoQueue.Abort();
        is->Pictures.Abort();
        JoinVideoThread(is);
        is->VideoQueue.Flush();
        is->VideoOpen = false;
        codec = std::move(is->VideoCodec);
        is->VideoSt = nullptr;
        is->VideoStream = -1;
    } else if (streamIndex == is->AudioStream) {
        is->AudioQueue.Abort();
        ff::sdl.SDL_CloseAudioDevice(is->AudioDevice);
        ff::sdl.SDL_QuitSubSystem(SDL_INIT_AUDIO);
        is->AudioDevice = 0;
        is->AudioQueue.Flush();
        if (is->AudioConvert) ff::swresample.swr_free(&is->AudioConvert);
        ff::avutil.av_channel_layout_uninit(&is->AudioSourceLayout);
        codec = std::move(is->AudioCodec);
        is->AudioSt = nullptr;
        is->AudioStream = -1;
        is->AudioDuration = -1;
    } else if (streamIndex == is->SubtitleStream) {
        is->SubtitleQueue.Abort();
        is->SubPictures.RequestFlush();
        is->SubPictures.Abort();
        if (is->SubtitleThread.joinable()) is->SubtitleThread.join();
        is->SubtitleQueue.Flush();
        codec = std::move(is->SubtitleCodec);
        is->SubtitleSt = nullptr;
        is->SubtitleStream = -1;
    }
    stream->discard = AVDISCARD_ALL;
    std::lock_guard lock(CodecLock());
    codec.reset();
}

namespace {

// How long a close waits for a hook that does not return.
constexpr auto HookReturnLimit = std::chrono::seconds(2);

} // namespace

// Waits for the video thread's end. A hook of the host that has not returned
// after HookReturnLimit is not waited for: the thread is let go, holding the
// pipeline state it uses (its shared reference) but nothing of the player,
// which may be destroyed before the hook returns. Back from the hook it sees
// VideoAbandoned and ends at once. Keeping the player alive instead would
// make Close and the host's window wait as long as the hook.
void TCustomPlayer::JoinVideoThread(TPlaybackState* is) {
    if (!is->VideoThread.joinable()) return;
    auto deadline = std::chrono::steady_clock::now() + HookReturnLimit;
    while (!is->VideoDone.WaitFor(50ms)) {
        if (std::chrono::steady_clock::now() < deadline) continue;
        std::lock_guard lock(is->VideoExitLock);
        if (!is->VideoInHook) continue; // busy elsewhere: it ends soon
        is->VideoAbandoned = true;
        is->VideoThread.detach();
        GetLogger().Log(this, llWarning, "OnHook does not return: the video thread is left to end");
        return;
    }
    is->VideoThread.join();
}

// ---- Pause and seek ----

namespace {

// Waits up to `ms` for `signal`, serving the main thread meanwhile; sets it
// when the time runs out.
void WaitOrSet(TManualEvent& signal, int ms, bool mainThread) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!signal.WaitFor(mainThread ? 20ms : std::chrono::milliseconds(ms))) {
        if (std::chrono::steady_clock::now() >= deadline) {
            signal.Set();
            return;
        }
        if (mainThread) ProcessPendingMessages();
    }
}

} // namespace

void TCustomPlayer::TogglePause(TPlaybackState* is) {
    if (!is) return;
    bool mainThread = IsMainThread();
    WaitOrSet(FSeekDone, 250, mainThread);
    if (is->Paused) {
        double now = Now();
        // The pictures queued before the pause are timed from the first one
        // shown after it, not taken as late.
        is->Pictures.ResumeSchedule(now + is->VideoCurrentPTSDrift - is->VideoCurrentPTS);
        if (is->ReadPauseResult != AVERROR(ENOSYS))
            is->VideoCurrentPTS = is->VideoCurrentPTSDrift + now;
        is->VideoCurrentPTSDrift = is->VideoCurrentPTS - now;
        is->Paused = false;
    } else {
        if (is->VideoOpen) WaitOrSet(FFrameQueued, 250, mainThread);
        is->Paused = true;
    }
}

void TCustomPlayer::StreamSeek(TPlaybackState* is, int flags, std::int64_t relative,
                               std::int64_t position) {
    if (!is || is->SeekRequest) return;
    FSeeking = true;
    is->PausedAtSeek = is->Paused.load();
    is->SeekPosition = position;
    is->SeekRelative = relative;
    is->SeekFlags = flags & 15;
    FSeekDone.Reset();
    is->SeekRequest = true;
}

// ---- Playback thread ----

void TCustomPlayer::PostQuit() {
    FLoopEvents.Push(TLoopEvent{TLoopEventKind::Quit});
}

void TCustomPlayer::PostReopen() {
    FLoopEvents.Push(TLoopEvent{TLoopEventKind::Reopen});
}

void TCustomPlayer::EventLoop() {
    for (;;) {
        TLoopEvent event;
        bool got = FLoopEvents.Wait(event, 100ms);
        std::lock_guard lock(FPlayerLock);
        TPlaybackState* is = FStream.load();
        if (!is || !FFileOpen) return;
        if (!got) continue;
        switch (event.Kind) {
        case TLoopEventKind::Quit:
            ShutDownPipeline();
            return;
        case TLoopEventKind::Resize:
            ScreenWidth = event.Width;
            ScreenHeight = event.Height;
            MakeSurface(is, true);
            VideoRefresh(is, false);
            break;
        case TLoopEventKind::Expose:
            VideoRefresh(is, false);
            break;
        case TLoopEventKind::Refresh:
            VideoRefresh(is, true);
            is->Refresh = false;
            break;
        case TLoopEventKind::Reopen:
            MakeSurface(is, true);
            VideoRefresh(is, false);
            break;
        }
    }
}

void TCustomPlayer::RefreshThreadRun(TPlaybackState* is) {
    // Decided once: the streams are closed while this thread still runs.
    const int period = is->AudioSt && is->ShowAudio ? 20 : 5;
    while (!is->AbortRequest) {
        if (!is->Refresh.exchange(true)) FLoopEvents.Push(TLoopEvent{TLoopEventKind::Refresh});
        SleepMs(period);
    }
}
