// The transcoding loop: choosing the input, reading and correcting packets,
// decoding and handing frames to the output streams, copying packets, the
// joins of several inputs and the end of the conversion (the reading, the
// decoding threads and the encoding are units of their own).
#include "engine/FFmpegTranscoder.h"

#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};
// An output this much and this share shorter than its sources ended early.
constexpr int64_t kEarlyEndSeconds = 2;
constexpr double kEarlyEndShare = 0.05;

// A muxer may hold back every packet it was given (DV waits for the sound
// of each picture): output files that got packets but not a byte are as
// empty as files that got none.
bool NoByteWritten(const std::vector<std::shared_ptr<TOutputFile>>& files) {
    return !files.empty() && std::all_of(files.begin(), files.end(), [](const auto& file) {
        return file->Target.Replaces() && file->Target.WrittenSize() == 0;
    });
}

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

int64_t ToMicroseconds(int64_t value, AVRational base) {
    return ff::avutil.av_rescale_q(value, base, kMicroseconds);
}

// Time of the next unit an output stream will write, in seconds.
double NextOutputTime(const TOutputStream& ost) {
    if (ost.EncodingNeeded && ost.Encoder && ost.MediaType != AVMEDIA_TYPE_SUBTITLE)
        return static_cast<double>(ost.SyncOpts) * av_q2d(ost.Encoder->time_base);
    return ost.Writing.OutTime;
}

// Where an output stream ends once what waits in its FIFO is encoded.
double EndOfWaiting(const TOutputStream& ost) {
    double time = NextOutputTime(ost);
    if (ost.Audio.Fifo && ost.Encoder->sample_rate > 0)
        time += static_cast<double>(ff::avutil.av_audio_fifo_size(ost.Audio.Fifo.get())) /
                ost.Encoder->sample_rate;
    return time;
}

} // namespace

bool TTranscoder::Interrupted() const {
    return FEngine.FBreakRequested;
}

// ---- the loop ----

void TTranscoder::Loop() {
    StartReadStages();
    StartDecodingStages();
    StartPictureStage();
    FProgress.Start(ff::avutil.av_gettime());
    RunLoop();
    FReading.Stop();
}

void TTranscoder::RunLoop() {
    for (;;) {
        FEngine.WaitWhilePaused();
        if (Interrupted()) break;
        bool limitReached = false;
        const int file = ChooseInput(limitReached);
        if (limitReached) {
            FEndedByLimit = true;
            break;
        }
        if (file < 0) {
            if (FJoined ||
                std::none_of(FNoPacket.begin(), FNoPacket.end(), [](bool b) { return b; }))
                break;
            std::fill(FNoPacket.begin(), FNoPacket.end(), false);
            ff::avutil.av_usleep(10000);
            continue;
        }
        if (FOptions.LimitFileSize > 0 && !FOutputs.empty() && FOutputs[0]->pb &&
            ff::avformat.avio_seek(FOutputs[0]->pb, 0, SEEK_CUR) > FOptions.LimitFileSize) {
            FEndedByLimit = true;
            break;
        }
        if (ReadPacket(file)) FProgressSender.Maybe(file);
        if (FLoopEnd) break;
    }
}

int TTranscoder::ChooseInput(bool& limitReached) {
    limitReached = false;
    double smallestIn = std::numeric_limits<double>::max();
    double smallestOut = std::numeric_limits<double>::max();
    int chosen = -1;
    for (const TOutputStream& ost : FOutputStreams) {
        if (ost.SourceIndex < 0) continue;
        const TInputStream& ist = FInputStreams[ost.SourceIndex];
        if (FJoined && ist.FileIndex != FSegment) continue;
        if (ost.MediaType >= 0 && ost.MediaType < 4 &&
            ost.FrameNumber >= FOptions.MaxFrames[ost.MediaType]) {
            limitReached = true;
            return -1;
        }
        if (FJoined) continue;
        if (ist.PastRecordingTime || FNoPacket[ist.FileIndex]) continue;
        if (FInputFiles[ist.FileIndex].Eof) continue;
        const double inTime = static_cast<double>(ist.Pts);
        const double outTime = NextOutputTime(ost);
        if (inTime < smallestIn) {
            smallestIn = inTime;
            if (FOptions.InputSync) chosen = ist.FileIndex;
        }
        if (outTime < smallestOut) {
            smallestOut = outTime;
            if (!FOptions.InputSync) chosen = ist.FileIndex;
        }
    }
    if (FJoined) {
        if (FInputFiles[FSegment].Eof || FNoPacket[FSegment]) return -1;
        return FSegment;
    }
    return chosen;
}

