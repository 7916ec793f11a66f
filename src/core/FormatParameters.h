// The user's parameters of one output format as the format settings dialog
// edits them: the translation of its display items ("mono 1 channel",
// "pcm-16bit", "75%") into converter values, the checks of typed values,
// the splitting of the format file's choice lists, and the keys that its
// OK writes to the settings file's section "formatInfo" + code.
#pragma once

#include "core/IniFile.h"

#include <span>
#include <string>
#include <vector>

// One row of a translation table: display item and converter value.
struct TItemTranslation {
    const char* Item;
    const char* Value;
};

// The tables, in their own order. Encoder items compare ignoring case,
// channel items exactly.
std::span<const TItemTranslation> VideoEncoderTable();
std::span<const TItemTranslation> AudioEncoderTable();
std::span<const TItemTranslation> ChannelTable();

// Each gives true and the converter value when the item has a row; false,
// with `value` untouched, when it has none.
bool TranslateVideoEncoder(const std::string& item, std::string& value);
bool TranslateAudioEncoder(const std::string& item, std::string& value);
bool TranslateChannel(const std::string& item, std::string& value);

// A volume item is a percentage such as "75%": the last character dropped,
// the rest an integer. The twelve listed percentages give v * 256 / 100.
enum class TVolumeItem {
    Translated, // `value` holds the converter volume
    NoMatch,    // a number, but not one of the listed percentages; or empty
    NotANumber  // the text without its last character is not an integer
};
TVolumeItem TranslateVolume(const std::string& item, std::string& value);

// Items of a choice list of the format file: split at every ",", in order,
// so that a trailing "," gives a last empty item.
std::vector<std::string> SplitFormatList(const std::string& text);

// Whether a choice list read from the format file (default "null") fills its
// combo: not "null", and for the lists that must not be empty, not empty.
bool FormatListPresent(const std::string& listKey, const std::string& text);

// Typed values.
bool IsAsSourceText(const std::string& text); // "as source", ignoring case
bool IsIntegerText(const std::string& text);  // sign and decimal digits, or 0x hex
bool IsDecimalText(const std::string& text);  // digits with at most one "."

// The frame size box's check when it loses the focus.
enum class TFrameSizeCheck { Accepted, Invalid, Corrected };
// `corrected` receives width "x" height with both parts even (0 becomes 2)
// for Corrected.
TFrameSizeCheck CheckFrameSize(const std::string& text, std::string& corrected);

// Key filters: whether a typed character goes into the box. '\b' is
// backspace.
bool AcceptFrameSizeKey(const std::string& boxText, char key);
bool AcceptNumericKey(char key);

// Messages of the checks.
inline constexpr char kMsgEnterNumerical[] = "Please enter numerical.";
inline constexpr char kMsgFrameSizeInvalid[] = "Frame Size is not a valid value!";
inline constexpr char kMsgVideoBitRateInvalid[] = "Video BitRate is not a valid value!";
inline constexpr char kMsgAudioBitRateInvalid[] = "Audio BitRate is not a valid value!";
inline constexpr char kMsgSampleRateInvalid[] = "Audio SampleRate is not a valid value!";
inline constexpr char kInputErrorCaption[] = "Input Error!";
// Text of the "Input Error!" box for a corrected frame size.
std::string FrameSizeCorrectionText(const std::string& corrected);
// Refusal of a volume item that is not a percentage.
std::string VolumeInvalidText(const std::string& item);

// What the dialog shows when OK is pressed. Indexes are -1 for no item
// (a typed text that matches no item, an empty list); Zoom is 0..3 or -1.
struct TFormatChoices {
    std::string Description;
    int iVideoSize = -1, iVideoBitRate = -1, iFrameRate = -1, iVideoEncoder = -1;
    int iSampleRate = -1, iAudioEncoder = -1, iChannel = -1, iAudioBitRate = -1, iVolume = -1;
    std::string VideoSize, VideoBitRate, FrameRate;
    int Zoom = -1;
    std::string VideoEncoder;
    std::string SampleRate, AudioBitRate;
    std::string Channel, Volume, AudioEncoder;
};

// The converter value of a zoom index; empty for none.
std::string ZoomValue(int zoom);
// The zoom index of a stored zoom value; -1 for an unknown text.
int ZoomIndex(const std::string& value);

// The keys OK writes, in writing order, each once (a later value of a key
// replaces its earlier one in place). Items without a table row give no
// key. `formatFile` supplies the H.264 extras of the same section.
// False, with `error` set and `values` empty, when the volume item is not
// a percentage: nothing may then be written.
bool ComposeFormatSection(const TFormatChoices& choices, const TIniFile& formatFile,
                          const std::string& section, TIniFile::TKeyValues& values,
                          std::string& error);

// Composes and writes the section (of the form "formatInfo" + code) of the
// settings file in one rewrite. False, with the file untouched, when composing fails
// (`error` set) or the file cannot be written (`error` empty).
bool WriteFormatChoices(TIniFile& settings, const TIniFile& formatFile, const std::string& section,
                        const TFormatChoices& choices, std::string& error);
