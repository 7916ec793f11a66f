// The start of a conversion: stream tables, mapping, codec parameters for
// copying or encoding, the video filter graph, opening the codecs and
// writing the headers.
#include "engine/PassTwoRate.h"
#include "engine/FFmpegTranscoder.h"

#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/FilterLink.h"
#include "media/MyUtils.h"

#include <algorithm>
#include <cstring>
#include <cmath>
#include <mutex>

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

namespace {

// Made once by whichever worker comes first (a static's start is thread-safe);
// filled lazily per entry, two workers would write one string at once.
const char* TypeName(int type) {
    static const std::string names[5] = {MediaTypeName(0), MediaTypeName(1), MediaTypeName(2),
                                         MediaTypeName(3), MediaTypeName(4)};
    if (type < 0 || type > 4) return "unknown";
    return names[type].c_str();
}

} // namespace

TTranscoder::TTranscoder(const TTaskShare& task)
    : FEngine(task), FOptions(ConversionOptionsOf(task.FOptions, task.FOptionContexts)),
      FUsingVhook(FOptions.UsingVhook) {}

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

// ---- PrepareConversion ----

void TTranscoder::PrepareConversion() {
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
        SetupBitstreamFilters(ost);
    WriteHeaders();
    LogStreamMapping();
    StartEncodingStages();
    FPacket.reset(ff::avcodec.av_packet_alloc());
    FCopyPacket.reset(ff::avcodec.av_packet_alloc());
    if (!FPacket || !FCopyPacket) throw FFmpegException("av_mallocz fail");
}

