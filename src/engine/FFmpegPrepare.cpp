// The start of a conversion: the transcoder's own start and end, and the
// set-up's stream tables, mapping and codec parameters for copying or
// encoding (ConversionSetup.h names the set-up's other files).
#include "engine/PassTwoRate.h"
#include "engine/ConversionSetup.h"
#include "engine/FFmpegTranscoder.h"

#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"

#include <algorithm>

namespace ff {
void FilterGraphDeleter::operator()(AVFilterGraph* p) const {
    if (p && avfilter.avfilter_graph_free) avfilter.avfilter_graph_free(&p);
}
void SwrDeleter::operator()(SwrContext* p) const {
    if (p && swresample.swr_free) swresample.swr_free(&p);
}
void AudioFifoDeleter::operator()(AVAudioFifo* p) const {
    if (p && avutil.av_audio_fifo_free) avutil.av_audio_fifo_free(p);
}
void BsfDeleter::operator()(AVBSFContext* p) const {
    if (p && avcodec.av_bsf_free) avcodec.av_bsf_free(&p);
}
} // namespace ff

// Made once by whichever worker comes first (a static's start is thread-safe);
// filled lazily per entry, two workers would write one string at once.
const char* TConversionSetup::TypeName(int type) {
    static const std::string names[5] = {MediaTypeName(0), MediaTypeName(1), MediaTypeName(2),
                                         MediaTypeName(3), MediaTypeName(4)};
    if (type < 0 || type > 4) return "unknown";
    return names[type].c_str();
}

TTranscoder::TTranscoder(const TTaskShare& task)
    : FEngine(task), FOptions(ConversionOptionsOf(task.FOptions, task.FOptionContexts)),
      FPictureWork({&task.Task, task.OnHookCallback, task.FFrameHooks, FOptions.UsingVhook},
                   FOptions.DoDeinterlace,
                   [this](int level, const std::string& text) { Log(level, text); }) {}

TTranscoder::~TTranscoder() {
    CloseCodecs();
    for (TOutputStream& ost : FOutputStreams)
        if (ost.Writing.PassLog) std::fclose(ost.Writing.PassLog);
    if (FVStats) std::fclose(FVStats);
}

void TTranscoder::Log(int level, const std::string& text) const {
    GetLogger().Log(nullptr, static_cast<TLogLevel>(level), text);
}

void TTranscoder::Run() {
    PrepareConversion();
    Loop();
    FinishConversion();
}

// ---- the set-up ----

void TTranscoder::PrepareConversion() {
    FSetup.Run();
    StartEncodingStages();
    FPacket.reset(ff::avcodec.av_packet_alloc());
    FCopyPacket.reset(ff::avcodec.av_packet_alloc());
    if (!FPacket || !FCopyPacket) throw FFmpegException("av_mallocz fail");
}

TConversionSetup::TConversionSetup(const TTaskShare& engine, const TConversionOptions& options,
                                   TPacketWriter& writer, const TConversionTables& tables)
    : FEngine(engine), FOptions(options), FWriter(writer), FInputFiles(tables.InputFiles),
      FInputStreams(tables.InputStreams), FOutputStreams(tables.OutputStreams),
      FOutputs(tables.Outputs), FNoPacket(tables.NoPacket), FJoined(tables.Joined),
      FSourceDuration(tables.SourceDuration), FHeadersWritten(tables.HeadersWritten),
      FPictureWork(tables.PictureWork) {}

void TConversionSetup::Log(int level, const std::string& text) {
    GetLogger().Log(nullptr, static_cast<TLogLevel>(level), text);
}

void TConversionSetup::Run() {
    FJoined = FEngine.FJoined;
    BuildInputTables();
    CheckOutputsAndMaps();
    MapStreams();
    SetStreamParameters();
    OpenEncoders(false);
    OpenDecoders();
    OpenEncoders(true); // subtitle encoders take the decoder's header
    SetStartTimes();
    CopyMetadataMaps();
    CopyChapters();
    for (TOutputStream& ost : FOutputStreams)
        TPacketWriter::OpenFilters(ost);
    WriteHeaders();
    LogStreamMapping();
}