// Reads and handles one packet of `fileIndex`; true when a packet was read
// and handled (the progress check follows), false for no data, the end of
// the input or a decoding error.
bool TTranscoder::ReadPacket(int fileIndex) {
    AVFormatContext* context = FEngine.InputContext(fileIndex);
    AVPacket* packet = FPacket.get();
    const int code = FReading.Next(fileIndex, packet);
    if (code == AVERROR(EAGAIN)) {
        FNoPacket[fileIndex] = true;
        return false;
    }
    if (code < 0) {
        EndOfInput(fileIndex);
        return false;
    }
    std::fill(FNoPacket.begin(), FNoPacket.end(), false);
    if (FOptions.DoPktDump || FOptions.DoHexDump)
        ff::avformat.av_pkt_dump_log2(nullptr, AV_LOG_INFO, packet, FOptions.DoHexDump,
                                      context->streams[packet->stream_index]);
    const TInputFileRun& file = FInputFiles[fileIndex];
    if (packet->stream_index >= file.StreamCount ||
        FInputStreams[file.FirstStream + packet->stream_index].Discard) {
        ff::avcodec.av_packet_unref(packet);
        return true;
    }
    TInputStream& ist = FInputStreams[file.FirstStream + packet->stream_index];
    AdjustTimes(ist, packet, fileIndex);
    if (FOptions.RecordingTime != std::numeric_limits<int64_t>::max() &&
        packet->pts != AV_NOPTS_VALUE &&
        ff::avutil.av_compare_ts(packet->pts, ist.Stream->time_base,
                                 FOptions.StartTime + FOptions.RecordingTime, kMicroseconds) >= 0) {
        ist.PastRecordingTime = true;
        ff::avcodec.av_packet_unref(packet);
        return true;
    }
    const bool ok = PacketStep(ist, packet) >= 0;
    ff::avcodec.av_packet_unref(packet);
    if (ok) return true;
    const std::string text =
        FormatText("Error while decoding stream #%d.%d (%s)", ist.FileIndex, ist.StreamIndex,
                   TypeText(ist.Stream->codecpar->codec_type));
    if (FOptions.ExitOnError) throw FFmpegException(text);
    if (FOptions.Verbose >= 0) Log(llVerbose, text);
    return false;
}

void TTranscoder::AdjustTimes(TInputStream& ist, AVPacket* packet, int fileIndex) {
    TInputFileSlot& slot = FEngine.FInputFiles[fileIndex];
    const AVRational base = ist.Stream->time_base;
    const int64_t offset = ff::avutil.av_rescale_q(slot.TsOffset, kMicroseconds, base);
    if (packet->dts != AV_NOPTS_VALUE) packet->dts += offset;
    if (packet->pts != AV_NOPTS_VALUE) packet->pts += offset;
    const double scale = ist.StreamIndex < MAX_STREAMS ? slot.TsScale[ist.StreamIndex] : 0.0;
    if (scale != 0.0) {
        if (packet->dts != AV_NOPTS_VALUE) packet->dts = RoundHalfEvenInt(packet->dts * scale);
        if (packet->pts != AV_NOPTS_VALUE) packet->pts = RoundHalfEvenInt(packet->pts * scale);
    }
    if (packet->dts == AV_NOPTS_VALUE || ist.NextPts == AV_NOPTS_VALUE || FOptions.CopyTs) return;
    const int64_t dts = ToMicroseconds(packet->dts, base);
    const int64_t delta = dts - ist.NextPts;
    const int64_t threshold = static_cast<int64_t>(FOptions.DtsDeltaThreshold * AV_TIME_BASE);
    // A format that may restart its clock folds every step back into the
    // offset; in any other a jump beyond the threshold is damage (a flipped
    // bit of a time stamp), which would otherwise be filled with copies of
    // pictures up to the jumped time.
    if (FEngine.InputContext(fileIndex)->iformat->flags & AVFMT_TS_DISCONT) {
        if (std::llabs(delta) <= threshold && dts + 1 >= ist.Pts) return;
        if (FOptions.Verbose > 2)
            Log(llVerbose, FormatText("timestamp discontinuity %lld, new offset= %lld",
                                      static_cast<long long>(delta),
                                      static_cast<long long>(slot.TsOffset - delta)));
    } else {
        if (!IsDamagedJump(ist, dts, threshold)) return;
        Log(llWarning,
            FormatText("Time stamps of stream #%d.%d jump by %.3f s, taken as a "
                       "discontinuity",
                       ist.FileIndex, ist.StreamIndex, static_cast<double>(delta) / AV_TIME_BASE));
    }
    slot.TsOffset -= delta;
    const int64_t shift = ff::avutil.av_rescale_q(delta, kMicroseconds, base);
    packet->dts -= shift;
    if (packet->pts != AV_NOPTS_VALUE) packet->pts -= shift;
}

