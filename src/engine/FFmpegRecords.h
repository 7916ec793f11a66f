// Plain records exchanged between the converter component, its tasks and
// their callers: the input and output option records, the data of the four
// converter events, and the engine's exception class.
#pragma once

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

struct Bitmap24;

// Options given one at a time (a command line's "-name value"): each name
// and value reaches the engine as it is, whatever characters the value holds.
using TOptionPairs = std::vector<std::pair<std::string, std::string>>;

namespace vantrel_engine_detail {
// Same value as the media libraries' AV_NOPTS_VALUE: the sign bit alone.
constexpr int64_t kNoTime = std::numeric_limits<int64_t>::min();
} // namespace vantrel_engine_detail

// Raised by the engine for option and conversion errors; callers tell it
// apart from other exceptions (the main window shows it as a warning).
class FFmpegException : public std::runtime_error {
public:
    explicit FFmpegException(const std::string& message) : std::runtime_error(message) {}
};

// Priority of a task's worker thread.
enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Options of one input of a task. Unset numbers are -1 (times: no time),
// unset texts empty. Reset() gives the initial values.
struct TInputOptions {
    std::string FileName;                               // empty: AddTask's file name
    std::string ForceFormat;                            // "f"; empty = detect
    int64_t StartTime = vantrel_engine_detail::kNoTime; // "ss", microseconds
    int32_t ProgramID = -1;                             // "programid"; negative = unset
    std::string ExtOptions;                             // one name=value pair per line
    TOptionPairs ExtOptionPairs; // applied after the lines of ExtOptions, never split

    void Reset() { *this = TInputOptions(); }
};

// Options of one output of a task, applied by SetOutputFile in this order.
struct TOutputOptions {
    std::string FileName; // empty: SetOutputFile's file name
    std::string ForceFormat;
    int32_t PacketSize = -1;
    int32_t MuxRate = -1;
    float MuxDelay = -1.0f;   // seconds
    float MuxPreload = -1.0f; // seconds
    std::string AudioCodec;
    std::string AudioPreset;
    bool DisableAudio = false;
    int32_t AudioVolume = -1; // 256 = unchanged
    int32_t AudioChannels = -1;
    int32_t AudioSampleRate = -1; // Hz
    int32_t AudioBitrate = -1;    // bit/s
    int32_t AudioBitrateTolerance = -1;
    std::string AudioLanguage;
    int32_t AudioSyncMethod = 0;
    std::string AudioTag;
    std::string VideoCodec;
    std::string VideoPreset;
    bool DisableVideo = false;
    std::string FrameRate;
    std::string FrameSize;
    std::string FrameAspectRatio;
    int32_t CropTop = -1;
    int32_t CropBottom = -1;
    int32_t CropLeft = -1;
    int32_t CropRight = -1;
    int32_t GopSize = -1;
    int32_t VideoBitrate = -1;
    int32_t MaxRate = -1;
    int32_t MinRate = -1;
    int32_t VideoBitrateTolerance = -1;
    int32_t BufSize = -1; // bits
    int32_t VideoSyncMethod = -1;
    std::string VideoTag;
    std::string VideoFilters;
    std::string VideoLanguage;
    std::string SubtitleCodec;
    std::string SubtitlePreset;
    bool DisableSubtitle = false;
    std::string SubtitleLanguage;
    bool InputSync = false;
    bool CopyTimestamps = false;
    int64_t StartTime = vantrel_engine_detail::kNoTime;     // microseconds
    int64_t RecordingTime = vantrel_engine_detail::kNoTime; // microseconds
    double Timestamp = -1.0; // days since 1899-12-30, local time; 0 = now
    int32_t Year = -1;
    int32_t Track = -1;
    std::string Title;
    std::string Author;
    std::string Copyright;
    std::string Comment;
    std::string Album;
    std::string Genre;
    int32_t TargetType = 0;   // 1 vcd, 2 svcd, 3 dvd
    int32_t TargetNorm = 0;   // 1 pal, 2 ntsc, other auto
    int32_t FallbackNorm = 1; // 1 pal, other ntsc
    bool CustomHook = false;
    bool Join = false;
    std::string ExtOptions;
    TOptionPairs ExtOptionPairs; // applied after the lines of ExtOptions, never split

    void Reset() { *this = TOutputOptions(); }
};

// Data of one OnCustomHook call.
struct THookInfo {
    int32_t TaskIndex = -1;
    Bitmap24* Bitmap = nullptr; // the decoded frame; the handler may draw on it
    int32_t FrameNumber = 0;    // the first frame is 1
    int64_t PTS = 0;            // microseconds
    bool Update = true;         // in/out: False = bitmap left unchanged
    bool StopHook = false;      // in/out: True = no more hook calls for the task
};

// Data of one OnProgress call.
struct TProgressInfo {
    int32_t TaskIndex = -1;
    int32_t FileIndex = -1; // -1 in the final report
    int32_t FrameNumber = -1;
    int32_t FPS = -1;
    float Quality = -1.0f;
    float BitRate = 0.0f; // kbit/s
    int64_t CurrentSize = 0;
    int64_t CurrentDuration = 0; // microseconds
    int64_t TotalDuration = -1;  // microseconds; -1 unknown
};

// Data of one OnPreviewBitmap call.
struct TPreviewInfo {
    int32_t TaskIndex = -1;
    Bitmap24* Bitmap = nullptr;
    int32_t FrameNumber = 0;
    int64_t PTS = 0; // microseconds
};

// Data of one OnTerminate call; TaskIndex -1 ends the batch.
struct TTerminateInfo {
    int32_t TaskIndex = -1;
    bool Finished = false;
    bool ExceptionRaised = false;
    std::string ExceptionMsg;
    // A finished task whose output is well short of its source: the
    // sentence that says so and the share converted; else "" and 100.
    std::string EndedEarly;
    int ReachedPercent = 100;
};
