// The conductor: its start and end, the loop that reads, decodes and hands
// on each packet, the joins of several inputs, the stages' start and stop
// and the end of the conversion. Each step's own work is a unit's (see the
// header).
#include "engine/FFmpegTranscoder.h"

#include "engine/DecoderPictureLayout.h"

#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>

namespace {

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};

const char* TypeText(int type) {
    switch (type) {
    case AVMEDIA_TYPE_VIDEO:
        return "Video";
    case AVMEDIA_TYPE_AUDIO:
        return "Audio";
    case AVMEDIA_TYPE_SUBTITLE:
        return "Subtitle";
    case AVMEDIA_TYPE_DATA:
        return "Data";
    default:
        return "Unknown";
    }
}

// A muxer may hold back every packet it was given (DV waits for the sound
// of each picture): output files that got packets but not a byte are as
// empty as files that got none.
bool NoByteWritten(const std::vector<std::shared_ptr<TOutputFile>>& files) {
    return !files.empty() && std::all_of(files.begin(), files.end(), [](const auto& file) {
        return file->Target.Replaces() && file->Target.WrittenSize() == 0;
    });
}

// Lets go of a read packet's data once it is handled, also on an error.
struct TPacketRelease {
    AVPacket* Packet;
    ~TPacketRelease() { ff::avcodec.av_packet_unref(Packet); }
};

int64_t ToMicroseconds(int64_t value, AVRational base) {
    return ff::avutil.av_rescale_q(value, base, kMicroseconds);
}

// Where an output stream ends once what waits in its FIFO is encoded.
double EndOfWaiting(const TOutputStream& ost) {
    double time = TInputChoice::OutputTime(ost);
    if (ost.Audio.Fifo && ost.Encoder->sample_rate > 0)
        time += static_cast<double>(ff::avutil.av_audio_fifo_size(ost.Audio.Fifo.get())) /
                ost.Encoder->sample_rate;
    return time;
}

} // namespace

TTranscoder::TTranscoder(const TTaskShare& task)
    : FEngine(task), FOptions(ConversionOptionsOf(task.FOptions, task.FOptionContexts)),
      FPictureWork({&task.Task, task.OnHookCallback, task.FFrameHooks, FOptions.UsingVhook},
                   FOptions.DoDeinterlace,
                   [this](int level, const std::string& text) { Log(level, text); }),
      FSound(TSoundOptions{FOptions.StartTime, FOptions.AudioSyncMethod,
                           FOptions.AudioDriftThreshold, FOptions.ExitOnError, FOptions.Verbose},
             [this](TOutputStream& ost, AVFrame* frame) { FEncoding.Send(ost, frame); }),
      FControl{[this] { FEngine.WaitWhilePaused(); }, [this] { return Interrupted(); }},
      FDecoding(TDecodingOptions{FOptions.OptShortest, FOptions.MaxFrames, FOptions.LimitFileSize,
                                 FOptions.Verbose},
                FControl,
                [this](TInputStream& ist, AVFrame* frame, int64_t time) {
                    DistributeFrame(ist, frame, time);
                }),
      // The encoding threads code the pictures as the task's thread would.
      FEncoding(FWriter, FControl,
                {[this](TOutputStream& ost, const AVFrame* picture, int64_t pts, int quality,
                        int counter) { FVideo.Code(ost, picture, pts, quality, counter); },
                 [this](TOutputStream& ost, const TInputStream& ist, AVFrame* picture) {
                     return FVideo.Fit(ost, ist, picture);
                 }},
                FOptions.HasVStatsFileName
                    ? TStreamEncoding::TVideoStats(
                          [this](TOutputStream& ost, int size) { FVideo.WriteStats(ost, size); })
                    : TStreamEncoding::TVideoStats()),
      FVideo(VideoOptionsOf(FOptions),
             {FEncoding,
              FProgress,
              FWriter,
              FInputStreams,
              FSourceDuration,
              FControl,
              {FEngine.FPreviewFlags, FEngine.OnPreview, &FEngine.Task, FEngine.FPreviewer}},
             [this](int level, const std::string& text) { Log(level, text); }),
      FProgressSender(
          FProgress, FWriter, FOutputStreams, FOutputs, FOptions.Verbose, FEngine.ProgressInterval,
          task.OnProgressCallback ? TProgressSender::TSend([this](const TProgressValues& v) {
              FEngine.OnProgressCallback(&FEngine.Task, v.FileIndex, v.FrameNumber, v.Fps,
                                         v.Quality, v.BitRate, v.Size, v.Time,
                                         FEngine.FTotalDuration);
          })
                                  : TProgressSender::TSend()) {}

