// The option state of one task engine and the helpers of option parsing
// that need no media library: splitting of option text, number reading,
// tags, aspect ratios, stream maps and quantizer matrices.
#pragma once

#include "engine/FFmpegRecords.h"

#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct AVBitStreamFilter;

// The engine's file limits.
constexpr int MAX_FILES = 20;
constexpr int MAX_STREAMS = 20;
constexpr int MAX_STREAM_MAPS = 400;
constexpr int MAX_META_DATA_MAPS = 20;

// One "map" entry: input file and stream, and the stream it syncs to.
struct TStreamMap {
    int FileIndex = 0;
    int StreamIndex = 0;
    int SyncFileIndex = 0;
    int SyncStreamIndex = 0;
};

// One "map_meta_data" entry.
struct TMetaDataMap {
    int OutFile = 0;
    int InFile = 0;
};

// A bitstream filter of a chain, with the text after its name ("name=args").
struct TBitstreamFilterEntry {
    const AVBitStreamFilter* Filter = nullptr;
    std::string Args;
};

// One frame-hook module request: the module file, then its arguments.
using THookModuleWords = std::vector<std::string>;

// The media kind an option is given for or a stream has: the one numbering
// of the option state's per-kind values (the libraries' media types number
// subtitles differently; MediaKindOf converts). Any: an option given for no
// kind in particular.
enum class TMediaKind : int8_t { Any = -1, Video = 0, Audio = 1, Subtitle = 2 };

inline constexpr std::array<TMediaKind, 3> kMediaKinds = {TMediaKind::Video, TMediaKind::Audio,
                                                          TMediaKind::Subtitle};

// The position of a kind other than Any in per-kind arrays.
constexpr std::size_t KindIndex(TMediaKind kind) {
    return static_cast<std::size_t>(kind);
}

// The kind of a stream of the libraries' media type (an AVMediaType):
// everything but video and audio counts as subtitle.
TMediaKind MediaKindOf(int mediaType);
// The kind an option name's first letter selects: "v" video, "a" audio,
// anything else subtitle ("vcodec", "acodec", "scodec").
TMediaKind MediaKindOfOption(const std::string& name);

// One value per kind other than Any.
template <typename T> struct TByKind {
    std::array<T, 3> Values{};
    T& operator[](TMediaKind kind) { return Values[KindIndex(kind)]; }
    const T& operator[](TMediaKind kind) const { return Values[KindIndex(kind)]; }
    bool operator==(const TByKind&) const = default;
};

// Encoder-private options kept for the next stream of one kind.
using TPrivateOptions = std::vector<std::pair<std::string, std::string>>;

// An option that neither the generic option contexts nor a known encoder or
// muxer took: it waits for the next output, whose muxer and encoders are
// known once it opens. `Kind` is the media kind it was given for;
// `Refusal` is raised when nothing takes it (empty: a warning is logged).
struct TPendingOption {
    std::string Name, Value;
    TMediaKind Kind = TMediaKind::Any;
    std::string Refusal;
};

// Which sound settings of an encoder the options gave; the others follow
// the track the sound is made from.
struct TSoundSettingsGiven {
    bool SampleRate = false; // "ar", a target
    bool Channels = false;   // "ac", a target
    bool SampleFmt = false;  // "sample_fmt"
};

