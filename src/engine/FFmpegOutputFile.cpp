// One output file of a task: closing it and putting its result in place.
#include "engine/FFmpegOutputFile.h"

#include "media/FFUtils.h"
#include "media/FFmpegLoader.h"

TOutputFile::~TOutputFile() {
    Close(false);
}

std::string TOutputFile::Close(bool keep) {
    if (!Context) return {};
    std::string error;
    const bool ownsFile = Context->oformat && !(Context->oformat->flags & AVFMT_NOFILE);
    if (ownsFile && Context->pb) {
        // A write that failed late (a full disk) shows in the stream's error.
        ff::avformat.avio_flush(Context->pb);
        const int written = Context->pb->error;
        const int closed = ff::avformat.avio_closep(&Context->pb);
        const int code = written < 0 ? written : closed;
        if (keep && code < 0) error = MediaErrorText(FileName, code);
    }
    ff::avformat.avformat_free_context(Context);
    Context = nullptr;
    // A file that holds nothing never replaces the target; one that went
    // away while it was written (its folder removed) is a failure, not a
    // finished file.
    const long long size = Target.WrittenSize();
    if (keep && error.empty() && size < 0)
        error = MediaErrorText(FileName, AVERROR(ENOENT));
    else if (keep && error.empty() && !Discard && (!Target.Replaces() || size > 0))
        error = Target.Commit();
    Target.Discard();
    return error;
}

void TOutputFile::NameTheWrittenFile() {
    if (!Context || !Target.Replaces() || Target.WriteName() == (Context->url ? Context->url : ""))
        return;
    char* name = ff::avutil.av_strdup(Target.WriteName().c_str());
    if (!name) return;
    ff::avutil.av_free(Context->url);
    Context->url = name;
}