// Whether a sound or picture time stamp `dts` of a format without clock
// restarts is damage: back beyond `threshold` from where its stream was, or
// ahead beyond it of every sound and picture stream of its file (a stream
// that only paused, a sparse one, is not ahead of the others).
bool TTranscoder::IsDamagedJump(const TInputStream& ist, int64_t dts, int64_t threshold) const {
    const auto type = ist.Stream->codecpar->codec_type;
    if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) return false;
    if (dts < ist.NextPts - threshold) return true;
    const TInputFileRun& file = FInputFiles[ist.FileIndex];
    int64_t reached = ist.NextPts;
    for (int i = file.FirstStream; i < file.FirstStream + file.StreamCount; ++i) {
        const TInputStream& other = FInputStreams[i];
        const auto kind = other.Stream->codecpar->codec_type;
        if ((kind == AVMEDIA_TYPE_VIDEO || kind == AVMEDIA_TYPE_AUDIO) && !other.Discard &&
            other.NextPts != AV_NOPTS_VALUE)
            reached = std::max(reached, other.NextPts);
    }
    return dts > reached + threshold;
}

// ---- the packet step ----

int TTranscoder::PacketStep(TInputStream& ist, AVPacket* packet) {
    const AVRational base = ist.Stream->time_base;
    if (ist.NextPts == AV_NOPTS_VALUE) ist.NextPts = ist.Pts;
    if (packet && packet->dts != AV_NOPTS_VALUE)
        ist.Pts = ist.NextPts = ToMicroseconds(packet->dts, base);
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
        if (ost.Copy && ost.SourceIndex == index) CopyPacket(ost, ist, packet);
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
        WorkOnPicture(ist, frame);
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

// ---- stream copy ----

void TTranscoder::CopyPacket(TOutputStream& ost, TInputStream& ist, const AVPacket* packet) {
    if (ost.FrameNumber == 0 && !(packet->flags & AV_PKT_FLAG_KEY) &&
        !FOptions.CopyInitialNonkeyframes)
        return;
    if (ost.MediaType == AVMEDIA_TYPE_VIDEO) {
        FWriter.CountVideo(packet->size);
        ++ost.SyncOpts;
    } else if (ost.MediaType == AVMEDIA_TYPE_AUDIO) {
        FWriter.CountAudio(packet->size);
    }
    AVPacket* copy = FCopyPacket.get();
    if (ff::avcodec.av_packet_ref(copy, packet) < 0) throw FFmpegException("av_mallocz fail");
    const AVRational base = ist.Stream->time_base;
    const int64_t start = ff::avutil.av_rescale_q(FOptions.StartTime, kMicroseconds, base);
    if (copy->pts != AV_NOPTS_VALUE) copy->pts -= start;
    if (copy->dts == AV_NOPTS_VALUE)
        copy->dts = ff::avutil.av_rescale_q(ist.Pts, kMicroseconds, base);
    copy->dts -= start;
    if (ist.Stream->disposition & AV_DISPOSITION_ATTACHED_PIC) // a still for the whole length
        copy->pts = copy->dts = 0;
    ost.Writing.PacketTimeBase = base;
    FWriter.Write(ost, copy);
    ++ost.FrameNumber;
}

// ---- ends of inputs ----

void TTranscoder::EndOfInput(int fileIndex) {
    FInputFiles[fileIndex].Eof = true;
    if (!FJoined) {
        if (FOptions.OptShortest) FLoopEnd = FEndedByLimit = true;
        return;
    }
    if (fileIndex == FSegment) NextSegment(fileIndex);
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
    FSegment = fileIndex + 1;
    for (TOutputStream& ost : FOutputStreams) {
        ost.SourceIndex = FSetup.FindSource(FSegment, ost.MediaType);
        ost.SyncIndex = ost.SourceIndex;
    }
}

void TTranscoder::DrainDecoder(TInputStream& ist) {
    if (Interrupted()) TFrameDecoding::End(ist); // what it decoded past the stop is dropped
    PacketStep(ist, nullptr);
    FinishPictures();
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
            ost.SyncOpts < target ? FitPicture(ost, ist, ost.Video.Cover.get()) : nullptr;
        while (final && ost.SyncOpts < target && ost.FrameNumber < FOptions.MaxFrames[0] &&
               !Interrupted()) {
            FEngine.WaitWhilePaused();
            EncodeVideo(ost, ist, final);
        }
        ost.Video.Cover.reset();
    }
}

