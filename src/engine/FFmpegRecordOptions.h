// The option records as the options they stand for: which option each field
// of TInputOptions and TOutputOptions sets, with which value and in which
// order. The component applies these lists through the engine's option
// table, and the options printer of vantrel-convert writes the same lists
// as text, so the two always agree. Needs no media library.
#pragma once

#include "engine/FFmpegRecords.h"

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

// A time span in microseconds ("ss", "t", "itsoffset").
struct TOptionDuration {
    int64_t Microseconds = 0;
    bool operator==(const TOptionDuration&) const = default;
};

// A moment in whole seconds since 1970-01-01 UTC ("timestamp").
struct TOptionDate {
    int64_t Seconds = 0;
    bool operator==(const TOptionDate&) const = default;
};

// A "key=value" value ("metadata"): the key is what comes before the first "=".
struct TOptionKeyValue {
    std::string Key, Value;
    bool operator==(const TOptionKeyValue&) const = default;
};

// What "target" sets up: the type ("vcd", "svcd", "dvd", "dv", "dv50"),
// the norm ("pal", "ntsc", "film" or "auto") and the norm taken when "auto"
// cannot decide.
struct TOptionTarget {
    std::string Type, Norm = "auto", Fallback = "ntsc";
    bool operator==(const TOptionTarget&) const = default;
};

// The value given to an option: a text that the option's table row reads
// by its own rules (option text, command lines), or a value a record holds
// already (an integer, a float, a Boolean, ...), which the row takes as it is.
using TOptionValue = std::variant<std::string, bool, int64_t, double, TOptionDuration, TOptionDate,
                                  TOptionKeyValue, TOptionTarget>;

// The value as option text, in the form the option's row reads back to the
// same value: numbers in decimal with "." whatever the locale, Booleans
// "1" and "0", durations in microseconds with the unit ("1500000us"; 0 is
// "0"), dates in UTC ("2024-05-01 12:00:00Z"), targets with their norm
// ("pal-dvd"; a target whose norm is "auto" is its type alone).
std::string OptionValueText(const TOptionValue& value);

// One option of a record.
struct TRecordOption {
    enum TRoute {
        roTable,   // the option table's row of that name (no row: the option contexts)
        roLibrary, // straight to the option contexts (the record's bit rates, sizes, ...)
    };
    std::string Name;
    TOptionValue Value;
    TRoute Route = roTable;
    // False for a field left at its initial value that is applied all the
    // same (its rule is "always": "async", "vsync", "isync", languages).
    bool Given = true;
};
using TRecordOptions = std::vector<TRecordOption>;

// The input record's options in the order AddTask applies them: the extra
// options that apply to an input, then "f", "ss" and "programid".
TRecordOptions InputRecordOptions(const TInputOptions& in);

// The output record's options applied before its file opens, in order: the
// target, the codecs, the presets, the extra options that apply to an
// output, the fields in the order of the record, then the frame size and
// the video filters. Codecs, presets, size and filters are the record's
// fields, else the first extra option of that name. `now` (seconds since
// 1970) stands for a Timestamp of 0.
TRecordOptions OutputRecordOptions(const TOutputOptions& out, int64_t now);

// The options applied once the output is open: each "newaudio",
// "newvideo" and "newsubtitle" of the extra options, preceded by the codec,
// preset, size and filters of its stream (the next extra option of that
// name not used by an earlier stream, else the output's own choice).
TRecordOptions NewStreamRecordOptions(const TOutputOptions& out);

// A record's Timestamp (days since 1899-12-30, local time) as whole seconds
// since 1970-01-01 UTC, rounded half to even.
int64_t TimestampToUnixSeconds(double timestamp);
