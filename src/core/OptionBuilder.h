// The option builder: turns the chosen format's preset (format file), the
// user's parameters of that format (settings file), a row's edit settings
// and the probed source into the option records of one converter task.
//
// Runs on the user-interface thread, like every settings access.
#pragma once

#include "core/GlobalUnit.h"
#include "effects/EditSettings.h"
#include "engine/FFmpegRecords.h"

#include <cstdint>
#include <string>

// What the builder needs to know of the source, as the probe reports it.
// A missing stream leaves its values at -1.
struct TProbedSource {
    int32_t AudioStreamIndex = -1;
    int32_t VideoStreamIndex = -1;
    int32_t VideoStreamCount = 0;
    int32_t VideoWidth = -1;
    int32_t VideoHeight = -1;
    int32_t VideoBitRate = -1;    // bit/s
    int32_t AudioSampleRate = -1; // Hz
    int32_t AudioBitRate = -1;    // bit/s
    // The picture's width as shown (stored width x pixel aspect); -1 when
    // the pixels are square.
    int32_t VideoDisplayWidth = -1;
    // The source declares picture or sound streams that bring no packets
    // at all (empty tracks); the indices and the count above leave them out.
    bool EmptyVideoStreams = false;
    bool EmptyAudioStreams = false;
    // The number of streams the probe found, -1 when it could not open the
    // source (then nothing above is known).
    int32_t StreamCount = -1;
    int64_t DurationUS = -1; // the container's length, -1 when it does not tell
};

// ProbedSourceOf (core/ProbedSource.h) fills it from a TAVProbe.

// The whole text is a signed decimal integer within the range of int32.
bool IsInteger(const std::string& text);
// The whole text is a decimal number with "." as decimal point.
bool IsNumber(const std::string& text);

// Range kinds of InPresetRange.
inline constexpr char kRangeAudioSampleRate[] = "audiosamplerate";
inline constexpr char kRangeAudioBitRate[] = "audiobitrate";
inline constexpr char kRangeVideoBitRate[] = "videobitrate";

// Whether a probed value (Hz, or bit/s for the bit-rate kinds) lies between
// the first and the last number of the format's choice list "SampleRate",
// "AudioBitRate" or "VideoBitRate" (a leading "as source" item skipped).
// Throws std::invalid_argument for an unknown kind or a list item that is
// not a number.
bool InPresetRange(const TGlobalObject& g, int formatCode, const std::string& kind, int64_t value);

// Fills the task's options for one row. `out` has been reset and given the
// output file name, the row's crop (when HasCrop) and its recording length;
// the row's ZoomMode has been refreshed from the format's section. May ask
// the user (ShowMessageBox) whether an unusable frame size is to become
// 320x240. Throws std::invalid_argument (or std::out_of_range) naming the
// value when a setting that must be a number is not one.
void BuildConversionOptions(const TGlobalObject& g, const TlvFilesRecord& row, int formatCode,
                            TOutputOptions& out, const TProbedSource& probe, TInputOptions& in);

// A source without a picture converted into a format whose files need one
// in every frame (DV) gets a still black picture of the format's frame,
// repeated for as long as the sound lasts: fills `picture` with the input
// to add to the task after the source (a file of this process's temporary
// folder, looped) and returns true; false when the row needs none. Throws
// std::runtime_error when the picture cannot be written.
bool BlackPictureInput(const TGlobalObject& g, int formatCode, const TProbedSource& probe,
                       TInputOptions& picture);

// A source with a picture of a known length but without sound converted
// into a format whose files carry sound in every frame (DV) gets silence
// somewhat longer than the source (the muxer drops what no picture takes):
// fills `sound` with the input to add to the task after the source and
// returns true; false when the row needs none. Throws std::runtime_error
// when the silence cannot be written.
bool SilenceInput(const TGlobalObject& g, int formatCode, const TProbedSource& probe,
                  TInputOptions& sound);

// The zoom mode of a format: "parazoom" of its settings section, default
// "lbox".
std::string FormatZoomMode(const TGlobalObject& g, int formatCode);

// Hands the row's trim window and crop to the task's options: the input
// start time when TrimStart is 0 or more, the recording length when
// TrimLength is positive, the four crop values when HasCrop holds.
void HandOverRowEdits(const TlvFilesRecord& row, TInputOptions& in, TOutputOptions& out);
