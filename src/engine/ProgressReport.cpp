// The progress report's counters and text line.
#include "engine/ProgressReport.h"

#include "media/MyUtils.h"

#include <algorithm>
#include <cmath>

void TProgressReport::Start(int64_t now) {
    FStartTime = FLastReport = now;
}

bool TProgressReport::Due(int64_t now, int64_t interval) {
    if (now - FLastReport <= interval) return false;
    FLastReport = now;
    return true;
}

double TProgressReport::Elapsed(int64_t now) const {
    return static_cast<double>(now - FStartTime) / 1000000.0;
}

double TProgressReport::ReportTime(double earliestEnd) {
    // A stream that writes its first packet late (an encoder's look-ahead)
    // would pull the time back.
    FReportedTime = std::max(std::max(earliestEnd, 0.01), FReportedTime);
    return FReportedTime;
}

void TProgressReport::Dropped() {
    ++FDropFrames;
    FChanged = true;
}

void TProgressReport::Duplicated(int copies) {
    FDupFrames += copies;
    FChanged = true;
}

void TProgressReport::TakeBack(int copies) {
    FDupFrames -= copies;
}

bool TProgressReport::TakeChanged() {
    const bool changed = FChanged;
    FChanged = false;
    return changed;
}

namespace {

double Psnr(double meanSquaredError) {
    return -10.0 * std::log10(meanSquaredError);
}

// "PSNR=" with Y, U, V and all planes together: of the last picture, or of
// all of them in the final report.
std::string PsnrText(const TReportPicture& picture, bool final) {
    std::string text = "PSNR=";
    double errorSum = 0, scaleSum = 0;
    for (int plane = 0; plane < 3; ++plane) {
        const auto error =
            static_cast<double>(final ? picture.ErrorSum[plane] : picture.Error[plane]);
        double scale = static_cast<double>(picture.Width) * picture.Height * 255.0 * 255.0;
        if (final) scale *= picture.FrameNumber;
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
std::string TProgressReport::QpHistogramText(float quality) {
    const long qp = std::lrint(quality);
    if (qp >= 0 && qp < static_cast<long>(FQpHistogram.size())) ++FQpHistogram[qp];
    std::string text;
    for (int bin = 0; bin < 32; ++bin)
        text += FormatText("%X", static_cast<int>(std::lrint(std::log2(FQpHistogram[bin] + 1.0))));
    return text;
}

std::string TProgressReport::Line(bool final, const TReportPicture* picture, double time,
                                  double bitRate, int64_t size) {
    std::string line;
    if (picture) {
        line = FormatText("frame=%5d fps=%3d q=%3.1f ", picture->FrameNumber, picture->Fps,
                          static_cast<double>(picture->Quality));
        if (final) line += "L";
        if (FQpHistogramOn) line += QpHistogramText(picture->Quality);
        if (picture->Psnr) line += PsnrText(*picture, final);
        for (float quality : picture->OtherQualities)
            line += FormatText("q=%2.1f ", static_cast<double>(quality));
    }
    line +=
        FormatText("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", size / 1024.0, time, bitRate);
    if (FDupFrames || FDropFrames) line += FormatText(" dup=%d drop=%d", FDupFrames, FDropFrames);
    if (line.size() > 1023) line.resize(1023);
    return line;
}
