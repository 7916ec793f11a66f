// The media probe: opens a media file (or takes over a format context opened
// elsewhere), counts its streams by kind and describes the container and its
// audio and video streams. It decodes nothing.
//
//   TAVProbe probe;
//   if (!probe.LoadFile(path)) show(probe.LastErrMsg());
//   TVideoStreamInfo video;
//   if (probe.GetVideoStreamInfo(-1, video)) ... video.Width ...
//   std::string text = probe.GetFormatInfoText();
//
// A probe is used from one thread at a time. Media problems return false
// (or an empty text), keep their text in LastErrMsg and log it; a missing
// library raises EAVProbeError with "LibAVCodec not loaded." and the like.
#pragma once

#include "media/FFBaseComponent.h"
#include "media/FFHandles.h"
#include "media/FFUtils.h"
#include "media/FFmpegHeaders.h"
#include "media/FFmpegLogger.h"

#include <cstdint>
#include <stdexcept>
#include <string>

class EAVProbeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The container.
struct TFileStreamInfo {
    std::int64_t StartTime = -1; // microseconds, -1 when none
    std::int64_t Duration = -1;  // microseconds, -1 when none
    std::int32_t BitRate = -1;   // bits per second
    std::int64_t Timestamp = -1; // seconds since 1970-01-01 UTC ("creation_time"), 0 when none
    std::int32_t Year = -1;      // from "date" or "year", 0 when none
    std::int32_t Track = -1;     // from "track", 0 when none
    std::string Title;
    std::string Author;
    std::string Copyright;
    std::string Comment;
    std::string Album;
    std::string Genre;
};

struct TAudioStreamInfo {
    std::string Language;
    std::string CodecName;
    std::int64_t StartTime = -1; // stream time base, may be AV_NOPTS_VALUE
    std::int64_t StartTimeUS = -1;
    std::int64_t Duration = -1; // stream time base
    std::int64_t DurationUS = -1;
    std::int32_t BitRate = -1;
    std::int32_t Channels = -1;
    std::int32_t SampleRate = -1;
    std::int32_t SampleFormat = -1;
};

struct TVideoStreamInfo {
    std::string Language;
    std::string CodecName;
    std::int64_t StartTime = -1;
    std::int64_t StartTimeUS = -1;
    std::int64_t Duration = -1;
    std::int64_t DurationUS = -1;
    std::int32_t BitRate = -1;
    std::int32_t Height = -1;
    std::int32_t Width = -1;
    float DisplayAspect = -1.0f; // sample aspect ratio * width / height, 0 for 0/1
    std::int32_t PixelFormat = -1;
    std::int32_t FrameRateNum = -1;
    std::int32_t FrameRateDen = -1;
    // The picture as it is shown: the width scaled by the pixel aspect
    // (853x480 for a 720x480 frame of 32:27 pixels); the stored size when
    // the pixels are square or their aspect is unknown.
    std::int32_t DisplayWidth = -1;
    std::int32_t DisplayHeight = -1;
};

// The shown name of a stored metadata key ("TIT2" -> "title").
std::string TranslateMetadataKey(const std::string& key);
// ", 29.97 fps", ", 25 tbr", ", 90k tbn".
std::string RateText(double value, const char* unit);

class TCustomAVProbe : public TFFBaseComponent {
public:
    explicit TCustomAVProbe(TFFBaseComponent* owner = nullptr);
    ~TCustomAVProbe() override;

    // Opens a file; `formatName` forces an input format ("" detects it).
    bool LoadFile(const std::string& fileName, const std::string& formatName = "");
    // Takes over a context opened elsewhere; CloseFile only forgets it.
    virtual void AttachContext(AVFormatContext* context);
    virtual void CloseFile();
    virtual void RefreshInfo();

    bool GetFileStreamInfo(TFileStreamInfo& info);
    // A negative index means the first stream of the kind.
    bool GetAudioStreamInfo(int streamIndex, TAudioStreamInfo& info);
    bool GetVideoStreamInfo(int streamIndex, TVideoStreamInfo& info);
    bool IsAudioStream(int streamIndex);
    bool IsVideoStream(int streamIndex);
    std::string GetFileName();
    std::string GetFormatName();
    std::string GetFormatInfoText();

    AVFormatContext* FormatContext() const { return FFormatContext; }
    bool OwnsContext() const { return FOwnsContext; }
    const std::string& LastErrMsg() const { return FLastErrMsg; }
    const std::string& ForcedFormat() const { return FForcedFormat; }
    std::int64_t FileSize() const { return FFileSize; }
    int StreamCount() const { return FStreamCount; }
    int ProgramCount() const { return FProgramCount; }
    int AudioStreamCount() const { return FAudioStreamCount; }
    int VideoStreamCount() const { return FVideoStreamCount; }
    int SubtitleStreamCount() const { return FSubtitleStreamCount; }
    int FirstAudioStreamIndex() const { return FFirstAudioStreamIndex; }
    int FirstVideoStreamIndex() const { return FFirstVideoStreamIndex; }
    int FirstSubtitleStreamIndex() const { return FFirstSubtitleStreamIndex; }

protected:
    // Logs `text` at `level` with this probe as sender and keeps it.
    void ReportError(TLogLevel level, const std::string& text);
    void CheckLibraries() const;
    // The stream's kind is `mediaType` (an AVMediaType); a wrong index or no
    // open file is reported and false.
    bool IsStreamOfType(int streamIndex, int mediaType);
    void ForgetContext();

private:
    bool OpenInput(const std::string& fileName, const AVInputFormat* format);
    void ResetCounts();
    void CountStreams();
    AVStream* StreamOfKind(int& streamIndex, AVMediaType type);
    std::string StreamLine(int streamIndex);
    void AppendStreamsOf(std::string& text, const AVProgram* program, std::vector<bool>& shown);

    AVFormatContext* FFormatContext = nullptr;
    bool FOwnsContext = false;
    std::string FLastErrMsg;
    std::string FForcedFormat;
    std::int64_t FFileSize = -1;
    int FStreamCount = -1;
    int FProgramCount = -1;
    int FAudioStreamCount = -1;
    int FVideoStreamCount = -1;
    int FSubtitleStreamCount = -1;
    int FFirstAudioStreamIndex = -1;
    int FFirstVideoStreamIndex = -1;
    int FFirstSubtitleStreamIndex = -1;
};

// The probe that is created: adds the main stream (the first video stream,
// else the first audio stream) with its start time, a decoder context slot
// and a picture-to-bitmap context.
class TAVProbe : public TCustomAVProbe {
public:
    explicit TAVProbe(TFFBaseComponent* owner = nullptr);
    ~TAVProbe() override;

    void CloseFile() override;
    void RefreshInfo() override;

    int MainStreamIndex() const { return FMainStream; }
    // The main stream's start_time in its time base (or the container's in
    // microseconds without a main stream), 0 when none.
    std::int64_t StartTime() const { return FStartTime; }
    TToRGBContext& ToRGBContext() { return FToRGB; }

private:
    int FMainStream = -1;
    std::int64_t FStartTime = 0;
    ff::CodecContextPtr FDecoderContext; // closed under the codec lock
    TToRGBContext FToRGB;
};