TTranscoder::~TTranscoder() {
    CloseCodecs();
    for (TOutputStream& ost : FOutputStreams)
        if (ost.Writing.PassLog) std::fclose(ost.Writing.PassLog);
}

void TTranscoder::Log(int level, const std::string& text) const {
    GetLogger().Log(nullptr, static_cast<TLogLevel>(level), text);
}

void TTranscoder::Run() {
    PrepareConversion();
    Loop();
    FinishConversion();
}

void TTranscoder::PrepareConversion() {
    FSetup.Run();
    if (TStreamEncoding::StagesAllowed(FEngine.StagedEncoding, FOptions.LimitFileSize,
                                       FOptions.HasVStatsFileName)) {
        if (!FPictureWork.Changes()) LayDecodedPictures();
        FEncoding.Start(FOutputStreams,
                        FPictureWork.Changes() &&
                            !FPictures.StageAllowed(FEngine.Threaded && DecodeStagesAllowed()));
    }
    FPacket.reset(ff::avcodec.av_packet_alloc());
    if (!FPacket) throw FFmpegException("av_mallocz fail");
    if (FOptions.OptShortest && !FJoined) FShortestEnd = ShortestStreamEnd();
}

// Where the first of the converted pictures and sounds ends, as their
// sources declare their lengths; none when one of them does not tell.
int64_t TTranscoder::ShortestStreamEnd() const {
    int64_t end = kNoStreamEnd;
    for (const TOutputStream& ost : FOutputStreams) {
        if (ost.SourceIndex < 0 ||
            (ost.MediaType != AVMEDIA_TYPE_VIDEO && ost.MediaType != AVMEDIA_TYPE_AUDIO))
            continue;
        const TInputStream& ist = FInputStreams[ost.SourceIndex];
        if (EndlessStream(ist.Stream, FEngine.InputContext(ist.FileIndex))) continue;
        const int64_t streamEnd = DeclaredStreamEnd(ist.Stream);
        if (streamEnd == AV_NOPTS_VALUE) return kNoStreamEnd;
        end = std::min(end, streamEnd + FEngine.InputFile(ist.FileIndex).TsOffset);
    }
    return end;
}

// With the encoders on threads of their own, a copy of each picture made
// on an encoder's thread holds up the whole conversion: the decoders lay
// out their pictures so that the encoders take them as they are. (With one
// thread doing everything the copy costs less than reading the pictures
// where the decoder left them.) Pictures that the picture work changes
// reach the encoders in buffers of its own.
void TTranscoder::LayDecodedPictures() {
    for (std::size_t i = 0; i < FInputStreams.size(); ++i)
        if (FInputStreams[i].DecoderOpen)
            LayPicturesForEncoders(FInputStreams[i].DecoderContext.get(), static_cast<int>(i),
                                   FOutputStreams);
}

void TTranscoder::CloseCodecs() {
    StopStages();
    std::lock_guard<std::mutex> lock(CodecLock());
    for (TOutputStream& ost : FOutputStreams) {
        if (ost.Encoder) ff::avutil.av_freep(&ost.Encoder->stats_in); // two-pass statistics
        if (ost.EncoderOpen) {
            ost.EncoderOpen = false;
            ost.Setup->EncoderContext.reset();
            ost.Encoder = nullptr;
        }
    }
    for (TInputStream& ist : FInputStreams)
        if (ist.DecoderOpen) {
            ist.DecoderOpen = false;
            ist.DecoderContext.reset();
        }
}

