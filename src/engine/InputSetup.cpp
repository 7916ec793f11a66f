// Opening a task's input files: the format and its parameters, the
// program, the start point and the streams' decoders and settings.
#include "engine/InputSetup.h"

#include "engine/CodecChoice.h"
#include "engine/InputSettings.h"

#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"
#include "media/LiteralNames.h"
#include "media/NestedOpens.h"
#include "media/UnicodeProtocol.h"

#include <mutex>

TInputSetup::TInputSetup(TInputSetupLinks links)
    : FLinks(std::move(links)), FOptions(FLinks.Options.State()),
      FOptionContexts(FLinks.Options.Contexts()) {}

bool TInputSetup::Open(const std::string& fileName) {
    FLinks.CheckNotAnOutput(fileName);
    ff::InputContextPtr context;
    std::vector<const AVCodec*> decoders;
    int64_t timestamp = 0; // the start time plus the file's own start time
    bool ok = false;
    const bool sought = FOptions.StartTime != 0;
    const int64_t soughtTime = FOptions.StartTime;
    try {
        ok = OpenSteps(fileName, context, decoders, timestamp);
    } catch (...) {
        FOptions.VideoChannel = 0;
        ClearCodecNames();
        throw;
    }
    FOptions.VideoChannel = 0;
    ClearCodecNames();
    if (!ok) return false;
    TInputFileSlot slot;
    slot.Context = std::move(context);
    slot.Decoders = std::move(decoders);
    slot.Sought = sought;
    slot.SoughtTime = soughtTime;
    slot.TsScale = FOptions.NextInputTsScale;
    FOptions.NextInputTsScale.fill(0.0);
    slot.TsOffset = FOptions.InputTsOffset - (FOptions.CopyTs ? 0 : timestamp);
    if (FOptions.Verbose >= 0)
        ff::avformat.av_dump_format(slot.Context.get(), static_cast<int>(FFiles.size()),
                                    fileName.c_str(), 0);
    FFiles.push_back(std::move(slot));
    return true;
}

void TInputSetup::ClearCodecNames() {
    FOptions.HasVideoCodecName = FOptions.HasAudioCodecName = false;
    FOptions.HasSubtitleCodecName = false;
    FOptions.VideoCodecName.clear();
    FOptions.AudioCodecName.clear();
    FOptions.SubtitleCodecName.clear();
}

bool TInputSetup::OpenSteps(const std::string& fileName, ff::InputContextPtr& result,
                            std::vector<const AVCodec*>& decoders, int64_t& timestamp) {
    const AVInputFormat* format = nullptr;
    if (!FOptions.FormatName.empty()) {
        format = ff::avformat.av_find_input_format(FOptions.FormatName.c_str());
        if (!format)
            throw FFmpegException(
                FormatText("Unknown input format: \"%s\"", FOptions.FormatName.c_str()));
        FOptions.FormatName.clear();
    }
    AVFormatContext* context = ff::avformat.avformat_alloc_context();
    if (!context) throw FFmpegException("avformat_alloc_context failed");
    ff::FormatContextPtr pending(context); // freed here until the library owns it
    ApplyRecordedOptions(FOptionContexts, context, FOptionContexts.FormatOptions,
                         AV_OPT_FLAG_DECODING_PARAM);
    TByKind<const AVCodec*> chosen;
    auto find = [this](bool named, const std::string& name, AVMediaType type, TMediaKind kind,
                       TByKind<const AVCodec*>& codecs) {
        return FindCodecByName(named ? name : "", type, false,
                               CodecStrictness(FOptionContexts, type), &codecs[kind],
                               FLinks.ErrorText);
    };
    if (!find(FOptions.HasVideoCodecName, FOptions.VideoCodecName, AVMEDIA_TYPE_VIDEO,
              TMediaKind::Video, chosen) ||
        !find(FOptions.HasAudioCodecName, FOptions.AudioCodecName, AVMEDIA_TYPE_AUDIO,
              TMediaKind::Audio, chosen) ||
        !find(FOptions.HasSubtitleCodecName, FOptions.SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE,
              TMediaKind::Subtitle, chosen))
        return false;
    context->flags |= AVFMT_FLAG_NONBLOCK;
    if (const AVCodec* video = chosen[TMediaKind::Video]) {
        context->video_codec_id = video->id;
        context->video_codec = video;
    }
    if (const AVCodec* audio = chosen[TMediaKind::Audio]) {
        context->audio_codec_id = audio->id;
        context->audio_codec = audio;
    }
    if (const AVCodec* subtitle = chosen[TMediaKind::Subtitle]) {
        context->subtitle_codec_id = subtitle->id;
        context->subtitle_codec = subtitle;
    }
    if (FOptions.UsingPgmyuv) context->video_codec_id = AV_CODEC_ID_PGMYUV;

    ff::DictionaryPtr parameters(TInputSettings(FOptions, FOptionContexts).Parameters());
    AVDictionary* rawParameters = parameters.release();
    // Options no one knew yet may be the demuxer's own.
    const std::vector<TPendingOption> unknown = TakeAnyKindPendingOptions(FOptions);
    for (const TPendingOption& option : unknown)
        ff::avutil.av_dict_set(&rawParameters, option.Name.c_str(), option.Value.c_str(), 0);
    // A stop of the task, or of a program that is still setting up, gives
    // a blocked open or read back.
    context->interrupt_callback.callback = [](void* setup) {
        return (static_cast<TInputSetup*>(setup)->FLinks.StopRequested() ||
                OpenInterruptRequested())
                   ? 1
                   : 0;
    };
    context->interrupt_callback.opaque = this;
    const std::string libraryName = ToLibraryName(fileName);
    KeepNestedOpensInFolder(context, libraryName);
    ReadExistingFileAsItself(libraryName, &rawParameters);
    TakeRefusedOpen();
    pending.release(); // avformat_open_input frees the context on failure
    int code = AVERROR_EXIT;
    if (OpenInterruptRequested())
        ff::avformat.avformat_free_context(context);
    else
        code =
            ff::avformat.avformat_open_input(&context, libraryName.c_str(), format, &rawParameters);
    parameters.reset(rawParameters);
    for (const TPendingOption& option : unknown)
        if (ff::avutil.av_dict_get(rawParameters, option.Name.c_str(), nullptr, 0))
            GetLogger().Log(nullptr, llWarning,
                            FormatText("Unrecognized option '%s'", option.Name.c_str()));
    if (code < 0) {
        FLinks.ErrorText = OpenFailureText(fileName, code);
        return false;
    }
    result.reset(context);
    TInputSettings settings(FOptions, FOptionContexts);
    if (!settings.SelectProgram(context)) {
        FLinks.ErrorText = "Specified program id not found";
        return false;
    }
    int infoResult;
    {
        std::lock_guard<std::mutex> lock(CodecLock());
        infoResult = ff::avformat.avformat_find_stream_info(context, nullptr);
    }
    if (infoResult < 0 && FOptions.Verbose >= 0) {
        FLinks.ErrorText = FormatText("%s: could not find codec parameters", fileName.c_str());
        GetLogger().Log(nullptr, llVerbose, FLinks.ErrorText);
        return false;
    }
    timestamp = settings.SeekToStart(context, fileName);
    settings.TakeStreams(context, decoders, chosen);
    if (context->duration != AV_NOPTS_VALUE && context->duration > FLinks.TotalDuration)
        FLinks.TotalDuration = context->duration;
    return true;
}