// The option state of one task; every field has its reset value. Owned and
// used by the task's caller thread while the task is idle, then read by the
// conversion on the task's own thread (never both at once).
struct TOptionState {
    std::string FormatName;              // "f"; cleared when a file used it
    int FrameWidth = 0, FrameHeight = 0; // "s"
    bool FrameSizeOfTarget = false;      // the size is the one a "target" gave
    float FrameAspectRatio = 0.0f;       // "aspect"
    int FramePixFmt = -1;                // "pix_fmt"
    int AudioSampleFmt = -1;             // "sample_fmt"
    int FrameTopBand = 0, FrameBottomBand = 0, FrameLeftBand = 0, FrameRightBand = 0;
    std::array<int, 4> MaxFrames = {2147483647, 2147483647, 2147483647, 2147483647};
    int FrameRateNum = 0, FrameRateDen = 0; // "r"
    float VideoQScale = 0.0f;
    std::unique_ptr<std::array<uint16_t, 64>> IntraMatrix; // none until used
    std::unique_ptr<std::array<uint16_t, 64>> InterMatrix;
    bool HasRcOverride = false;
    std::string RcOverride;
    bool VideoDisable = false;
    int VideoDiscard = 0;
    bool HasVideoCodecName = false;
    std::string VideoCodecName;
    uint32_t VideoCodecTag = 0;
    std::string VideoLanguage;
    bool SameQuality = false;
    bool DoDeinterlace = false;
    int TopFieldFirst = -1;
    int MeThreshold = 0;
    int IntraDcPrecision = 8;
    bool LoopInput = false;
    int LoopOutput = -1;
    bool QpHist = false;
    std::string VFilters;
    bool IntraOnly = false;
    int AudioSampleRate = 44100;
    int64_t AudioChannelLayout = 0;
    float AudioQScale = -99999.0f;
    bool AudioDisable = false;
    int AudioChannels = 2;
    TSoundSettingsGiven AudioGiven; // since the last input was opened
    bool HasAudioCodecName = false;
    std::string AudioCodecName;
    uint32_t AudioCodecTag = 0;
    std::string AudioLanguage;
    bool SubtitleDisable = false;
    bool HasSubtitleCodecName = false;
    std::string SubtitleCodecName;
    std::string SubtitleLanguage;
    uint32_t SubtitleCodecTag = 0;
    float MuxPreload = 0.5f;
    float MuxMaxDelay = 0.7f;
    int64_t RecordingTime = std::numeric_limits<int64_t>::max();
    int64_t StartTime = 0;
    int64_t RecordingTimestamp = 0; // seconds
    int64_t InputTsOffset = 0;
    std::vector<std::pair<std::string, std::string>> Metadata;
    bool DoHexDump = false, DoPktDump = false, DoPsnr = false;
    int DoPass = 0;
    std::string PassLogFileName;
    bool AudioStreamCopy = false, VideoStreamCopy = false, SubtitleStreamCopy = false;
    int VideoSyncMethod = -1;
    int AudioSyncMethod = 0;
    float AudioDriftThreshold = 0.1f;
    bool CopyTs = false;
    // Every video, audio and subtitle stream of the first input copied as it
    // is into the next output (its streams, not only the best of each kind).
    bool CopyAllStreams = false;
    // Encoded pictures keep a deep source's bit depth (4:2:0) and its HDR
    // colours instead of being tone-mapped to 8-bit SDR.
    bool KeepHdr = false;
    // The stream of the first input the next output's sound is made from;
    // -1: the libraries' best one.
    int AudioSourceStream = -1;
    bool OptShortest = false;
    int VideoGlobalHeader = 0;
    bool HasVStatsFileName = false;
    std::string VStatsFileName;
    int OptProgramID = 0;
    int CopyInitialNonkeyframes = 0;
    bool RateEmu = false;
    int VideoChannel = 0;
    bool HasVideoStandard = false;
    std::string VideoStandard;
    int AudioVolume = 256;
    std::string AudioFilters; // "af": a chain of audio filters, each block in and out
    bool ExitOnError = false;
    int Verbose = 1;
    int ThreadCount = 0; // of every codec; 0: the codec's choice
    int64_t LimitFileSize = 0;
    bool ForceFps = false;
    bool InputSync = false;
    bool UsingPgmyuv = false; // grey-map input
    float DtsDeltaThreshold = 10.0f;
    int SwsFlags = 4; // bicubic
    std::vector<TStreamMap> StreamMaps;
    std::vector<TMetaDataMap> MetaDataMaps;
    std::array<int, MAX_STREAMS> StreamIdMap{};
    std::array<double, MAX_STREAMS> NextInputTsScale{}; // for the input opened next
    TByKind<std::vector<TBitstreamFilterEntry>> BitstreamFilters;
    std::vector<THookModuleWords> HookModules;
    bool UsingVhook = false;
    TByKind<TPrivateOptions> PrivateOptions;
    TPrivateOptions FormatPrivateOptions;       // private options of the requested output format
    std::vector<TPendingOption> PendingOptions; // for the next output's muxer and encoders
    // Options the libraries share between kinds ("b", "maxrate", ...): the
    // kinds each was given for (bit KindIndex); only those get it.
    std::map<std::string, int> SharedOptionKinds;
};

// Takes the waiting options given for no kind in particular out of the
// state, in their order; those of one kind stay.
std::vector<TPendingOption> TakeAnyKindPendingOptions(TOptionState& state);

// The codec name chosen for a kind other than Any; empty while none is.
std::string ChosenCodecName(const TOptionState& state, TMediaKind kind);

// True for the codec options current libraries share between audio and
// video, which a task gives only to the kind they were meant for.
bool IsSharedCodecOption(const std::string& name);

// The text with CR LF and a lone CR each turned into LF.
std::string UnifyLineBreaks(const std::string& text);
// Splits an option text into (name, value) pairs: the whole text is trimmed,
// CR LF / CR / LF and the literal "<CRLF>" separate lines, each line is cut
// at its first "=", the name lower-cased; nothing is trimmed further.
std::vector<std::pair<std::string, std::string>> SplitOptionLines(const std::string& text);
// The options of a record: the lines of its option text, then its pairs
// with their names lower-cased; a pair's value is never split.
TOptionPairs RecordOptions(const std::string& text, const TOptionPairs& pairs);

// True for names an input's ExtOptions never applies ("newvideo", presets, filters...).
bool IsInputSkippedOption(const std::string& name);
// True for names an output's ExtOptions leaves to the component.
bool IsOutputSkippedOption(const std::string& name);

// The runtime's number conversions: the whole (trimmed) text must be a
// number, otherwise FFmpegException "'%s' is not a valid integer value"
// (respectively "floating point value").
int ParseIntValue(const std::string& text);
int64_t ParseInt64Value(const std::string& text);
double ParseFloatValue(const std::string& text);

// A "Boolean" option value: True unless the value is exactly "0".
inline bool ParseBoolValue(const std::string& text) {
    return text != "0";
}

// The four bytes of a tag as a little-endian number; the caller checks the length.
uint32_t TagFromText(const std::string& text);

// "x:y" or a number; 0 when it cannot be read.
double AspectFromText(const std::string& text);

// The C library's strtol/strtod walks of "map", "map_meta_data" and "itsscale".
TStreamMap ParseStreamMap(const std::string& text);
TMetaDataMap ParseMetaDataMap(const std::string& text);
std::pair<long, double> ParseTsScale(const std::string& text);

// 64 comma-separated numbers; FFmpegException "Syntax error in matrix ..." otherwise.
std::array<uint16_t, 64> ParseMatrix(const std::string& text);

// "vhook" words: split at "|" when present, else at blanks; at most 63 words.
THookModuleWords SplitHookWords(const std::string& text);

// Rounds to the nearest integer, halves to the even neighbour.
int64_t RoundHalfEvenInt(double value);