bool TTranscoder::Interrupted() const {
    return FEngine.FBreakRequested;
}

// ---- the loop ----

void TTranscoder::Loop() {
    StartReadStages();
    StartDecodingStages();
    FPictures.Start(FEngine.Threaded && DecodeStagesAllowed());
    FProgress.Start(ff::avutil.av_gettime());
    RunLoop();
    FReading.Stop();
}

void TTranscoder::RunLoop() {
    for (;;) {
        FEngine.WaitWhilePaused();
        if (Interrupted()) break;
        bool limitReached = false;
        const int file = FChoice.Next(limitReached);
        if (limitReached) {
            FEndedByLimit = true;
            break;
        }
        if (file < 0) {
            if (!FChoice.RetryLater()) break;
            ff::avutil.av_usleep(10000);
            continue;
        }
        if (FileSizeReached()) {
            FEndedByLimit = true;
            break;
        }
        if (ReadPacket(file)) FProgressSender.Maybe(file);
        if (FLoopEnd) break;
    }
}

bool TTranscoder::FileSizeReached() const {
    return FOptions.LimitFileSize > 0 && !FOutputs.empty() && FOutputs[0]->pb &&
           ff::avformat.avio_seek(FOutputs[0]->pb, 0, SEEK_CUR) > FOptions.LimitFileSize;
}

// Reads and handles one packet of `fileIndex`; true when a packet was read
// and handled (the progress check follows), false for no data, the end of
// the input or a decoding error.
bool TTranscoder::ReadPacket(int fileIndex) {
    AVPacket* packet = FPacket.get();
    const int code = FReading.Next(fileIndex, packet);
    if (code == AVERROR(EAGAIN)) {
        FChoice.NoData(fileIndex);
        return false;
    }
    if (code < 0) {
        EndOfInput(fileIndex);
        return false;
    }
    FChoice.DataCame();
    const TPacketRelease release{packet};
    AVFormatContext* context = FEngine.InputContext(fileIndex);
    if (FOptions.DoPktDump || FOptions.DoHexDump)
        ff::avformat.av_pkt_dump_log2(nullptr, AV_LOG_INFO, packet, FOptions.DoHexDump,
                                      context->streams[packet->stream_index]);
    TInputStream* ist = StreamOf(fileIndex, packet);
    if (!ist) return true;
    FTimes.Adjust(*ist, packet, fileIndex, (context->iformat->flags & AVFMT_TS_DISCONT) != 0);
    if (PastRecordingTime(*ist, packet) || PastShortestEnd(*ist, packet)) return true;
    if (PacketStep(*ist, packet) >= 0) return true;
    DecodingError(*ist);
    return false;
}

// The converted stream a packet of `fileIndex` belongs to, null for one
// that is not converted.
TInputStream* TTranscoder::StreamOf(int fileIndex, const AVPacket* packet) {
    const TInputFileRun& file = FInputFiles[fileIndex];
    if (packet->stream_index >= file.StreamCount) return nullptr;
    TInputStream& ist = FInputStreams[file.FirstStream + packet->stream_index];
    return ist.Discard ? nullptr : &ist;
}

// Whether `packet` lies past the part converted (or past the shortest
// stream's end); its stream is then done.
bool TTranscoder::PastRecordingTime(TInputStream& ist, const AVPacket* packet) {
    if (FOptions.RecordingTime == std::numeric_limits<int64_t>::max() ||
        packet->pts == AV_NOPTS_VALUE ||
        ff::avutil.av_compare_ts(packet->pts, ist.Stream->time_base,
                                 FOptions.StartTime + FOptions.RecordingTime, kMicroseconds) < 0)
        return false;
    ist.PastRecordingTime = true;
    return true;
}

