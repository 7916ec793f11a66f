#include "engine/ProgressSender.h"

#include "media/AVFormatEntries.h"
#include "media/AVUtilEntries.h"
#include "media/FFmpegLogger.h"

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

const TOutputStream* FirstActiveVideo(const std::vector<TOutputStream>& streams) {
    for (const TOutputStream& ost : streams)
        if (ost.MediaType == AVMEDIA_TYPE_VIDEO && ost.Active) return &ost;
    return nullptr;
}

// Seconds: the earliest end written of the streams that wrote; 0 when none did.
double EarliestEnd(const std::vector<TOutputStream>& streams) {
    double earliest = 0;
    for (const TOutputStream& ost : streams)
        if (ost.Writing.OutTime > 0 && (earliest == 0 || ost.Writing.OutTime < earliest))
            earliest = ost.Writing.OutTime;
    return earliest;
}

void LogLine(const std::string& line) {
    GetLogger().Log(nullptr, llVerbose, line);
}

} // namespace

TProgressSender::TProgressSender(TProgressReport& report, TPacketWriter& writer,
                                 const std::vector<TOutputStream>& streams,
                                 const std::vector<AVFormatContext*>& outputs, int verbose,
                                 int64_t interval, TSend send)
    : FReport(report), FWriter(writer), FStreams(streams), FOutputs(outputs), FVerbose(verbose),
      FInterval(interval), FSend(std::move(send)) {}

void TProgressSender::Maybe(int fileIndex) {
    if (FReport.Due(ff::avutil.av_gettime(), FInterval)) Report(false, fileIndex);
}

int64_t TProgressSender::FirstOutputSize() const {
    AVIOContext* pb = FOutputs.empty() ? nullptr : FOutputs[0]->pb;
    if (!pb) return 0;
    int64_t size = ff::avformat.avio_size(pb);
    if (size < 0) size = ff::avformat.avio_seek(pb, 0, SEEK_CUR);
    return size < 0 ? 0 : size;
}

void TProgressSender::Report(bool final, int fileIndex) {
    const bool callback = static_cast<bool>(FSend);
    if (!callback && FVerbose <= 0 && !final) return;
    TProgressValues values;
    values.FileIndex = fileIndex;
    std::unique_lock lock(FWriter.Lock()); // until the line is made
    values.Size = FirstOutputSize();
    const TOutputStream* video = FirstActiveVideo(FStreams);
    TReportPicture picture;
    if (video) {
        values.FrameNumber = static_cast<int>(video->FrameNumber);
        if (values.FrameNumber < 1) return;
        const double t = FReport.Elapsed(ff::avutil.av_gettime());
        values.Fps = t > 1 ? static_cast<int>(values.FrameNumber / t + 0.5) : 0;
        picture = PictureNumbers(*video, FStreams, values.Fps);
        values.Quality = picture.Quality;
    }
    const double t1 = FReport.ReportTime(EarliestEnd(FStreams));
    const double bitRate = static_cast<double>(values.Size) * 8 / t1 / 1000;
    const std::string line =
        FReport.Line(final, video ? &picture : nullptr, t1, bitRate, values.Size);
    lock.unlock();
    values.BitRate = static_cast<float>(bitRate);
    values.Time = static_cast<int64_t>(t1 * 1000000);
    if (FVerbose >= 0 && callback && FReport.TakeChanged()) LogLine(line);
    if (callback)
        FSend(values);
    else if (FVerbose >= 0)
        LogLine(line);
    if (final && FVerbose >= 0) LogLine(FWriter.Totals(values.Size));
}
