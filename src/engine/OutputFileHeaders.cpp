#include "engine/OutputFileHeaders.h"

#include "media/AVFormatEntries.h"
#include "media/AVUtilEntries.h"
#include "media/FFUtils.h"
#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"

#include <algorithm>
#include <cstring>

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

// Without metadata maps every output takes the first input's tags (title,
// artist, album, track, dates, creation time); what the options set when
// the output opened stays.
void CarrySourceTags(const std::vector<THeaderSource>& inputs,
                     const std::vector<AVFormatContext*>& outputs) {
    if (inputs.empty()) return;
    const AVDictionary* tags = inputs[0].Context->metadata;
    for (AVFormatContext* output : outputs) {
        const AVDictionaryEntry* entry = nullptr;
        while ((entry = ff::avutil.av_dict_get(tags, "", entry, AV_DICT_IGNORE_SUFFIX)))
            if (!SourceOnlyTag(entry->key))
                ff::avutil.av_dict_set(&output->metadata, entry->key, entry->value,
                                       AV_DICT_DONT_OVERWRITE);
        DateFromCreationTime(output);
    }
}

} // namespace

void CopyTags(const std::vector<TMetaDataMap>& maps, const std::vector<THeaderSource>& inputs,
              const std::vector<AVFormatContext*>& outputs) {
    if (maps.empty()) CarrySourceTags(inputs, outputs);
    for (const TMetaDataMap& map : maps) {
        if (map.OutFile < 0 || map.OutFile >= static_cast<int>(outputs.size()))
            throw FFmpegException(FormatText("Invalid output file index %d map_meta_data(%d,%d)",
                                             map.OutFile, map.OutFile, map.InFile));
        if (map.InFile < 0 || map.InFile >= static_cast<int>(inputs.size()))
            throw FFmpegException(FormatText("Invalid input file index %d map_meta_data(%d,%d)",
                                             map.InFile, map.OutFile, map.InFile));
        ff::avutil.av_dict_copy(&outputs[map.OutFile]->metadata,
                                inputs[map.InFile].Context->metadata, AV_DICT_DONT_OVERWRITE);
    }
}

void CopyChapters(const std::vector<THeaderSource>& inputs,
                  const std::vector<AVFormatContext*>& outputs, int64_t startTime,
                  int64_t recordingTime) {
    for (const THeaderSource& source : inputs) {
        const AVFormatContext* input = source.Context;
        if (input->nb_chapters == 0) continue;
        const int64_t offset = source.TsOffset;
        for (AVFormatContext* output : outputs) {
            const int64_t start = startTime - offset;
            const bool limited = recordingTime != INT64_MAX;
            for (unsigned c = 0; c < input->nb_chapters; ++c) {
                const AVChapter* chapter = input->chapters[c];
                const AVRational base{1, AV_TIME_BASE};
                const int64_t shift = ff::avutil.av_rescale_q(start, base, chapter->time_base);
                const int64_t limit =
                    limited ? ff::avutil.av_rescale_q(recordingTime, base, chapter->time_base)
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

void WriteHeaders(const std::vector<AVFormatContext*>& outputs) {
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        // The encoders' time bases were what the packets are made in; the
        // muxer may choose its own in the header.
        const int code = ff::avformat.avformat_write_header(outputs[i], nullptr);
        if (code < 0) {
            const std::string text = FormatText(
                "Could not write header for output file #%d (incorrect codec parameters ?)",
                static_cast<int>(i));
            GetLogger().Log(nullptr, llError, MediaErrorText(text, code));
            throw FFmpegException(text);
        }
    }
    bool allRtp = !outputs.empty();
    for (const AVFormatContext* output : outputs)
        allRtp &= std::string(output->oformat->name) == "rtp";
    if (allRtp) {
        char sdp[2048] = {};
        std::vector<AVFormatContext*> files = outputs;
        ff::avformat.av_sdp_create(files.data(), static_cast<int>(files.size()), sdp, sizeof(sdp));
        GetLogger().Log(nullptr, llInfo, std::string("SDP:\r\n") + sdp);
    }
}
