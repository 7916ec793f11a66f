#include "engine/LengthCheck.h"

#include "media/AVUtilEntries.h"
#include "media/FFUtils.h"
#include "media/MyUtils.h"

#include <algorithm>
#include <limits>

namespace {

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};
// An output this much and this share shorter than its sources ended early.
constexpr int64_t kEarlyEndSeconds = 2;
constexpr double kEarlyEndShare = 0.05;

int64_t ToMicroseconds(int64_t value, AVRational base) {
    return ff::avutil.av_rescale_q(value, base, kMicroseconds);
}

} // namespace

TLengthCheck::TLengthCheck(const TTables& tables, int64_t startTime, int64_t recordingTime)
    : FTables(tables), FStartTime(startTime), FRecordingTime(recordingTime) {}

// The mapped streams' own lengths where they all tell (the container's
// length counts its longest stream, mapped or not), else the container's;
// after the start point and within the recording time. Unknown when only
// guessed from the bit rate.
int64_t TLengthCheck::Expected(const std::vector<TInputFile>& inputs) const {
    for (const TInputFile& input : inputs)
        if (input.Context->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE) return 0;
    const int64_t mapped = MappedLength(inputs);
    const int64_t sought = inputs.empty() ? 0 : inputs[0].SoughtTime;
    int64_t length = (mapped > 0 ? mapped : FTables.SourceDuration - sought) - FStartTime;
    if (FRecordingTime != std::numeric_limits<int64_t>::max())
        length = std::min(length, FRecordingTime);
    return std::max<int64_t>(length, 0);
}

// The longest mapped stream past the time left out of its file; 0 when one
// does not tell its length, or the inputs are joined.
int64_t TLengthCheck::MappedLength(const std::vector<TInputFile>& inputs) const {
    int64_t mapped = 0;
    for (const TOutputStream& ost : FTables.Outputs) {
        if (FTables.Joined || ost.SourceIndex < 0) continue;
        const TInputStream& ist = FTables.Inputs[ost.SourceIndex];
        const AVStream* stream = ist.Stream;
        if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) continue;
        if (stream->duration == AV_NOPTS_VALUE || stream->duration <= 0) return 0;
        int64_t end = ToMicroseconds(stream->duration, stream->time_base);
        const int64_t start = inputs[ist.FileIndex].Context->start_time;
        if (stream->start_time != AV_NOPTS_VALUE && start != AV_NOPTS_VALUE)
            end += ToMicroseconds(stream->start_time, stream->time_base) - start;
        mapped = std::max(mapped, end - inputs[ist.FileIndex].SoughtTime);
    }
    return mapped;
}

// Short by more than kEarlyEndSeconds and kEarlyEndShare of the length.
TLengthCheck::TShortfall TLengthCheck::Shortfall(int64_t expected) const {
    if (expected <= 0) return {};
    double reached = 0.0;
    for (const TOutputStream& ost : FTables.Outputs)
        reached = std::max(reached, ost.Writing.ShownEnd);
    const auto written = static_cast<int64_t>(reached * AV_TIME_BASE);
    const int64_t missing = expected - written;
    if (missing <= kEarlyEndSeconds * AV_TIME_BASE ||
        static_cast<double>(missing) <= kEarlyEndShare * static_cast<double>(expected))
        return {};
    return {FormatText("The source ended at %s of its %s: the output is shorter than the source",
                       DurationToText(written).c_str(), DurationToText(expected).c_str()),
            static_cast<int>(std::clamp<int64_t>(written * 100 / expected, 0, 99))};
}
