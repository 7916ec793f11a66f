// The progress report of a conversion: gathering what the report shows from
// the streams and outputs, and handing the values to the progress callback.
#include "engine/FFmpegTranscoder.h"

#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"

void TTranscoder::MaybeReport(int fileIndex) {
    if (FProgress.Due(ff::avutil.av_gettime(), FEngine.ProgressInterval))
        ProgressReport(false, fileIndex);
}

namespace {

// What the report shows of the first active video stream; under the write
// lock, which the encoders' threads hold when they set these numbers.
TReportPicture PictureNumbers(const TOutputStream& video, const std::vector<TOutputStream>& streams,
                              int fps) {
    TReportPicture picture;
    picture.FrameNumber = static_cast<int>(video.FrameNumber);
    picture.Fps = fps;
    picture.Quality = video.Copy ? -1.0f : video.Video.Quality;
    if (video.Encoder && (video.Encoder->flags & AV_CODEC_FLAG_PSNR)) {
        picture.Psnr = true;
        picture.Width = video.Encoder->width;
        picture.Height = video.Encoder->height;
        picture.Error = video.Video.Error;
        picture.ErrorSum = video.Video.ErrorSum;
    }
    for (const TOutputStream& ost : streams)
        if (&ost != &video && ost.MediaType == AVMEDIA_TYPE_VIDEO)
            picture.OtherQualities.push_back(ost.Video.Quality);
    return picture;
}

} // namespace

int64_t TTranscoder::FirstOutputSize() const {
    AVIOContext* pb = FOutputs.empty() ? nullptr : FOutputs[0]->pb;
    if (!pb) return 0;
    int64_t size = ff::avformat.avio_size(pb);
    if (size < 0) size = ff::avformat.avio_seek(pb, 0, SEEK_CUR);
    return size < 0 ? 0 : size;
}

void TTranscoder::ProgressReport(bool final, int fileIndex) {
    const bool callback = static_cast<bool>(FEngine.OnProgressCallback);
    if (!callback && FOptions.Verbose <= 0 && !final) return;
    std::unique_lock lock(FWriter.Lock()); // until the line is made
    const int64_t size = FirstOutputSize();
    const TOutputStream* video = nullptr;
    for (const TOutputStream& ost : FOutputStreams)
        if (ost.MediaType == AVMEDIA_TYPE_VIDEO && ost.Active) {
            video = &ost;
            break;
        }
    int frameNumber = -1, fps = -1;
    float quality = -1.0f;
    TReportPicture picture;
    if (video) {
        frameNumber = static_cast<int>(video->FrameNumber);
        if (frameNumber < 1) return;
        const double t = FProgress.Elapsed(ff::avutil.av_gettime());
        fps = t > 1 ? static_cast<int>(frameNumber / t + 0.5) : 0;
        picture = PictureNumbers(*video, FOutputStreams, fps);
        quality = picture.Quality;
    }
    double earliest = 0;
    for (const TOutputStream& ost : FOutputStreams)
        if (ost.Writing.OutTime > 0 && (earliest == 0 || ost.Writing.OutTime < earliest))
            earliest = ost.Writing.OutTime;
    const double t1 = FProgress.ReportTime(earliest);
    const double bitRate = static_cast<double>(size) * 8 / t1 / 1000;
    const std::string line = FProgress.Line(final, video ? &picture : nullptr, t1, bitRate, size);
    lock.unlock();
    if (FOptions.Verbose >= 0 && callback && FProgress.TakeChanged()) Log(llVerbose, line);
    if (callback)
        FEngine.OnProgressCallback(&FEngine.Task, fileIndex, frameNumber, fps, quality,
                                   static_cast<float>(bitRate), size,
                                   static_cast<int64_t>(t1 * 1000000), FEngine.FTotalDuration);
    else if (FOptions.Verbose >= 0)
        Log(llVerbose, line);
    if (final && FOptions.Verbose >= 0) Log(llVerbose, FWriter.Totals(size));
}
