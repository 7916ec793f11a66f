#include "engine/ConversionSetup.h"

#include "engine/EncoderSettings.h"
#include "engine/H264Limits.h"
#include "engine/OutputFileHeaders.h"
#include "engine/PassLogFile.h"
#include "engine/StreamCopy.h"
#include "engine/VideoFilterGraph.h"

#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"

#include <algorithm>
#include <string>
#include <mutex>

// Made once by whichever worker comes first (a static's start is thread-safe);
// filled lazily per entry, two workers would write one string at once.
const char* TConversionSetup::TypeName(int type) {
    static const std::string names[5] = {MediaTypeName(0), MediaTypeName(1), MediaTypeName(2),
                                         MediaTypeName(3), MediaTypeName(4)};
    if (type < 0 || type > 4) return "unknown";
    return names[type].c_str();
}

TConversionSetup::TConversionSetup(const TTaskShare& engine, const TConversionOptions& options,
                                   TPacketWriter& writer, const TConversionTables& tables)
    : FEngine(engine), FOptions(options), FWriter(writer), FInputFiles(tables.InputFiles),
      FInputStreams(tables.InputStreams), FOutputStreams(tables.OutputStreams),
      FOutputs(tables.Outputs), FNoPacket(tables.NoPacket), FJoined(tables.Joined),
      FSourceDuration(tables.SourceDuration), FHeadersWritten(tables.HeadersWritten),
      FPictureWork(tables.PictureWork), FColour(options.KeepHdr, tables.PictureWork) {}

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
    const std::vector<THeaderSource> sources = HeaderSources();
    CopyTags(FOptions.MetaDataMaps, sources, FOutputs);
    CopyChapters(sources, FOutputs, FOptions.StartTime, FOptions.RecordingTime);
    for (TOutputStream& ost : FOutputStreams)
        TPacketWriter::OpenFilters(ost);
    WriteHeaders(FOutputs);
    FHeadersWritten = true;
    LogStreamMapping();
}

int TConversionSetup::IndexOf(const TInputStream& ist) const {
    return static_cast<int>(&ist - FInputStreams.data());
}

std::vector<THeaderSource> TConversionSetup::HeaderSources() const {
    std::vector<THeaderSource> sources;
    for (int i = 0; i < FEngine.InputFileCount(); ++i)
        sources.push_back({FEngine.InputContext(i), FEngine.InputFile(i).TsOffset});
    return sources;
}

// The stream's video filter graph; a fault in the filter text is told in
// the task's error text.
bool TConversionSetup::BuildFilters(const TInputStream& ist, TOutputStream& ost) {
    std::string error;
    const int code = BuildVideoFilterGraph(
        ist, ost, {FOptions.VFilters, FOptions.FrameSizeOfTarget, FOptions.SwsFlags}, error);
    if (!error.empty()) FEngine.FErrorText = error;
    return code >= 0;
}

// Why the video filters could not be set up. A stream that gave no
// picture while the input was opened has no picture format: it is empty
// (a declared track without frames), and the filters are not to blame.
std::string TConversionSetup::FilterFailureText(const TInputStream& ist) const {
    if (ist.Stream->codecpar->format == AV_PIX_FMT_NONE)
        return FormatText("The video stream #%d.%d has no pictures", ist.FileIndex,
                          ist.StreamIndex);
    const std::string& error = FEngine.FErrorText;
    return error.empty() ? std::string("Error opening filters!")
                         : "Error opening filters: " + error;
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

namespace {

// A sound track that gave no packet while its file was probed: a declared
// track that holds nothing, as a rule. One that speaks later than the probe
// read is taken too when no other track has sound.
bool BroughtNoSound(const TInputStream& ist) {
    return ist.Stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO &&
           !(ist.Stream->event_flags & AVSTREAM_EVENT_FLAG_NEW_PACKETS);
}

} // namespace

// The input stream of `mediaType` an output stream of file `file` reads
// from without a map (-1: none); in join mode only input `file` qualifies.
int TConversionSetup::FindSource(int file, int mediaType) const {
    // A sound track that brought packets while probing goes first; then the
    // libraries' own choice of a file's best stream stands for the one with
    // the most frames seen while probing.
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
        const int score = (chosen == ist.StreamIndex ? 1 : 0) + (BroughtNoSound(ist) ? 0 : 2);
        if (score > bestScore) {
            best = i;
            bestScore = score;
        }
    }
    return best;
}

// A stream chosen by its index must be one of the first input's, of the
// output stream's kind.
void TConversionSetup::CheckSourceStream(const TOutputStreamSetup& setup,
                                         const TOutputStream& ost) const {
    const int index = setup.SourceStream;
    if (FInputFiles.empty() || index >= FInputFiles[0].StreamCount)
        throw FFmpegException(FormatText("Could not find input stream #0.%d", index));
    const int type = FInputStreams[FInputFiles[0].FirstStream + index].Stream->codecpar->codec_type;
    if (type != ost.MediaType)
        throw FFmpegException(FormatText("Input stream #0.%d is not a stream of type %s (but %s)",
                                         index, TypeName(ost.MediaType), TypeName(type)));
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
            CheckSourceStream(setup, ost);
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
        if (FOutputStreams[i].EncodingNeeded)
            OpenPassLog(FOutputStreams[i], static_cast<int>(i), FOptions.PassLogFileName);
}