// Whether `packet` is decoded after the shortest stream's end; its stream
// is then done.
bool TTranscoder::PastShortestEnd(TInputStream& ist, const AVPacket* packet) {
    if (!DecodedPastEnd(packet, ist.Stream->time_base, FShortestEnd)) return false;
    ist.PastRecordingTime = true;
    return true;
}

// Ends the conversion where errors must, else logs and goes on.
void TTranscoder::DecodingError(const TInputStream& ist) const {
    const std::string text =
        FormatText("Error while decoding stream #%d.%d (%s)", ist.FileIndex, ist.StreamIndex,
                   TypeText(ist.Stream->codecpar->codec_type));
    if (FOptions.ExitOnError) throw FFmpegException(text);
    if (FOptions.Verbose >= 0) Log(llVerbose, text);
}

// ---- the packet step ----

// The stream's first packet: its time is the reorder delay before zero
// (set up with the stream). A copied stream whose first packets carry only
// the time they are shown (Matroska) counts from that time instead, so
// that the decoding times worked out for them stay below it, at the
// source's start as after a seek.
void TTranscoder::FirstPacketTime(TInputStream& ist, const AVPacket* packet) {
    if (packet && packet->dts == AV_NOPTS_VALUE && packet->pts != AV_NOPTS_VALUE &&
        !ist.DecodingNeeded)
        ist.Pts += ToMicroseconds(packet->pts, ist.Stream->time_base);
    ist.NextPts = ist.Pts;
}