void TTranscoder::FinishConversion() {
    for (TInputStream& ist : FInputStreams)
        if (ist.DecodingNeeded && !ist.Drained) DrainDecoder(ist);
    HoldCoverPictures();
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
    FProgressSender.Report(true, -1);
    CloseCodecs();
    if (!FEngine.FBreakRequested && !FEndedByLimit) NoteEarlyEnd();
    FEngine.FFinished = !FEngine.FBreakRequested;
}

// How long the output should last when every source is read to its end, in
// microseconds: the mapped streams' own lengths where they all tell (the
// container's length counts its longest stream, mapped or not), else the
// container's; after the start point and within the recording time. 0 when
// unknown, or only guessed from the bit rate.
int64_t TTranscoder::ExpectedLength() const {
    for (int i = 0; i < FEngine.InputFileCount(); ++i)
        if (FEngine.InputContext(i)->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE)
            return 0;
    int64_t mapped = 0;
    for (const TOutputStream& ost : FOutputStreams) {
        if (FJoined || ost.SourceIndex < 0) continue;
        const TInputStream& ist = FInputStreams[ost.SourceIndex];
        const AVStream* stream = ist.Stream;
        if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) continue;
        if (stream->duration == AV_NOPTS_VALUE || stream->duration <= 0) {
            mapped = 0;
            break;
        }
        int64_t end = ToMicroseconds(stream->duration, stream->time_base);
        const int64_t start = FEngine.InputContext(ist.FileIndex)->start_time;
        if (stream->start_time != AV_NOPTS_VALUE && start != AV_NOPTS_VALUE)
            end += ToMicroseconds(stream->start_time, stream->time_base) - start;
        mapped = std::max(mapped, end - FEngine.InputFile(ist.FileIndex).SoughtTime);
    }
    const int64_t sought = FEngine.InputFileCount() > 0 ? FEngine.InputFile(0).SoughtTime : 0;
    int64_t length = (mapped > 0 ? mapped : FSourceDuration - sought) - FOptions.StartTime;
    if (FOptions.RecordingTime != std::numeric_limits<int64_t>::max())
        length = std::min(length, FOptions.RecordingTime);
    return std::max<int64_t>(length, 0);
}

// A conversion that ran to the end of its sources but wrote well short of
// their length (more than kEarlyEndSeconds and kEarlyEndShare of it) says
// so: the source was cut while it converted, or is shorter than its header
// claims.
void TTranscoder::NoteEarlyEnd() {
    const int64_t length = ExpectedLength();
    if (length <= 0) return;
    double reached = 0.0;
    for (const TOutputStream& ost : FOutputStreams)
        reached = std::max(reached, ost.Writing.OutTime);
    const auto written = static_cast<int64_t>(reached * AV_TIME_BASE);
    const int64_t missing = length - written;
    if (missing <= kEarlyEndSeconds * AV_TIME_BASE ||
        static_cast<double>(missing) <= kEarlyEndShare * static_cast<double>(length))
        return;
    const std::string text =
        FormatText("The source ended at %s of its %s: the output is shorter than the source",
                   DurationToText(written).c_str(), DurationToText(length).c_str());
    Log(llWarning, text);
    std::lock_guard lock(FEngine.FRunLock);
    FEngine.FEndedEarly = text;
    FEngine.FReachedPercent = static_cast<int>(std::clamp<int64_t>(written * 100 / length, 0, 99));
}
