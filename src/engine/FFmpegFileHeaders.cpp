// The output files' side of a conversion's start: their tags and chapters,
// the bitstream filters, the headers, and the log of the stream mapping.
#include "engine/ConversionSetup.h"

#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"

#include <algorithm>
#include <cstring>

void TConversionSetup::CopyMetadataMaps() {
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
void TConversionSetup::CarrySourceTags() {
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

void TConversionSetup::CopyChapters() {
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

void TConversionSetup::WriteHeaders() {
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