// A copied picture keeps its rotation; an encoded one was turned upright,
// so a rotation left on it would turn it once more. Matroska's muxer drops
// the rotation matrix: there the stream's "rotate" tag (clockwise degrees)
// carries it.
void TConversionSetup::KeepOrDropRotation(TOutputStream& ost, const TInputStream& ist) {
    if (!ost.Copy) {
        ff::avutil.av_dict_set(&ost.Stream->metadata, "rotate", nullptr, 0);
        return;
    }
    if (ist.Rotation != 0 && IsMatroska(ost.Output->oformat) &&
        !ff::avutil.av_dict_get(ost.Stream->metadata, "rotate", nullptr, 0))
        ff::avutil.av_dict_set(&ost.Stream->metadata, "rotate",
                               std::to_string(ist.Rotation).c_str(), 0);
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
        if (!CopiedPicturesDecode(ost.Output->oformat, in->codec_id))
            throw FFmpegException(FormatText(
                "Output stream #%d.%d cannot be copied into %s: the %s pictures would lose the "
                "depth and colours they need to be decoded (convert them instead)",
                ost.FileIndex, ost.StreamIndex, ost.Output->oformat->name,
                ff::avcodec.avcodec_descriptor_get(in->codec_id)->name));
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
        FColour.KeepSourceDepth(ist, ost);
        FColour.Prepare(ist, IndexOf(ist), *FEngine.InputContext(ist.FileIndex), ost);
        if ((!FOptions.VFilters.empty() || !ost.Video.ToneMap.empty()) && !BuildFilters(ist, ost))
            throw FFmpegException(FilterFailureText(ist));
        ost.Video.Temp.reset(ff::avutil.av_frame_alloc());
        ost.Video.EncodeFrame.reset(ff::avutil.av_frame_alloc());
        ost.Video.Filtered.reset(ff::avutil.av_frame_alloc());
        if (!ost.Video.Temp || !ost.Video.EncodeFrame || !ost.Video.Filtered)
            throw FFmpegException("Cannot allocate temp picture, check pix fmt");
        break;
    }
    case AVMEDIA_TYPE_AUDIO:
        if (FollowSourceSound(encoder, ost.Setup->Encoder, ost.Stream, in, ost.Setup->SoundGiven))
            Log(llWarning, ChannelsMixedText(ost.Setup->Encoder, in->ch_layout, encoder->ch_layout,
                                             ost.FileIndex, ost.StreamIndex));
        ff::avcodec.avcodec_parameters_from_context(ost.Stream->codecpar, encoder);
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
            if (ost.MediaType == AVMEDIA_TYPE_VIDEO)
                FColour.ToneMapAheadOfHook(FInputStreams[source], source);
        }
}

// ---- the codecs ----

void TConversionSetup::OpenEncoders(bool subtitles) {
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
            FitH264Limits(ost.Encoder, ost.FileIndex, ost.StreamIndex);
        if (std::string(codec->name) == "libx265") SetX265LogLevel(ost.Setup->PrivateOptions);
        AVDictionary* options = nullptr;
        for (const auto& [name, value] : ost.Setup->PrivateOptions)
            ff::avutil.av_dict_set(&options, name.c_str(), value.c_str(), 0);
        ff::DictionaryPtr owned;
        // A failed opening leaves the context without its channels.
        const int channels = ost.Encoder->ch_layout.nb_channels;
        int code;
        {
            std::lock_guard<std::mutex> lock(CodecLock());
            code = ff::avcodec.avcodec_open2(ost.Encoder, codec, &options);
        }
        owned.reset(options);
        if (code < 0) {
            const std::string text = EncoderFailureText(
                FormatText("Error while opening encoder for output stream #%d.%d (%s)",
                           ost.FileIndex, ost.StreamIndex, TypeName(ost.MediaType)),
                ost.Encoder, codec, channels);
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
        FWriter.CountHeader(ost.Encoder->extradata_size);
    }
}

void TConversionSetup::CopySubtitleHeader(TOutputStream& ost) {
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

void TConversionSetup::OpenDecoders() {
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

void TConversionSetup::SetStartTimes() {
    for (TInputStream& ist : FInputStreams) {
        const AVRational rate = ist.Stream->avg_frame_rate;
        // A copied stream has no decoder; its parameters tell the same delay.
        const int delay = ist.DecoderContext ? ist.DecoderContext->has_b_frames
                                             : ist.Stream->codecpar->video_delay;
        ist.Pts = rate.num && rate.den
                      ? -RoundHalfEvenInt(static_cast<double>(delay) * AV_TIME_BASE / av_q2d(rate))
                      : 0;
        ist.NextPts = AV_NOPTS_VALUE;
        ist.IsStart = true;
    }
}

void TConversionSetup::LogStreamMapping() {
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
