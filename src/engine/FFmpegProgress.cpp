// The progress report of a conversion: the text line of the classic
// transcoder and the values handed to the progress callback.
#include "engine/FFmpegTranscoder.h"

#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"

#include <algorithm>
#include <cmath>

void TTranscoder::MaybeReport(int fileIndex) {
    const int64_t now = ff::avutil.av_gettime();
    if (now - FLastReport <= FEngine.ProgressInterval) return;
    FLastReport = now;
    ProgressReport(false, fileIndex);
}

void TTranscoder::ProgressReport(bool final, int fileIndex) {
    const bool callback = static_cast<bool>(FEngine.OnProgressCallback);
    if (!callback && FOptions.Verbose <= 0 && !final) return;
    std::unique_lock lock(FWriteLock); // until the line is made
    int64_t size = 0;
    if (AVIOContext* pb = FOutputs.empty() ? nullptr : FOutputs[0]->pb) {
        size = ff::avformat.avio_size(pb);
        if (size < 0) size = ff::avformat.avio_seek(pb, 0, SEEK_CUR);
        if (size < 0) size = 0;
    }
    TOutputStream* video = nullptr;
    for (TOutputStream& ost : FOutputStreams)
        if (ost.MediaType == AVMEDIA_TYPE_VIDEO && ost.Active) {
            video = &ost;
            break;
        }
    int frameNumber = -1, fps = -1;
    float quality = -1.0f;
    if (video) {
        frameNumber = static_cast<int>(video->FrameNumber);
        if (frameNumber < 1) return;
        const double t = static_cast<double>(ff::avutil.av_gettime() - FStartTime) / 1000000.0;
        fps = t > 1 ? static_cast<int>(frameNumber / t + 0.5) : 0;
        quality = video->Copy ? -1.0f : video->Video.Quality;
    }
    double t1 = 10000000000.0;
    for (const TOutputStream& ost : FOutputStreams)
        if (ost.Writing.OutTime > 0 && ost.Writing.OutTime < t1) t1 = ost.Writing.OutTime;
    if (t1 == 10000000000.0 || t1 < 0.01) t1 = 0.01;
    // A stream that writes its first packet late (an encoder's look-ahead)
    // would pull the time back.
    t1 = std::max(t1, FReportedTime);
    FReportedTime = t1;
    const double bitRate = static_cast<double>(size) * 8 / t1 / 1000;
    const std::string line = ReportLine(final, video, t1, bitRate, size, frameNumber, fps, quality);
    lock.unlock();
    if (FChanged && FOptions.Verbose >= 0 && callback) {
        FChanged = false;
        Log(llVerbose, line);
    }
    if (callback)
        FEngine.OnProgressCallback(&FEngine.Task, fileIndex, frameNumber, fps, quality,
                                   static_cast<float>(bitRate), size,
                                   static_cast<int64_t>(t1 * 1000000), FEngine.FTotalDuration);
    else if (FOptions.Verbose >= 0)
        Log(llVerbose, line);
    if (final && FOptions.Verbose >= 0) {
        const int64_t sum = FVideoBytes + FAudioBytes + FHeaderBytes;
        Log(llVerbose,
            FormatText(
                "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n",
                FVideoBytes / 1024.0, FAudioBytes / 1024.0, FHeaderBytes / 1024.0,
                sum ? static_cast<double>(size - sum) * 100 / sum : 0.0));
    }
}

namespace {

double Psnr(double meanSquaredError) {
    return -10.0 * std::log10(meanSquaredError);
}

// "PSNR=" with Y, U, V and all planes together: of the last picture, or of
// all of them in the final report.
std::string PsnrText(const TOutputStream& ost, bool final, int frameNumber) {
    const AVCodecContext* encoder = ost.Encoder;
    std::string text = "PSNR=";
    double errorSum = 0, scaleSum = 0;
    for (int plane = 0; plane < 3; ++plane) {
        const auto error =
            static_cast<double>(final ? ost.Video.ErrorSum[plane] : ost.Video.Error[plane]);
        double scale = static_cast<double>(encoder->width) * encoder->height * 255.0 * 255.0;
        if (final) scale *= frameNumber;
        if (plane > 0) scale /= 4;
        errorSum += error;
        scaleSum += scale;
        text += FormatText("%c:%2.2f ", "YUV"[plane], Psnr(error / scale));
    }
    return text + FormatText("*:%2.2f ", Psnr(errorSum / scaleSum));
}

} // namespace

// Counts this report's quantizer and gives the histogram's first 32 bins as
// one hexadecimal digit each (the rounded log2 of count + 1).
std::string TTranscoder::QpHistogramText(float quality) {
    const long qp = std::lrint(quality);
    if (qp >= 0 && qp < static_cast<long>(FQpHistogram.size())) ++FQpHistogram[qp];
    std::string text;
    for (int bin = 0; bin < 32; ++bin)
        text += FormatText("%X", static_cast<int>(std::lrint(std::log2(FQpHistogram[bin] + 1.0))));
    return text;
}

std::string TTranscoder::ReportLine(bool final, TOutputStream* video, double t1, double bitRate,
                                    int64_t size, int frameNumber, int fps, float quality) {
    std::string line;
    if (video) {
        line = FormatText("frame=%5d fps=%3d q=%3.1f ", frameNumber, fps,
                          static_cast<double>(quality));
        if (final) line += "L";
        if (FOptions.QpHist) line += QpHistogramText(quality);
        if (video->Encoder && (video->Encoder->flags & AV_CODEC_FLAG_PSNR))
            line += PsnrText(*video, final, frameNumber);
        for (const TOutputStream& ost : FOutputStreams)
            if (&ost != video && ost.MediaType == AVMEDIA_TYPE_VIDEO)
                line += FormatText("q=%2.1f ", static_cast<double>(ost.Video.Quality));
    }
    line += FormatText("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", size / 1024.0, t1, bitRate);
    if (FDupFrames || FDropFrames) line += FormatText(" dup=%d drop=%d", FDupFrames, FDropFrames);
    if (line.size() > 1023) line.resize(1023);
    return line;
}