void TConversionSetup::BuildInputTables() {
    for (int i = 0; i < FEngine.InputFileCount(); ++i) {
        AVFormatContext* context = FEngine.InputContext(i);
        TInputFileRun file;
        file.FirstStream = static_cast<int>(FInputStreams.size());
        file.StreamCount = static_cast<int>(context->nb_streams);
        FInputFiles.push_back(file);
        for (unsigned k = 0; k < context->nb_streams; ++k) {
            TInputStream ist;
            ist.FileIndex = i;
            ist.StreamIndex = static_cast<int>(k);
            ist.Stream = context->streams[k];
            const auto& decoders = FEngine.InputFile(i).Decoders;
            ist.Decoder = k < decoders.size() ? decoders[k] : nullptr;
            if (ist.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                !(ist.Stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
                ist.Rotation = StreamRotation(ist.Stream);
            if (FOptions.RateEmu) ist.Start = ff::avutil.av_gettime();
            FPictureWork.AddStream(static_cast<int>(FInputStreams.size()), i, static_cast<int>(k),
                                   ist.Rotation);
            FInputStreams.push_back(std::move(ist));
        }
    }
    FNoPacket.assign(FInputFiles.size(), false);
    FSourceDuration = SourceDuration();
    for (AVFormatContext* context = nullptr; const auto& file : FEngine.FOutputFiles)
        if (file->Context != context) {
            context = file->Context;
            if (std::find(FOutputs.begin(), FOutputs.end(), context) == FOutputs.end())
                FOutputs.push_back(context);
        }
}

// How long the inputs last together: joined one after the other, else side
// by side. 0 when one of them does not tell, or only guesses from its bit
// rate (a guess can be short of the real length).
int64_t TConversionSetup::SourceDuration() const {
    int64_t total = 0;
    for (int i = 0; i < FEngine.InputFileCount(); ++i) {
        const AVFormatContext* context = FEngine.InputContext(i);
        const int64_t duration = context->duration;
        if (duration == AV_NOPTS_VALUE || duration <= 0 ||
            context->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE)
            return 0;
        total = FJoined ? total + duration : std::max(total, duration);
    }
    return total;
}

void TConversionSetup::CheckOutputsAndMaps() {
    for (std::size_t i = 0; i < FOutputs.size(); ++i)
        if (FOutputs[i]->nb_streams == 0) {
            ff::avformat.av_dump_format(FOutputs[i], static_cast<int>(i), FOutputs[i]->url, 1);
            throw FFmpegException(
                FormatText("Output file #%d does not contain any stream", static_cast<int>(i)));
        }
    const auto& maps = FOptions.StreamMaps;
    if (maps.empty()) return;
    if (maps.size() != FEngine.FOutputStreams.size())
        throw FFmpegException("Number of stream maps must match number of output streams");
    const int files = static_cast<int>(FInputFiles.size());
    for (const TStreamMap& map : maps) {
        if (map.FileIndex < 0 || map.FileIndex >= files || map.StreamIndex < 0 ||
            map.StreamIndex >= FInputFiles[map.FileIndex].StreamCount)
            throw FFmpegException(
                FormatText("Could not find input stream #%d.%d", map.FileIndex, map.StreamIndex));
        if (map.SyncFileIndex < 0 || map.SyncFileIndex >= files || map.SyncStreamIndex < 0 ||
            map.SyncStreamIndex >= FInputFiles[map.SyncFileIndex].StreamCount)
            throw FFmpegException(FormatText("Could not find sync stream #%d.%d", map.SyncFileIndex,
                                             map.SyncStreamIndex));
    }
}

// The input stream of `mediaType` an output stream of file `file` reads
// from without a map (-1: none); in join mode only input `file` qualifies.
int TConversionSetup::FindSource(int file, int mediaType) const {
    // The libraries' own choice of a file's best stream stands for the one
    // with the most frames seen while probing.
    int best = -1;
    int bestScore = -1;
    for (int i = 0; i < static_cast<int>(FInputStreams.size()); ++i) {
        const TInputStream& ist = FInputStreams[i];
        if (ist.Stream->codecpar->codec_type != mediaType) continue;
        if (ist.Stream->discard == AVDISCARD_ALL) continue;
        if (FJoined && ist.FileIndex != file) continue;
        const int chosen = ff::avformat.av_find_best_stream(FEngine.InputContext(ist.FileIndex),
                                                            static_cast<AVMediaType>(mediaType), -1,
                                                            -1, nullptr, 0);
        const int frames = chosen == ist.StreamIndex ? 1 : 0;
        if (frames > bestScore) {
            best = i;
            bestScore = frames;
        }
    }
    return best;
}

void TConversionSetup::MapStreams() {
    auto& setups = FEngine.FOutputStreams;
    for (std::size_t k = 0; k < setups.size(); ++k) {
        TOutputStreamSetup& setup = setups[k];
        TOutputStream ost;
        ost.Setup = &setup;
        ost.Stream = setup.Stream;
        ost.Output = FEngine.OutputContext(setup.FileIndex);
        ost.FileIndex = static_cast<int>(std::find(FOutputs.begin(), FOutputs.end(), ost.Output) -
                                         FOutputs.begin());
        ost.StreamIndex = setup.Stream->index;
        ost.MediaType = setup.MediaType;
        ost.Copy = setup.StreamCopy;
        if (!FOptions.StreamMaps.empty()) {
            const TStreamMap& map = FOptions.StreamMaps[k];
            ost.SourceIndex = FInputFiles[map.FileIndex].FirstStream + map.StreamIndex;
            ost.SyncIndex = FInputFiles[map.SyncFileIndex].FirstStream + map.SyncStreamIndex;
            const int type = FInputStreams[ost.SourceIndex].Stream->codecpar->codec_type;
            if (type != ost.MediaType) {
                ff::avformat.av_dump_format(ost.Output, ost.FileIndex, ost.Output->url, 1);
                throw FFmpegException(
                    FormatText("Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)",
                               map.FileIndex, map.StreamIndex, TypeName(type), ost.FileIndex,
                               ost.StreamIndex, TypeName(ost.MediaType)));
            }
        } else if (setup.SourceStream >= 0) {
            ost.SourceIndex = FInputFiles[0].FirstStream + setup.SourceStream;
            ost.SyncIndex = ost.SourceIndex;
        } else {
            ost.SourceIndex = FindSource(0, ost.MediaType);
            if (ost.SourceIndex < 0)
                throw FFmpegException(
                    FormatText("Could not find input stream matching output stream #%d.%d (%s)",
                               ost.FileIndex, ost.StreamIndex, TypeName(ost.MediaType)));
            ost.SyncIndex = ost.SourceIndex;
        }
        FInputStreams[ost.SourceIndex].Discard = false;
        if (FJoined) // every segment's source is read in its turn
            for (int j = 1; j < static_cast<int>(FInputFiles.size()); ++j) {
                const int source = FindSource(j, ost.MediaType);
                if (source >= 0) FInputStreams[source].Discard = false;
            }
        ost.Active = true;
        FOutputStreams.push_back(std::move(ost));
    }
}

void TConversionSetup::SetStreamParameters() {
    for (TOutputStream& ost : FOutputStreams) {
        TInputStream& ist = FInputStreams[ost.SourceIndex];
        ff::avutil.av_dict_copy(&ost.Stream->metadata, ist.Stream->metadata,
                                AV_DICT_DONT_OVERWRITE);
        ost.Stream->disposition = ist.Stream->disposition;
        // An encoded cover picture is an ordinary video stream of the output
        // (muxers take attached pictures only in their own picture formats).
        if (!ost.Copy) ost.Stream->disposition &= ~AV_DISPOSITION_ATTACHED_PIC;
        ost.Writing.Packet.reset(ff::avcodec.av_packet_alloc());
        if (!ost.Writing.Packet) throw FFmpegException("av_mallocz fail");
        if (ost.Copy)
            SetCopyParameters(ost, ist);
        else
            SetEncodeParameters(ost, ist);
        if (ost.MediaType == AVMEDIA_TYPE_VIDEO) KeepOrDropRotation(ost, ist);
    }
    for (std::size_t i = 0; i < FOutputStreams.size(); ++i)
        if (FOutputStreams[i].EncodingNeeded) SetupPassLog(FOutputStreams[i], static_cast<int>(i));
}

// A copied picture keeps its rotation; an encoded one was turned upright,
// so a rotation left on it would turn it once more.
void TConversionSetup::KeepOrDropRotation(TOutputStream& ost, const TInputStream& ist) {
    if (!ost.Copy) {
        ff::avutil.av_dict_set(&ost.Stream->metadata, "rotate", nullptr, 0);
        return;
    }
    for (int i = 0; i < ist.Stream->nb_side_data; ++i) {
        const AVPacketSideData& data = ist.Stream->side_data[i];
        if (data.type != AV_PKT_DATA_DISPLAYMATRIX) continue;
        uint8_t* copy = ff::avformat.av_stream_new_side_data(ost.Stream, data.type, data.size);
        if (!copy) throw FFmpegException("av_mallocz fail");
        std::copy(data.data, data.data + data.size, copy);
    }
}

void TConversionSetup::SetCopyParameters(TOutputStream& ost, TInputStream& ist) {
    const AVCodecParameters* in = ist.Stream->codecpar;
    if (in->extradata_size > INT32_MAX - 8 - AV_INPUT_BUFFER_PADDING_SIZE)
        throw FFmpegException("icodec.extradata_size is invalid (too large)");
    if (ost.MediaType == AVMEDIA_TYPE_VIDEO) {
        if (FEngine.OnHookCallback)
            throw FFmpegException(
                "-vcodec copy and CustomHook are incompatible (frames are not decoded)");
        if (FPictureWork.ModulesOn())
            throw FFmpegException(
                "-vcodec copy and -vhook are incompatible (frames are not decoded)");
        if (FEngine.PreviewFlags() != 0 && !ost.Setup->WholeFileCopy)
            throw FFmpegException(
                "-vcodec copy and PostHooks are incompatible (frames are not decoded)");
    } else if (ost.MediaType == AVMEDIA_TYPE_AUDIO) {
        if (FOptions.AudioVolume != 256)
            throw FFmpegException(
                "-acodec copy and -vol are incompatible (frames are not decoded)");
        if (!FOptions.AudioFilters.empty())
            throw FFmpegException("-acodec copy and -af are incompatible (frames are not decoded)");
    } else if (ost.MediaType != AVMEDIA_TYPE_SUBTITLE) {
        throw FFmpegException("invalid codec_type of output stream");
    }
    AVCodecParameters* out = ost.Stream->codecpar;
    const uint32_t wantedTag = out->codec_tag;
    const AVRational sar = ost.Stream->sample_aspect_ratio;
    if (ff::avcodec.avcodec_parameters_copy(out, in) < 0) throw FFmpegException("av_mallocz fail");
    out->codec_tag = wantedTag;
    if (wantedTag == 0) {
        const AVCodecTag* const* tags = ost.Output->oformat->codec_tag;
        if (!tags || ff::avformat.av_codec_get_id(tags, in->codec_tag) == in->codec_id ||
            ff::avformat.av_codec_get_tag(tags, in->codec_id) == 0)
            out->codec_tag = in->codec_tag;
        else
            out->codec_tag = 0;
    }
    ost.Stream->time_base = ist.Stream->time_base;
    if (ost.MediaType == AVMEDIA_TYPE_VIDEO) {
        if (sar.num > 0 && ist.Stream->sample_aspect_ratio.num == 0) out->sample_aspect_ratio = sar;
        ost.Stream->sample_aspect_ratio = out->sample_aspect_ratio.num
                                              ? out->sample_aspect_ratio
                                              : ist.Stream->sample_aspect_ratio;
        ost.Stream->avg_frame_rate = ist.Stream->avg_frame_rate;
        ost.Stream->r_frame_rate = ist.Stream->r_frame_rate;
    } else if (ost.MediaType == AVMEDIA_TYPE_AUDIO) {
        if ((out->block_align == 1 && out->codec_id == AV_CODEC_ID_MP3) ||
            out->codec_id == AV_CODEC_ID_AC3)
            out->block_align = 0;
    }
}

void TConversionSetup::SetEncodeParameters(TOutputStream& ost, TInputStream& ist) {
    AVCodecContext* encoder = ost.Setup->EncoderContext.get();
    if (!encoder) {
        const char* kind = ost.MediaType == AVMEDIA_TYPE_SUBTITLE ? "Subtitle" : "Stream";
        throw FFmpegException(FormatText("%s encoder not found for output stream #%d.%d (%s)", kind,
                                         ost.FileIndex, ost.StreamIndex, TypeName(ost.MediaType)));
    }
    ost.Encoder = encoder;
    const AVCodecParameters* in = ist.Stream->codecpar;
    switch (ost.MediaType) {
    case AVMEDIA_TYPE_VIDEO: {
        if (encoder->pix_fmt == AV_PIX_FMT_NONE)
            throw FFmpegException("Video pixel format is unknown, stream cannot be encoded");
        ost.Video.TopBand = ost.Video.FirstTopBand = FOptions.FrameTopBand;
        ost.Video.BottomBand = ost.Video.FirstBottomBand = FOptions.FrameBottomBand;
        ost.Video.LeftBand = ost.Video.FirstLeftBand = FOptions.FrameLeftBand;
        ost.Video.RightBand = ost.Video.FirstRightBand = FOptions.FrameRightBand;
        ost.Video.Crop =
            ost.Video.TopBand || ost.Video.BottomBand || ost.Video.LeftBand || ost.Video.RightBand;
        const bool turned = IsQuarterTurn(ist.Rotation); // bands count in the upright picture
        ost.Video.FirstWidth = turned ? in->height : in->width;
        ost.Video.FirstHeight = turned ? in->width : in->height;
        ost.Video.LastWidth = ost.Video.FirstWidth - ost.Video.LeftBand - ost.Video.RightBand;
        ost.Video.LastHeight = ost.Video.FirstHeight - ost.Video.TopBand - ost.Video.BottomBand;
        ost.Video.LastFormat = in->format;
        encoder->bits_per_raw_sample = 0;
        KeepSourceDepth(ist, ost);
        PrepareToneMap(ist, ost);
        if ((!FOptions.VFilters.empty() || !ost.Video.ToneMap.empty()) &&
            ConfigureFilters(ist, ost) < 0) {
            const std::string& error = FEngine.FErrorText;
            throw FFmpegException(error.empty() ? std::string("Error opening filters!")
                                                : "Error opening filters: " + error);
        }
        ost.Video.Temp.reset(ff::avutil.av_frame_alloc());
        ost.Video.EncodeFrame.reset(ff::avutil.av_frame_alloc());
        ost.Video.Filtered.reset(ff::avutil.av_frame_alloc());
        if (!ost.Video.Temp || !ost.Video.EncodeFrame || !ost.Video.Filtered)
            throw FFmpegException("Cannot allocate temp picture, check pix fmt");
        break;
    }
    case AVMEDIA_TYPE_AUDIO:
        ost.Audio.AudioFrame.reset(ff::avutil.av_frame_alloc());
        if (!ost.Audio.AudioFrame) throw FFmpegException("av_fifo_alloc fail");
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        break;
    default:
        throw FFmpegException("invalid codec_type of output stream");
    }
    ost.EncodingNeeded = true;
    ist.DecodingNeeded = true;
    if (FJoined) // the later segments' sources are decoded too
        for (int j = 1; j < static_cast<int>(FInputFiles.size()); ++j) {
            const int source = FindSource(j, ost.MediaType);
            if (source < 0) continue;
            FInputStreams[source].DecodingNeeded = true;
            if (ost.MediaType == AVMEDIA_TYPE_VIDEO && HookOn())
                ToneMapAheadOfHook(FInputStreams[source]);
        }
}

void TConversionSetup::SetupPassLog(TOutputStream& ost, int index) {
    AVCodecContext* encoder = ost.Encoder;
    if (!(encoder->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2))) return;
    std::string name =
        (FOptions.PassLogFileName.empty() ? std::string("ffmpeg2pass") : FOptions.PassLogFileName) +
        "-" + std::to_string(index) + ".log";
    if (name.size() > 1023) name.resize(1023);
    // libx264 reads and writes its statistics itself, under this name
    // rather than a fixed one in the working folder.
    const AVCodec* codec = ost.Setup ? ost.Setup->Encoder : nullptr;
    if (codec && std::string(codec->name) == "libx264" && encoder->priv_data) {
        ff::avutil.av_opt_set(encoder->priv_data, "stats", name.c_str(), 0);
        return;
    }
    if (encoder->flags & AV_CODEC_FLAG_PASS1) {
        ost.Writing.PassLog = std::fopen(name.c_str(), "wb");
        if (!ost.Writing.PassLog)
            throw FFmpegException(
                FormatText("Cannot write log file %s for pass-1 encoding", name.c_str()));
        return;
    }
    uint8_t* buffer = nullptr;
    int size = 0;
    const int code = ReadWholeFile(name, buffer, size);
    if (code == -12)
        throw FFmpegException(FormatText(
            "Could not allocate file buffer: Error reading log file \"%s\" for pass-2 encoding",
            name.c_str()));
    if (code < 0)
        throw FFmpegException(FormatText(
            "Cannot read file: Error reading log file \"%s\" for pass-2 encoding", name.c_str()));
    encoder->stats_in = reinterpret_cast<char*>(buffer); // freed when the encoder closes
    CheckPassTwoRate(ost, std::string(encoder->stats_in, static_cast<std::size_t>(size)));
}

// The MPEG-family encoders of the libraries abort the program (their rate
// control is freed twice) when they refuse a second pass's rate as too low,
// so such a rate ends the task here, with the rate that would do.
void TConversionSetup::CheckPassTwoRate(const TOutputStream& ost, const std::string& stats) const {
    const AVCodecContext* encoder = ost.Encoder;
    const AVCodec* codec = ost.Setup->Encoder ? ost.Setup->Encoder
                                              : ff::avcodec.avcodec_find_encoder(encoder->codec_id);
    if (!codec || !codec->name || !KeepsMpegFamilyStatistics(codec->name)) return;
    TPassTwoPicture picture;
    picture.BFrames = encoder->max_b_frames;
    picture.QMax = encoder->qmax;
    picture.BQuantFactor = encoder->b_quant_factor;
    picture.BQuantOffset = encoder->b_quant_offset;
    picture.IQuantFactor = encoder->i_quant_factor;
    picture.IQuantOffset = encoder->i_quant_offset;
    if (encoder->time_base.num > 0 && encoder->time_base.den > 0)
        picture.FrameRate = static_cast<double>(encoder->time_base.den) / encoder->time_base.num /
                            std::max(encoder->ticks_per_frame, 1);
    const int64_t lowest = LowestPassTwoBitRate(stats, picture);
    if (lowest < 0 || encoder->bit_rate >= lowest) return;
    throw FFmpegException(FormatText(
        "Video bit rate %lld b/s is too low for the second pass of output stream #%d.%d: "
        "its first pass needs at least %lld b/s",
        static_cast<long long>(encoder->bit_rate), ost.FileIndex, ost.StreamIndex,
        static_cast<long long>(lowest)));
}