int TTranscoder::PacketStep(TInputStream& ist, AVPacket* packet) {
    const AVRational base = ist.Stream->time_base;
    if (ist.NextPts == AV_NOPTS_VALUE) FirstPacketTime(ist, packet);
    if (packet && packet->dts != AV_NOPTS_VALUE)
        ist.Pts = ist.NextPts = ToMicroseconds(packet->dts, base);
    else if (packet)
        ist.Pts = ist.NextPts; // a packet without times follows the one before it
    if (ist.DecodingNeeded && DecodeAndDistribute(ist, packet) < 0) return -1;
    if (!packet) return 0;
    const AVCodecParameters* par = ist.Stream->codecpar;
    int64_t duration = packet->duration > 0 ? ToMicroseconds(packet->duration, base) : 0;
    if (duration == 0 && par->codec_type == AVMEDIA_TYPE_AUDIO && par->sample_rate > 0)
        duration = static_cast<int64_t>(AV_TIME_BASE) * par->frame_size / par->sample_rate;
    if (duration == 0 && par->codec_type == AVMEDIA_TYPE_VIDEO) {
        const AVRational rate =
            ist.Stream->avg_frame_rate.num ? ist.Stream->avg_frame_rate : ist.Stream->r_frame_rate;
        if (rate.num > 0 && rate.den > 0) duration = AV_TIME_BASE * int64_t(rate.den) / rate.num;
    }
    ist.NextPts = ist.Pts + duration;
    if (FOptions.RateEmu) {
        const int64_t ahead = ist.Pts - (ff::avutil.av_gettime() - ist.Start);
        if (ahead > 1000) ff::avutil.av_usleep(static_cast<unsigned>(ahead / 1000 * 1000));
    }
    const bool cover = (ist.Stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    if (FOptions.StartTime != 0 && ist.Pts < FOptions.StartTime && !cover) return 0;
    const int index = static_cast<int>(&ist - FInputStreams.data());
    for (TOutputStream& ost : FOutputStreams)
        if (ost.Copy && ost.SourceIndex == index) FCopy.Copy(ost, ist, packet);
    return 0;
}

int TTranscoder::DecodeAndDistribute(TInputStream& ist, const AVPacket* packet) {
    AVCodecContext* decoder = ist.DecoderContext.get();
    if (!decoder) return 0;
    if (decoder->codec_type == AVMEDIA_TYPE_SUBTITLE) {
        return packet ? DistributeSubtitle(ist, packet) : 0;
    }
    if (ist.Decoding) return FDecoding.Decode(ist, packet);
    FDecodeFault.Tick();
    int code = ff::avcodec.avcodec_send_packet(decoder, packet);
    if (code == AVERROR(EAGAIN)) { // frames are waiting: take them first
        if (ReceiveFrames(ist, false) < 0) return -1;
        code = ff::avcodec.avcodec_send_packet(decoder, packet);
    }
    const int received = ReceiveFrames(ist, packet == nullptr);
    if (code < 0 && code != AVERROR_EOF) return -1;
    return received < 0 ? -1 : 0;
}

// Takes every frame the decoder has ready; -1 on a decoding error.
int TTranscoder::ReceiveFrames(TInputStream& ist, bool draining) {
    AVCodecContext* decoder = ist.DecoderContext.get();
    AVFrame* frame = ist.Frame.get();
    int count = 0;
    for (;;) {
        const int code = ff::avcodec.avcodec_receive_frame(decoder, frame);
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return 0;
        if (code < 0) return -1;
        if (++count == 2 && !draining) FDecoding.NoteMultipleFrames(ist);
        DistributeFrame(ist, frame, ist.Pts);
        ff::avutil.av_frame_unref(frame);
    }
}

// `packetTime`: the stream's packet time when the frame was decoded.
void TTranscoder::DistributeFrame(TInputStream& ist, AVFrame* frame, int64_t packetTime) {
    const AVRational base = ist.Stream->time_base;
    const int64_t best = frame->best_effort_timestamp;
    if (best != AV_NOPTS_VALUE)
        ist.FramePts = ToMicroseconds(best, base);
    else
        ist.FramePts = ist.FrameNextPts != AV_NOPTS_VALUE ? ist.FrameNextPts : packetTime;
    const int index = static_cast<int>(&ist - FInputStreams.data());
    const bool sought = FEngine.FInputFiles[ist.FileIndex].Sought;
    if (ist.DecoderContext->codec_type == AVMEDIA_TYPE_VIDEO) {
        // A cover picture stands for the whole length, also after a start point.
        if (ist.Stream->disposition & AV_DISPOSITION_ATTACHED_PIC)
            ist.FramePts = std::max(ist.FramePts, FOptions.StartTime);
        int64_t duration = frame->pkt_duration > 0 ? ToMicroseconds(frame->pkt_duration, base) : 0;
        if (duration == 0) {
            const AVRational rate = ist.Stream->avg_frame_rate.num ? ist.Stream->avg_frame_rate
                                                                   : ist.Stream->r_frame_rate;
            if (rate.num > 0 && rate.den > 0)
                duration = AV_TIME_BASE * int64_t(rate.den) / rate.num;
        }
        ist.FrameNextPts = ist.FramePts + duration;
        ist.Quality = frame->quality;
        if (ist.FramePts >= FShortestEnd) return; // decoded only for the ones before it
        FPictures.Work(ist, frame);
        return;
    }
    if (frame->sample_rate > 0)
        ist.FrameNextPts =
            ist.FramePts + int64_t(AV_TIME_BASE) * frame->nb_samples / frame->sample_rate;
    if (FOptions.AudioVolume != 256) TSoundOutput::ApplyVolume(frame, FOptions.AudioVolume);
    if (!FOptions.AudioFilters.empty()) {
        if (!ist.AudioChain) ist.AudioChain = std::make_unique<TAudioChain>();
        ist.AudioChain->SetText(FOptions.AudioFilters);
        frame = ist.AudioChain->Run(frame);
        if (!frame && ist.AudioChain->Failed())
            throw FFmpegException("Cannot filter the audio with \"" + FOptions.AudioFilters + "\"");
        if (!frame) return;
    }
    // After a seek the samples before the start point are cut off.
    int cut = 0;
    if (sought && ist.FramePts < 0 && frame->sample_rate > 0) {
        cut = static_cast<int>(-ist.FramePts * frame->sample_rate / AV_TIME_BASE);
        if (cut >= frame->nb_samples) return;
        ist.FramePts = 0;
    }
    if (ist.FramePts < FOptions.StartTime) return;
    for (TOutputStream& ost : FOutputStreams)
        if (ost.SourceIndex == index && ost.EncodingNeeded) AudioOutput(ost, ist, frame, cut);
}

// -1 on a decoding error, which is reported as the other kinds' are.
int TTranscoder::DistributeSubtitle(TInputStream& ist, const AVPacket* packet) {
    AVSubtitle subtitle{};
    int got = 0;
    const int code = ff::avcodec.avcodec_decode_subtitle2(ist.DecoderContext.get(), &subtitle, &got,
                                                          const_cast<AVPacket*>(packet));
    if (code < 0) return -1;
    if (!got) return 0;
    const int index = static_cast<int>(&ist - FInputStreams.data());
    const int64_t time = packet->pts != AV_NOPTS_VALUE
                             ? ToMicroseconds(packet->pts, ist.Stream->time_base)
                             : AV_NOPTS_VALUE;
    try {
        if (FOptions.StartTime == 0 || ist.Pts >= FOptions.StartTime)
            for (TOutputStream& ost : FOutputStreams)
                if (ost.SourceIndex == index && ost.EncodingNeeded)
                    FSubtitles.Output(ost, subtitle, time);
    } catch (...) {
        ff::avcodec.avsubtitle_free(&subtitle);
        throw;
    }
    ff::avcodec.avsubtitle_free(&subtitle);
    return 0;
}

// ---- ends of inputs ----

void TTranscoder::EndOfInput(int fileIndex) {
    FInputFiles[fileIndex].Eof = true;
    if (!FJoined) {
        // Without the streams' declared ends, the first input to end ends all.
        if (FOptions.OptShortest && FShortestEnd == kNoStreamEnd) FLoopEnd = FEndedByLimit = true;
        return;
    }
    if (fileIndex == FChoice.Segment()) NextSegment(fileIndex);
}

// Join: drains the segment that ended and lets the next input continue
// where it stopped. The encoders run on, so the output stays one stream.
void TTranscoder::NextSegment(int fileIndex) {
    const TInputFileRun& file = FInputFiles[fileIndex];
    for (int i = file.FirstStream; i < file.FirstStream + file.StreamCount; ++i) {
        TInputStream& ist = FInputStreams[i];
        if (!ist.DecodingNeeded || ist.Drained) continue;
        DrainDecoder(ist);
    }
    double end = 0.0;
    for (const TOutputStream& ost : FOutputStreams)
        end = std::max(end, EndOfWaiting(ost));
    if (fileIndex + 1 >= static_cast<int>(FInputFiles.size())) {
        FLoopEnd = true;
        return;
    }
    FEngine.FInputFiles[fileIndex + 1].TsOffset += std::llround(end * AV_TIME_BASE);
    FChoice.NextSegment();
    for (TOutputStream& ost : FOutputStreams) {
        ost.SourceIndex = FSetup.FindSource(FChoice.Segment(), ost.MediaType);
        ost.SyncIndex = ost.SourceIndex;
    }
}

void TTranscoder::DrainDecoder(TInputStream& ist) {
    if (Interrupted()) TFrameDecoding::End(ist); // what it decoded past the stop is dropped
    PacketStep(ist, nullptr);
    FPictures.Finish();
    TFrameDecoding::End(ist);
    if (ist.DecoderContext) ff::avcodec.avcodec_flush_buffers(ist.DecoderContext.get());
    ist.Drained = true;
}

void TTranscoder::FlushEncoder(TOutputStream& ost) {
    if (!ost.EncodingNeeded || !ost.EncoderOpen) return;
    if (ost.MediaType == AVMEDIA_TYPE_AUDIO) {
        FSound.Flush(ost);
    } else if (ost.MediaType != AVMEDIA_TYPE_VIDEO) {
        return;
    }
    TStreamEncoding::Flush(ost);
    if (ff::avcodec.avcodec_send_frame(ost.Encoder, nullptr) < 0) return;
    FEncoding.Receive(ost);
}

void TTranscoder::FlushEncoders() {
    for (TOutputStream& ost : FOutputStreams)
        FlushEncoder(ost);
}

// A constant-rate stream's last picture lasts as long as its source says;
// not in a join or with -shortest, where the other streams decide the end.
void TTranscoder::RepeatLastPictures() {
    for (TOutputStream& ost : FOutputStreams) {
        if (!ost.Video.Last) continue;
        const TInputStream* ist = ost.SourceIndex >= 0 ? &FInputStreams[ost.SourceIndex] : nullptr;
        if (FJoined || FOptions.OptShortest || !ist || ist->FrameNextPts == AV_NOPTS_VALUE) {
            ost.Video.Last.reset();
            continue;
        }
        TStreamEncoding::Flush(ost); // the encoder is the task's thread's again
        int64_t end = ist->FrameNextPts;
        if (FOptions.RecordingTime != std::numeric_limits<int64_t>::max())
            end = std::min(end, FOptions.StartTime + FOptions.RecordingTime);
        FVideo.RepeatLastPicture(ost, *ist, end, FPictureCounter);
    }
}

// A cover picture (a music file's) is shown for as long as the rest of its
// output file lasts; it was decoded once, at the start.
void TTranscoder::HoldCoverPictures() {
    for (TOutputStream& ost : FOutputStreams) {
        if (!ost.Video.Cover || !ost.EncoderOpen) continue;
        TStreamEncoding::Flush(ost); // the encoder is the task's thread's again
        double end = 0.0;
        for (const TOutputStream& other : FOutputStreams)
            if (&other != &ost && other.Output == ost.Output)
                end = std::max(end, EndOfWaiting(other));
        const int64_t target = std::llround(end / av_q2d(ost.Encoder->time_base));
        // A later joined segment may have no picture stream of its own.
        const int source = ost.Video.CoverSource >= 0 ? ost.Video.CoverSource : ost.SourceIndex;
        if (source < 0) {
            ost.Video.Cover.reset();
            continue;
        }
        TInputStream& ist = FInputStreams[source];
        AVFrame* final =
            ost.SyncOpts < target ? FVideo.Fit(ost, ist, ost.Video.Cover.get()) : nullptr;
        while (final && ost.SyncOpts < target && ost.FrameNumber < FOptions.MaxFrames[0] &&
               !Interrupted()) {
            FEngine.WaitWhilePaused();
            FVideo.Encode(ost, ist, final, FPictureCounter);
        }
        ost.Video.Cover.reset();
    }
}

// DV carries sound in every picture's frame: a sound that ended before the
// pictures (a source cut short, a shorter track) goes on as silence. With
// "shortest" the output ends with the sound: the few pictures past its end
// get their silence, but a sound that brought nothing leaves the output
// empty.
void TTranscoder::SoundUnderEveryPicture() {
    for (TOutputStream& ost : FOutputStreams) {
        if (ost.MediaType != AVMEDIA_TYPE_AUDIO || !ost.EncodingNeeded ||
            std::strcmp(ost.Output->oformat->name, "dv") != 0)
            continue;
        if (FOptions.OptShortest && EndOfWaiting(ost) <= 0.0) continue;
        double end = 0.0;
        for (const TOutputStream& other : FOutputStreams)
            if (other.Output == ost.Output && other.MediaType == AVMEDIA_TYPE_VIDEO)
                end = std::max(end, TInputChoice::OutputTime(other));
        FSound.PadWithSilence(ost, end);
    }
}

void TTranscoder::FinishConversion() {
    for (TInputStream& ist : FInputStreams)
        if (ist.DecodingNeeded && !ist.Drained) DrainDecoder(ist);
    RepeatLastPictures();
    HoldCoverPictures();
    SoundUnderEveryPicture();
    FlushEncoders();
    for (TOutputStream& ost : FOutputStreams)
        FWriter.Drain(ost);
    for (const auto& file : FEngine.FOutputFiles)
        file->NameTheWrittenFile();
    for (AVFormatContext* output : FOutputs) {
        const int code = ff::avformat.av_write_trailer(output);
        if (code < 0) throw FFmpegException(MediaErrorText("av_write_trailer()", code));
    }
    FHeadersWritten = false;
    // A start point past the end, say, or a stop before the first packet: a
    // file with nothing in it is no result (and is not left behind). Only a
    // conversion that ran to its end without any packet is a failure.
    if (FWriter.PacketsWritten() == 0 || NoByteWritten(FEngine.FOutputFiles)) {
        for (const auto& file : FEngine.FOutputFiles)
            file->Discard = true;
        if (!FEngine.FBreakRequested)
            throw FFmpegException("Output file is empty, nothing was encoded");
    }
    RefusePictureCopiesWithoutKey();
    FProgressSender.Report(true, -1);
    CloseCodecs();
    if (!FEngine.FBreakRequested && !FEndedByLimit) NoteEarlyEnd();
    FEngine.FFinished = !FEngine.FBreakRequested;
}

// A copied picture stream that never met a key packet (a trim that starts
// after the source's last one, say) wrote nothing: an output with sound and
// no pictures is no result.
void TTranscoder::RefusePictureCopiesWithoutKey() {
    if (FEngine.FBreakRequested) return;
    for (const TOutputStream& ost : FOutputStreams) {
        if (!ost.Copy || ost.MediaType != AVMEDIA_TYPE_VIDEO || ost.FrameNumber > 0 ||
            ost.Writing.WaitedForKey == 0)
            continue;
        for (const auto& file : FEngine.FOutputFiles)
            file->Discard = true;
        throw FFmpegException(FormatText(
            "Output stream #%d.%d has no picture: the part copied holds no key picture of its "
            "source to start from (convert it instead)",
            ost.FileIndex, ost.StreamIndex));
    }
}

// A conversion that ran to the end of its sources but wrote well short of
// their length says so.
void TTranscoder::NoteEarlyEnd() {
    std::vector<TLengthCheck::TInputFile> inputs;
    for (int i = 0; i < FEngine.InputFileCount(); ++i)
        inputs.push_back({FEngine.InputContext(i), FEngine.InputFile(i).SoughtTime});
    const TLengthCheck::TShortfall shortfall = FLength.Shortfall(FLength.Expected(inputs));
    if (shortfall.Text.empty()) return;
    Log(llWarning, shortfall.Text);
    std::lock_guard lock(FEngine.FRunLock);
    FEngine.FEndedEarly = shortfall.Text;
    FEngine.FReachedPercent = shortfall.Percent;
}

// ---- the stages ----

void TTranscoder::StartReadStages() {
    std::vector<AVFormatContext*> inputs;
    for (int i = 0; i < FEngine.InputFileCount(); ++i)
        inputs.push_back(FEngine.InputContext(i));
    FReading.Start(std::move(inputs),
                   TInputReading::AheadAllowed(FEngine.StagedEncoding,
                                               FOptions.DoPktDump || FOptions.DoHexDump));
}

bool TTranscoder::DecodeStagesAllowed() const {
    return FDecoding.Allowed(FEngine.StagedEncoding, FInputFiles.size(), FOutputStreams);
}

void TTranscoder::StartDecodingStages() {
    if (DecodeStagesAllowed()) FDecoding.Start(FInputStreams);
}

// Ends the threads of every stage: the inputs and codecs are the task's
// thread's again.
void TTranscoder::StopStages() {
    FReading.Stop();
    FPictures.Stop();
    for (TInputStream& ist : FInputStreams)
        TFrameDecoding::End(ist);
    FEncoding.Stop();
}

void TTranscoder::AudioOutput(TOutputStream& ost, TInputStream& ist, AVFrame* samples, int cut) {
    const TInputStream& sync = FInputStreams[ost.SyncIndex >= 0 ? ost.SyncIndex : ost.SourceIndex];
    FSound.Output(ost, ist, sync.FramePts, samples, cut);
}
