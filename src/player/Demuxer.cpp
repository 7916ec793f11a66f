#include "player/Demuxer.h"

#include "media/AVCodecEntries.h"
#include "media/AVFormatEntries.h"
#include "media/AVUtilEntries.h"
#include "media/FFUtils.h"
#include "media/FFmpegLoader.h"
#include "media/MyUtils.h"
#include "media/LiteralNames.h"
#include "media/NestedOpens.h"
#include "media/UnicodeProtocol.h"

#include <chrono>
#include <climits>
#include <thread>
#include <utility>

namespace {

constexpr int MaxQueueBytes = 0xF00000;
constexpr int MinAudioQueueBytes = 0x50000;
constexpr int MinFrames = 5;

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

TDemuxer::TDemuxer(const std::atomic<bool>& abort, const std::atomic<bool>& paused)
    : FAbort(abort), FPaused(paused) {}

TDemuxer::~TDemuxer() {
    Close();
}

int TDemuxer::Interrupt(void* opaque) {
    return static_cast<TDemuxer*>(opaque)->FAbort.load() ? 1 : 0;
}

// ---- Opening ----

std::string TDemuxer::Open(const std::string& fileName, const std::string& videoSize) {
    FFileName = fileName;
    AVFormatContext* context = ff::avformat.avformat_alloc_context();
    if (!context) return MediaErrorText(fileName, AVERROR(ENOMEM));
    context->interrupt_callback.callback = &TDemuxer::Interrupt;
    context->interrupt_callback.opaque = this;
    AVDictionary* options = nullptr;
    if (!videoSize.empty()) ff::avutil.av_dict_set(&options, "video_size", videoSize.c_str(), 0);
    const std::string path = FromLibraryName(fileName);
    KeepNestedOpensInFolder(context, path);
    ReadExistingFileAsItself(path, &options);
    TakeRefusedOpen();
    int error = ff::avformat.avformat_open_input(&context, path.c_str(), nullptr, &options);
    if (options) ff::avutil.av_dict_free(&options);
    if (error < 0) return OpenFailureText(path, error);
    FContext = context;
    {
        std::lock_guard lock(CodecLock());
        error = ff::avformat.avformat_find_stream_info(context, nullptr);
    }
    if (error < 0) return FormatText("%s: could not find codec parameters", path.c_str());
    if (context->pb) context->pb->eof_reached = 0;
    const std::string format = context->iformat ? context->iformat->name : "";
    FImageSequence = format == "image2";
    FCapture = format == "vfwcap" || format == "vfwcapture";
    FStartTime = context->start_time != AV_NOPTS_VALUE ? context->start_time : 0;
    FDuration = context->duration != AV_NOPTS_VALUE ? context->duration : -1;
    for (unsigned i = 0; i < context->nb_streams; ++i)
        context->streams[i]->discard = AVDISCARD_ALL;
    return {};
}

TStreamChoice TDemuxer::ChooseStreams(bool noAudio, bool noVideo) const {
    AVFormatContext* context = FContext;
    auto best = [context](AVMediaType type, int related) {
        int index = ff::avformat.av_find_best_stream(context, type, -1, related, nullptr, 0);
        if (index < 0) return -1;
        if (type == AVMEDIA_TYPE_VIDEO &&
            (context->streams[index]->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return -1;
        return index;
    };
    TStreamChoice choice;
    choice.Video = noVideo ? -1 : best(AVMEDIA_TYPE_VIDEO, -1);
    choice.Audio = noAudio ? -1 : best(AVMEDIA_TYPE_AUDIO, choice.Video);
    choice.Subtitle =
        noVideo ? -1 : best(AVMEDIA_TYPE_SUBTITLE, choice.Video >= 0 ? choice.Video : choice.Audio);
    return choice;
}

void TDemuxer::Feed(TFeed kind, int streamIndex, TPacketQueue& queue) {
    Fed(kind) = TFed{streamIndex, &queue};
    if (AVStream* stream = Stream(streamIndex)) stream->discard = AVDISCARD_DEFAULT;
}

AVStream* TDemuxer::Stream(int index) const {
    if (!FContext || index < 0 || index >= static_cast<int>(FContext->nb_streams)) return nullptr;
    return FContext->streams[index];
}

void TDemuxer::Close() {
    for (TFed& fed : FFed)
        fed = TFed{};
    if (FContext) ff::avformat.avformat_close_input(&FContext);
}

// ---- Reading ----

int TDemuxer::Run(IDemuxerEvents& events) {
    ff::PacketPtr packet(ff::avcodec.av_packet_alloc());
    if (!packet) return -1;
    while (!FAbort) {
        FollowPause();
        if (FSeekRequest) DoSeek(events);
        if (QueuesFull()) {
            SleepMs(10);
            continue;
        }
        if (FEndOfInput) {
            WaitAtEnd();
            continue;
        }
        if (!ReadOne(packet.get(), events)) break;
    }
    while (!FAbort)
        SleepMs(100);
    return 0;
}

void TDemuxer::FollowPause() {
    if (FPaused == FLastPaused) return;
    FLastPaused = FPaused;
    FPauseResult =
        FLastPaused ? ff::avformat.av_read_pause(FContext) : ff::avformat.av_read_play(FContext);
}

int TDemuxer::QueuedBytes() {
    int total = 0;
    for (TFed& fed : FFed)
        if (fed.Queue) total += fed.Queue->ByteSize();
    return total;
}

// Full when the queues together hold MaxQueueBytes, or when every fed queue
// holds enough for its decoder.
bool TDemuxer::QueuesFull() {
    if (QueuedBytes() > MaxQueueBytes) return true;
    TPacketQueue* audio = Fed(TFeed::Audio).Queue;
    TPacketQueue* video = Fed(TFeed::Video).Queue;
    TPacketQueue* subtitle = Fed(TFeed::Subtitle).Queue;
    bool needAudio = audio && audio->ByteSize() <= MinAudioQueueBytes;
    bool needVideo = video && video->PacketCount() <= MinFrames;
    bool needSubtitle = subtitle && subtitle->PacketCount() <= MinFrames;
    return !needAudio && !needVideo && !needSubtitle;
}

// At the end of the input the video decoder gets empty packets to drain it
// (it tells the waiters once it has given its last picture: a seek's picture
// may still be on its way), and the input is drained once every queue is
// empty.
void TDemuxer::WaitAtEnd() {
    TFed& video = Fed(TFeed::Video);
    if (video.Queue) video.Queue->PutEmpty(video.Stream);
    SleepMs(10);
    if (QueuedBytes() == 0) FDrained = true;
}

// False when the input failed for good.
bool TDemuxer::ReadOne(AVPacket* packet, IDemuxerEvents& events) {
    FReading = true;
    int result = ff::avformat.av_read_frame(FContext, packet);
    FReading = false;
    if (FAbort) return false;
    if (result >= 0) {
        Route(packet);
        return true;
    }
    if (result == AVERROR(EAGAIN)) {
        SleepMs(10);
        return true;
    }
    bool atEnd = result == AVERROR_EOF || (FContext->pb && ff::avformat.avio_feof(FContext->pb));
    events.ReadStopped(atEnd, result, !std::exchange(FEndLogged, true));
    if (atEnd) {
        FEndOfInput = true;
        return true;
    }
    if (FContext->pb && FContext->pb->error) return false;
    SleepMs(100);
    return true;
}

void TDemuxer::Route(AVPacket* packet) {
    for (TFed& fed : FFed)
        if (fed.Queue && packet->stream_index == fed.Stream) {
            fed.Queue->Put(packet);
            return;
        }
    ff::avcodec.av_packet_unref(packet);
}

// ---- Seeking ----

bool TDemuxer::RequestSeek(int flags, std::int64_t relative, std::int64_t position) {
    if (FSeekRequest) return false;
    FSeekPosition = position;
    FSeekRelative = relative;
    FSeekFlags = flags;
    FSeekRequest = true;
    return true;
}

// The position asked for, else the nearest one either way.
int TDemuxer::SeekInput() {
    const std::int64_t target = FSeekPosition, relative = FSeekRelative;
    const int flags = FSeekFlags;
    std::int64_t minimum = relative > 0 ? target - relative + 2 : INT64_MIN;
    // A time seek lands on a key frame at or before the target, so that the
    // pictures from there up to the target can be decoded and dropped.
    std::int64_t maximum = relative < 0                 ? target - relative - 2
                           : (flags & AVSEEK_FLAG_BYTE) ? INT64_MAX
                                                        : target;
    int result = ff::avformat.avformat_seek_file(FContext, -1, minimum, target, maximum, flags);
    if (result < 0) result = ff::avformat.av_seek_frame(FContext, -1, target, flags);
    if (result < 0)
        result = ff::avformat.av_seek_frame(FContext, -1, target, flags ^ AVSEEK_FLAG_BACKWARD);
    return result;
}

void TDemuxer::FlushFed() {
    for (TFeed kind : {TFeed::Audio, TFeed::Subtitle, TFeed::Video}) {
        TPacketQueue* queue = Fed(kind).Queue;
        if (!queue) continue;
        queue->Flush();
        queue->PutFlush();
    }
}

void TDemuxer::DoSeek(IDemuxerEvents& events) {
    const bool moved = SeekInput() >= 0;
    const double exact =
        (FSeekFlags & AVSEEK_FLAG_BYTE) ? -1 : static_cast<double>(FSeekPosition) / 1000000.0;
    if (moved) {
        events.SeekMoving(exact);
        FlushFed();
    }
    events.SeekLanded(moved, exact);
    FEndLogged = false;
    FDrained = false;
    FEndOfInput = false;
    FSeekRequest = false;
    events.SeekDone();
}
