#include "engine/CopiedAttachments.h"

#include "engine/FFmpegRecords.h"
#include "engine/StreamCopy.h"
#include "media/FFHandles.h"
#include "media/FFmpegLoader.h"

#include <cstring>

namespace {

bool IsCover(const AVStream* stream) {
    const AVCodecID id = stream->codecpar->codec_id;
    return (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0 &&
           (id == AV_CODEC_ID_MJPEG || id == AV_CODEC_ID_PNG) && stream->attached_pic.size > 0;
}

void SetTagIfMissing(AVStream* stream, const char* key, const char* value) {
    if (!ff::avutil.av_dict_get(stream->metadata, key, nullptr, 0))
        ff::avutil.av_dict_set(&stream->metadata, key, value, 0);
}

// The cover's image as the attached file's data.
void TakeCoverImage(AVCodecParameters* out, const AVStream* cover) {
    const AVPacket& image = cover->attached_pic;
    out->codec_type = AVMEDIA_TYPE_ATTACHMENT;
    out->codec_id = cover->codecpar->codec_id;
    out->extradata = static_cast<uint8_t*>(
        ff::avutil.av_mallocz(static_cast<std::size_t>(image.size) + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!out->extradata) throw FFmpegException("av_mallocz fail");
    std::memcpy(out->extradata, image.data, static_cast<std::size_t>(image.size));
    out->extradata_size = image.size;
}

} // namespace

bool KeepsAttachments(const AVFormatContext* output) {
    return IsMatroska(output->oformat);
}

bool GoesAsAttachment(const AVStream* stream) {
    const AVCodecParameters* par = stream->codecpar;
    return (par->codec_type == AVMEDIA_TYPE_ATTACHMENT && par->extradata_size > 0) ||
           (par->codec_type == AVMEDIA_TYPE_VIDEO && IsCover(stream));
}

void CopyAttachments(AVFormatContext* output, const AVFormatContext* input) {
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* source = input->streams[i];
        if (!GoesAsAttachment(source)) continue;
        AVStream* attached = ff::avformat.avformat_new_stream(output, nullptr);
        if (!attached) throw FFmpegException("av_mallocz fail");
        ff::avutil.av_dict_copy(&attached->metadata, source->metadata, 0);
        if (source->codecpar->codec_type == AVMEDIA_TYPE_ATTACHMENT) {
            if (ff::avcodec.avcodec_parameters_copy(attached->codecpar, source->codecpar) < 0)
                throw FFmpegException("av_mallocz fail");
            continue;
        }
        TakeCoverImage(attached->codecpar, source);
        const bool png = source->codecpar->codec_id == AV_CODEC_ID_PNG;
        SetTagIfMissing(attached, "filename", png ? "cover.png" : "cover.jpg");
        SetTagIfMissing(attached, "mimetype", png ? "image/png" : "image/jpeg");
    }
}
