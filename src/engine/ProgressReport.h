// The progress report of a conversion: the counters it shows, when the next
// one is due, and the text line of the classic transcoder, made from the
// numbers the transcoder gathers. Plain numbers in, text out: no codec or
// file is touched here.
//
// Owned by the task's thread, which conducts the conversion: every member
// is used on it only (the transcoder reads the encoders' numbers under its
// write lock before handing them over).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The first active video stream's part of a report.
struct TReportPicture {
    int FrameNumber = 0;
    int Fps = 0;
    float Quality = -1.0f;             // -1 for a copied stream
    bool Psnr = false;                 // the encoder reports squared errors
    int Width = 0, Height = 0;         // the encoder's picture
    std::array<int64_t, 4> Error{};    // per plane, of the last coded picture
    std::array<int64_t, 4> ErrorSum{}; // per plane, of all coded pictures
    std::vector<float> OtherQualities; // the other video streams', in order
};

class TProgressReport {
public:
    // `qpHistogram`: the line shows the quantizers' histogram ("qphist").
    explicit TProgressReport(bool qpHistogram) : FQpHistogramOn(qpHistogram) {}

    // The loop begins at wall clock `now` (microseconds).
    void Start(int64_t now);
    // Whether more than `interval` microseconds passed since the last report
    // was due; if so, `now` is the last one.
    bool Due(int64_t now, int64_t interval);
    // Seconds since Start.
    double Elapsed(int64_t now) const;
    // The time a report shows, from the earliest end written of the streams
    // (seconds, 0 when none wrote yet): at least 0.01 and never less than
    // the last report's.
    double ReportTime(double earliestEnd);

    // A picture was dropped, or `copies` extra ones written; copies taken
    // back again do not count as a change.
    void Dropped();
    void Duplicated(int copies);
    void TakeBack(int copies);
    // Whether pictures were dropped or repeated since the last call.
    bool TakeChanged();

    // The report's line; `picture` is null when no video stream is active.
    // Counts the picture's quantizer in the histogram when that is shown.
    std::string Line(bool final, const TReportPicture* picture, double time, double bitRate,
                     int64_t size);

private:
    std::string QpHistogramText(float quality);

    const bool FQpHistogramOn;
    std::array<int, 52> FQpHistogram{}; // reports per rounded quantizer
    int64_t FStartTime = 0;             // wall clock when the loop began
    int64_t FLastReport = 0;            // wall clock of the last report due
    double FReportedTime = 0.0;         // seconds: the time shown never goes back
    int FDupFrames = 0, FDropFrames = 0;
    bool FChanged = false;
};