void TTranscoder::BuildInputTables() {
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
int64_t TTranscoder::SourceDuration() const {
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

void TTranscoder::CheckOutputsAndMaps() {
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
int TTranscoder::FindSource(int file, int mediaType) const {
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

void TTranscoder::MapStreams() {
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

void TTranscoder::SetStreamParameters() {
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
void TTranscoder::KeepOrDropRotation(TOutputStream& ost, const TInputStream& ist) {
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

void TTranscoder::SetCopyParameters(TOutputStream& ost, TInputStream& ist) {
    const AVCodecParameters* in = ist.Stream->codecpar;
    if (in->extradata_size > INT32_MAX - 8 - AV_INPUT_BUFFER_PADDING_SIZE)
        throw FFmpegException("icodec.extradata_size is invalid (too large)");
    if (ost.MediaType == AVMEDIA_TYPE_VIDEO) {
        if (FEngine.OnHookCallback)
            throw FFmpegException(
                "-vcodec copy and CustomHook are incompatible (frames are not decoded)");
        if (FUsingVhook)
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

void TTranscoder::SetEncodeParameters(TOutputStream& ost, TInputStream& ist) {
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

void TTranscoder::SetupPassLog(TOutputStream& ost, int index) {
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
void TTranscoder::CheckPassTwoRate(const TOutputStream& ost, const std::string& stats) const {
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

// ---- codecs ----

void TTranscoder::OpenEncoders(bool subtitles) {
    for (TOutputStream& ost : FOutputStreams) {
        if (!ost.EncodingNeeded || (ost.MediaType == AVMEDIA_TYPE_SUBTITLE) != subtitles) continue;
        if (subtitles) CopySubtitleHeader(ost);
        const AVCodec* codec = ost.Setup->Encoder;
        if (!codec) codec = ff::avcodec.avcodec_find_encoder(ost.Encoder->codec_id);
        if (!codec) {
            const std::string text =
                FormatText("Encoder (codec id %d) not found for output stream #%d.%d (%s)",
                           static_cast<int>(ost.Encoder->codec_id), ost.FileIndex, ost.StreamIndex,
                           TypeName(ost.MediaType));
            LogStreamMapping();
            Log(llError, text);
            throw FFmpegException(text);
        }
        if (ost.MediaType == AVMEDIA_TYPE_VIDEO && std::string(codec->name) == "libx264")
            FitH264Limits(ost);
        AVDictionary* options = nullptr;
        for (const auto& [name, value] : ost.Setup->PrivateOptions)
            ff::avutil.av_dict_set(&options, name.c_str(), value.c_str(), 0);
        ff::DictionaryPtr owned;
        int code;
        {
            std::lock_guard<std::mutex> lock(CodecLock());
            code = ff::avcodec.avcodec_open2(ost.Encoder, codec, &options);
        }
        owned.reset(options);
        if (code < 0) {
            const std::string text = FormatText(
                "Error while opening encoder for output stream #%d.%d (%s) - maybe incorrect "
                "parameters such as bit_rate, rate, width or height. Please check error log "
                "message to find out more detail information.",
                ost.FileIndex, ost.StreamIndex, TypeName(ost.MediaType));
            LogStreamMapping();
            Log(llError, text);
            throw FFmpegException(text);
        }
        ost.EncoderOpen = true;
        for (const AVDictionaryEntry* e = nullptr;
             (e = ff::avutil.av_dict_get(options, "", e, AV_DICT_IGNORE_SUFFIX));)
            Log(llWarning, FormatText("Option %s not found for encoder %s", e->key, codec->name));
        ff::avcodec.avcodec_parameters_from_context(ost.Stream->codecpar, ost.Encoder);
        ost.Stream->time_base = ost.Encoder->time_base;
        if (ost.MediaType == AVMEDIA_TYPE_VIDEO) {
            ost.Stream->avg_frame_rate = ost.Encoder->framerate;
            ost.Stream->sample_aspect_ratio = ost.Encoder->sample_aspect_ratio;
        }
        if (ost.MediaType == AVMEDIA_TYPE_AUDIO) {
            ost.Audio.Fifo.reset(ff::avutil.av_audio_fifo_alloc(
                ost.Encoder->sample_fmt, ost.Encoder->ch_layout.nb_channels, 1024));
            if (!ost.Audio.Fifo) throw FFmpegException("av_fifo_alloc fail");
        }
        FHeaderBytes += ost.Encoder->extradata_size;
    }
}

void TTranscoder::CopySubtitleHeader(TOutputStream& ost) {
    AVCodecContext* encoder = ost.Encoder;
    encoder->time_base = AVRational{1, 1000};
    const AVCodecContext* decoder = FInputStreams[ost.SourceIndex].DecoderContext.get();
    if (!decoder || !decoder->subtitle_header || encoder->subtitle_header) return;
    encoder->subtitle_header = static_cast<uint8_t*>(
        ff::avutil.av_mallocz(static_cast<std::size_t>(decoder->subtitle_header_size) + 1));
    if (!encoder->subtitle_header) throw FFmpegException("av_mallocz fail");
    std::copy(decoder->subtitle_header, decoder->subtitle_header + decoder->subtitle_header_size,
              encoder->subtitle_header);
    encoder->subtitle_header_size = decoder->subtitle_header_size;
}

void TTranscoder::OpenDecoders() {
    for (TInputStream& ist : FInputStreams) {
        if (!ist.DecodingNeeded) continue;
        const AVCodecParameters* par = ist.Stream->codecpar;
        const AVCodec* codec =
            ist.Decoder ? ist.Decoder : ff::avcodec.avcodec_find_decoder(par->codec_id);
        const char* type = TypeName(par->codec_type);
        if (!codec)
            throw FFmpegException(
                FormatText("Decoder (codec id %d) not found for input stream #%d.%d (%s)",
                           static_cast<int>(par->codec_id), ist.FileIndex, ist.StreamIndex, type));
        ist.DecoderContext.reset(ff::avcodec.avcodec_alloc_context3(codec));
        AVCodecContext* decoder = ist.DecoderContext.get();
        if (!decoder || ff::avcodec.avcodec_parameters_to_context(decoder, par) < 0)
            throw FFmpegException("avcodec_alloc_context failed");
        decoder->pkt_timebase = ist.Stream->time_base;
        decoder->thread_count = FOptions.ThreadCount;
        const int mediaType = par->codec_type;
        if (mediaType >= 0 && mediaType < 5)
            ApplyRecordedOptions(FEngine.FOptionContexts, decoder,
                                 FEngine.FOptionContexts.CodecOptions[mediaType],
                                 AV_OPT_FLAG_DECODING_PARAM);
        int code;
        {
            std::lock_guard<std::mutex> lock(CodecLock());
            code = ff::avcodec.avcodec_open2(decoder, codec, nullptr);
        }
        if (code < 0)
            throw FFmpegException(
                FormatText("Error while opening decoder for input stream #%d.%d (%s)",
                           ist.FileIndex, ist.StreamIndex, type));
        ist.DecoderOpen = true;
        ist.Frame.reset(ff::avutil.av_frame_alloc());
        if (!ist.Frame) throw FFmpegException("av_mallocz fail");
    }
}

void TTranscoder::CloseCodecs() {
    StopEncodingStages();
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

void TTranscoder::SetStartTimes() {
    for (TInputStream& ist : FInputStreams) {
        const AVRational rate = ist.Stream->avg_frame_rate;
        const int delay = ist.DecoderContext ? ist.DecoderContext->has_b_frames : 0;
        ist.Pts = rate.num && rate.den
                      ? -RoundHalfEvenInt(static_cast<double>(delay) * AV_TIME_BASE / av_q2d(rate))
                      : 0;
        ist.NextPts = AV_NOPTS_VALUE;
        ist.IsStart = true;
    }
}

void TTranscoder::CopyMetadataMaps() {
    if (FOptions.MetaDataMaps.empty()) CarrySourceTags();
    for (const TMetaDataMap& map : FOptions.MetaDataMaps) {
        if (map.OutFile < 0 || map.OutFile >= static_cast<int>(FOutputs.size()))
            throw FFmpegException(FormatText("Invalid output file index %d map_meta_data(%d,%d)",
                                             map.OutFile, map.OutFile, map.InFile));
        if (map.InFile < 0 || map.InFile >= FEngine.InputFileCount())
            throw FFmpegException(FormatText("Invalid input file index %d map_meta_data(%d,%d)",
                                             map.InFile, map.OutFile, map.InFile));
        ff::avutil.av_dict_copy(&FOutputs[map.OutFile]->metadata,
                                FEngine.InputContext(map.InFile)->metadata, AV_DICT_DONT_OVERWRITE);
    }
}

namespace {

// Tags that describe the source file itself, not its content.
bool SourceOnlyTag(const char* key) {
    for (const char* own : {"encoder", "major_brand", "minor_version", "compatible_brands"})
        if (std::strcmp(key, own) == 0) return true;
    return false;
}

// RIFF INFO has no creation time: its creation date (ICRD) carries it.
void DateFromCreationTime(AVFormatContext* output) {
    const char* name = output->oformat->name;
    if (std::strcmp(name, "avi") != 0 && std::strcmp(name, "wav") != 0) return;
    const AVDictionaryEntry* created =
        ff::avutil.av_dict_get(output->metadata, "creation_time", nullptr, 0);
    if (created)
        ff::avutil.av_dict_set(&output->metadata, "date", created->value, AV_DICT_DONT_OVERWRITE);
}

} // namespace

// Without metadata maps every output takes the first input's tags (title,
// artist, album, track, dates, creation time); what the options set when
// the output opened stays.
void TTranscoder::CarrySourceTags() {
    if (FEngine.InputFileCount() == 0) return;
    const AVDictionary* tags = FEngine.InputContext(0)->metadata;
    for (AVFormatContext* output : FOutputs) {
        const AVDictionaryEntry* entry = nullptr;
        while ((entry = ff::avutil.av_dict_get(tags, "", entry, AV_DICT_IGNORE_SUFFIX)))
            if (!SourceOnlyTag(entry->key))
                ff::avutil.av_dict_set(&output->metadata, entry->key, entry->value,
                                       AV_DICT_DONT_OVERWRITE);
        DateFromCreationTime(output);
    }
}

void TTranscoder::CopyChapters() {
    for (int i = 0; i < FEngine.InputFileCount(); ++i) {
        AVFormatContext* input = FEngine.InputContext(i);
        if (input->nb_chapters == 0) continue;
        const int64_t offset = FEngine.InputFile(i).TsOffset;
        for (AVFormatContext* output : FOutputs) {
            const int64_t start = FOptions.StartTime - offset;
            const bool limited = FOptions.RecordingTime != INT64_MAX;
            for (unsigned c = 0; c < input->nb_chapters; ++c) {
                const AVChapter* chapter = input->chapters[c];
                const AVRational base{1, AV_TIME_BASE};
                const int64_t shift = ff::avutil.av_rescale_q(start, base, chapter->time_base);
                const int64_t limit = limited ? ff::avutil.av_rescale_q(FOptions.RecordingTime,
                                                                        base, chapter->time_base)
                                              : INT64_MAX;
                if (chapter->end < shift) continue;
                if (limited && chapter->start > shift + limit) continue;
                auto* copy = static_cast<AVChapter*>(ff::avutil.av_mallocz(sizeof(AVChapter)));
                if (!copy) throw FFmpegException("av_mallocz fail");
                copy->id = chapter->id;
                copy->time_base = chapter->time_base;
                copy->start = std::max<int64_t>(0, chapter->start - shift);
                copy->end = std::min(chapter->end - shift, limit);
                ff::avutil.av_dict_copy(&copy->metadata, chapter->metadata, 0);
                auto* list = static_cast<AVChapter**>(ff::avutil.av_realloc(
                    output->chapters, sizeof(AVChapter*) * (output->nb_chapters + 1)));
                if (!list) {
                    ff::avutil.av_dict_free(&copy->metadata);
                    ff::avutil.av_free(copy);
                    throw FFmpegException("av_realloc fail");
                }
                output->chapters = list;
                output->chapters[output->nb_chapters++] = copy;
            }
        }
    }
}

void TTranscoder::SetupBitstreamFilters(TOutputStream& ost) {
    for (const TBitstreamFilterEntry& entry : ost.Setup->BitstreamFilters) {
        AVBSFContext* context = nullptr;
        if (ff::avcodec.av_bsf_alloc(entry.Filter, &context) < 0)
            throw FFmpegException("av_mallocz fail");
        ff::BsfPtr filter(context);
        const AVCodecParameters* in = ost.Writing.Filters.empty()
                                          ? ost.Stream->codecpar
                                          : ost.Writing.Filters.back()->par_out;
        ff::avcodec.avcodec_parameters_copy(context->par_in, in);
        context->time_base_in = ost.Writing.Filters.empty()
                                    ? ost.Stream->time_base
                                    : ost.Writing.Filters.back()->time_base_out;
        if (!entry.Args.empty())
            ff::avutil.av_opt_set_from_string(context->priv_data, entry.Args.c_str(), nullptr, "=",
                                              ":");
        const int code = ff::avcodec.av_bsf_init(context);
        if (code < 0)
            throw FFmpegException(MediaErrorText(
                FormatText("%s failed for stream %d", entry.Filter->name, ost.StreamIndex), code));
        ost.Writing.Filters.push_back(std::move(filter));
    }
    if (!ost.Writing.Filters.empty())
        ff::avcodec.avcodec_parameters_copy(ost.Stream->codecpar,
                                            ost.Writing.Filters.back()->par_out);
}

void TTranscoder::WriteHeaders() {
    for (std::size_t i = 0; i < FOutputs.size(); ++i) {
        // The encoders' time bases were what the packets are made in; the
        // muxer may choose its own in the header.
        const int code = ff::avformat.avformat_write_header(FOutputs[i], nullptr);
        if (code < 0) {
            const std::string text = FormatText(
                "Could not write header for output file #%d (incorrect codec parameters ?)",
                static_cast<int>(i));
            Log(llError, MediaErrorText(text, code));
            throw FFmpegException(text);
        }
    }
    FHeadersWritten = true;
    bool allRtp = !FOutputs.empty();
    for (AVFormatContext* output : FOutputs)
        allRtp &= std::string(output->oformat->name) == "rtp";
    if (allRtp) {
        char sdp[2048] = {};
        ff::avformat.av_sdp_create(FOutputs.data(), static_cast<int>(FOutputs.size()), sdp,
                                   sizeof(sdp));
        Log(llInfo, std::string("SDP:\r\n") + sdp);
    }
}

void TTranscoder::LogStreamMapping() {
    for (std::size_t i = 0; i < FOutputs.size(); ++i)
        ff::avformat.av_dump_format(FOutputs[i], static_cast<int>(i), FOutputs[i]->url, 1);
    if (FOptions.Verbose < 0) return;
    Log(llVerbose, "Stream mapping:");
    for (const TOutputStream& ost : FOutputStreams) {
        const TInputStream& source = FInputStreams[ost.SourceIndex];
        std::string line =
            FormatText("  Stream #%d.%d -> #%d.%d (%s)", FJoined ? 0 : source.FileIndex,
                       source.StreamIndex, ost.FileIndex, ost.StreamIndex, TypeName(ost.MediaType));
        if (ost.SyncIndex != ost.SourceIndex) {
            const TInputStream& sync = FInputStreams[ost.SyncIndex];
            line += FormatText(" [sync #%d.%d (%s)]", sync.FileIndex, sync.StreamIndex,
                               TypeName(ost.MediaType));
        }
        Log(llVerbose, line);
    }
}

// ---- the video filter graph ----

int TTranscoder::ConfigureFilters(TInputStream& ist, TOutputStream& ost) {
    ost.Video.Graph.reset(ff::avfilter.avfilter_graph_alloc());
    if (!ost.Video.Graph) return -1;
    AVFilterContext* last = nullptr;
    if (ConfigureFiltersSteps(ist, ost, last) < 0) {
        ost.Video.Graph.reset();
        ost.Video.FilterSource = ost.Video.FilterSink = nullptr;
        return -1;
    }
    return 0;
}

int TTranscoder::ConfigureFiltersSteps(TInputStream& ist, TOutputStream& ost,
                                       AVFilterContext*& last) {
    AVFilterGraph* graph = ost.Video.Graph.get();
    const AVCodecParameters* in = ist.Stream->codecpar;
    AVCodecContext* encoder = ost.Encoder;
    // The graph gets the upright picture.
    const bool turned = IsQuarterTurn(ist.Rotation);
    const int inWidth = turned ? in->height : in->width;
    const int inHeight = turned ? in->width : in->height;
    AVRational sar = in->sample_aspect_ratio.num ? in->sample_aspect_ratio : AVRational{0, 1};
    if (turned && sar.num) sar = AVRational{sar.den, sar.num};
    const std::string sourceArgs =
        BufferSourceArgs(inWidth, inHeight, in->format, AVRational{1, AV_TIME_BASE}, sar);
    auto create = [&](const char* filter, const char* name, const std::string& args,
                      AVFilterContext** context) {
        const AVFilter* f = ff::avfilter.avfilter_get_by_name(filter);
        if (!f) return -1;
        return ff::avfilter.avfilter_graph_create_filter(
            context, f, name, args.empty() ? nullptr : args.c_str(), nullptr, graph);
    };
    if (create("buffer", "src", sourceArgs, &ost.Video.FilterSource) < 0) return -1;
    if (create("buffersink", "out", "", &ost.Video.FilterSink) < 0) return -1;
    const AVPixelFormat formats[] = {encoder->pix_fmt};
    if (ff::avutil.av_opt_set_bin(ost.Video.FilterSink, "pix_fmts",
                                  reinterpret_cast<const uint8_t*>(formats), sizeof(formats),
                                  AV_OPT_SEARCH_CHILDREN) < 0)
        return -1;
    last = ost.Video.FilterSource;
    auto link = [&](const char* filter, const char* name, const std::string& args) {
        AVFilterContext* next = nullptr;
        if (create(filter, name, args, &next) < 0) return -1;
        if (ff::avfilter.avfilter_link(last, 0, next, 0) < 0) return -1;
        last = next;
        return 0;
    };
    const int width = inWidth - ost.Video.LeftBand - ost.Video.RightBand;
    const int height = inHeight - ost.Video.TopBand - ost.Video.BottomBand;
    if (ost.Video.Crop &&
        link("crop", "crop",
             FormatText("%d:%d:%d:%d", width, height, ost.Video.LeftBand, ost.Video.TopBand)) < 0)
        return -1;
    // The output size is made before the given filters, except a target's:
    // filters that crop and letterbox by themselves (counting in the decoded
    // picture's pixels) come first, and their result is brought to the
    // target's size.
    const bool resize = width != encoder->width || height != encoder->height;
    const bool resizeLast = resize && FOptions.FrameSizeOfTarget && !FOptions.VFilters.empty();
    const std::string resizeArgs =
        FormatText("%d:%d:flags=0x%X", encoder->width, encoder->height, FOptions.SwsFlags);
    if (resize && !resizeLast && link("scale", "scale", resizeArgs) < 0) return -1;
    if (!ost.Video.ToneMap.empty() && LinkFilterChain(graph, ost.Video.ToneMap, last) < 0)
        return -1;
    AVFilterContext* tail = ost.Video.FilterSink;
    if (resizeLast && (create("scale", "scale", resizeArgs, &tail) < 0 ||
                       ff::avfilter.avfilter_link(tail, 0, ost.Video.FilterSink, 0) < 0))
        return -1;
    const std::string scaleOptions = FormatText("flags=0x%X", FOptions.SwsFlags);
    ff::avutil.av_opt_set(graph, "scale_sws_opts", scaleOptions.c_str(), 0);
    if (!FOptions.VFilters.empty()) {
        const int code = LinkByText(graph, FOptions.VFilters.c_str(), last, tail);
        if (code < 0) {
            FEngine.FErrorText = MediaErrorText(FOptions.VFilters, code);
            return -1;
        }
    } else if (ff::avfilter.avfilter_link(last, 0, ost.Video.FilterSink, 0) < 0) {
        return -1;
    }
    if (ff::avfilter.avfilter_graph_config(graph, nullptr) < 0) return -1;
    encoder->width = ff::avfilter.av_buffersink_get_w(ost.Video.FilterSink);
    encoder->height = ff::avfilter.av_buffersink_get_h(ost.Video.FilterSink);
    return 0;
}
