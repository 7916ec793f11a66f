// The option table's rows and how a row reads the text of its value.
#include "engine/FFmpegOptionTable.h"

#include "engine/OptionHandlers.h"

#include "media/FFUtils.h"
#include "media/FFmpegLoader.h"
#include "media/MyUtils.h"
#include "media/TextUtils.h"

#include <cstring>
#include <limits>
#include <stdexcept>

namespace {

// How a row reads the text of its value, and which typed values it takes.
enum TValueKind {
    vkAny,      // the value is not looked at
    vkText,     // the text as it is
    vkBoolean,  // True unless the text is exactly "0"
    vkInteger,  // a 32-bit decimal number
    vkInt64,    // a 64-bit decimal number
    vkFloat,    // a decimal number
    vkDuration, // the libraries' duration syntax
    vkDate,     // the libraries' date syntax, kept in whole seconds
    vkKeyValue, // key=value
    vkTarget,   // [pal-|ntsc-|film-]type
};

int64_t ParseTime(const std::string& name, const std::string& text, bool date) {
    int64_t time = AV_NOPTS_VALUE;
    if (ff::avutil.av_parse_time(&time, text.c_str(), date ? 0 : 1) < 0) time = AV_NOPTS_VALUE;
    if (time == AV_NOPTS_VALUE)
        throw FFmpegException(FormatText("Invalid %s specification for %s: %s",
                                         date ? "date" : "duration", name.c_str(), text.c_str()));
    return time;
}

TOptionKeyValue ParseKeyValue(const std::string& text) {
    const std::size_t eq = text.find('=');
    if (eq == std::string::npos) throw FFmpegException("Missing =");
    return {text.substr(0, eq), text.substr(eq + 1)};
}

// A leading "pal-", "ntsc-" or "film-" is the norm; without one the norm is
// found from the frame rates, else NTSC.
TOptionTarget ParseTarget(const std::string& text) {
    TOptionTarget target{Trim(text), "auto", "ntsc"};
    for (const char* prefix : {"pal-", "ntsc-", "film-"}) {
        if (target.Type.rfind(prefix, 0) == 0) {
            target.Norm = std::string(prefix, std::strlen(prefix) - 1);
            target.Type = target.Type.substr(std::strlen(prefix));
            break;
        }
    }
    return target;
}

TOptionValue ReadText(TValueKind kind, const std::string& name, const std::string& text) {
    switch (kind) {
    case vkAny:
    case vkText:
        return text;
    case vkBoolean:
        return ParseBoolValue(text);
    case vkInteger:
        return int64_t{ParseIntValue(text)};
    case vkInt64:
        return ParseInt64Value(text);
    case vkFloat:
        return ParseFloatValue(text);
    case vkDuration:
        return TOptionDuration{ParseTime(name, text, false)};
    case vkDate:
        return TOptionDate{
            RoundHalfEvenInt(static_cast<double>(ParseTime(name, text, true)) / 1000000.0)};
    case vkKeyValue:
        return ParseKeyValue(text);
    case vkTarget:
        return ParseTarget(text);
    }
    return text;
}

// Whether a typed value is one the kind takes; an integer of a 32-bit kind
// must fit it as a text would have to.
bool TakesValue(TValueKind kind, const TOptionValue& value) {
    switch (kind) {
    case vkAny:
        return true;
    case vkText:
        return std::holds_alternative<std::string>(value);
    case vkBoolean:
        return std::holds_alternative<bool>(value);
    case vkInteger:
    case vkInt64:
        return std::holds_alternative<int64_t>(value);
    case vkFloat:
        return std::holds_alternative<double>(value);
    case vkDuration:
        return std::holds_alternative<TOptionDuration>(value);
    case vkDate:
        return std::holds_alternative<TOptionDate>(value);
    case vkKeyValue:
        return std::holds_alternative<TOptionKeyValue>(value);
    case vkTarget:
        return std::holds_alternative<TOptionTarget>(value);
    }
    return false;
}

void CheckIntegerRange(TValueKind kind, const TOptionValue& value) {
    if (kind != vkInteger) return;
    const int64_t number = std::get<int64_t>(value);
    if (number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max())
        throw FFmpegException("'" + std::to_string(number) + "' is not a valid integer value");
}

// One row of the option table: the option's name, the kind of value it
// takes and what that value sets, a handler or one field of the option state.
struct TOptionRow {
    const char* Name = nullptr;
    TValueKind Kind = vkText;
    TOptionHandlers::TTextHandler RunText = nullptr;   // a handler of the text
    TOptionHandlers::TValueHandler RunValue = nullptr; // a handler of the value read
    bool TOptionState::*BoolField = nullptr;           // vkBoolean, vkAny (set); vkText: "is set"
    int TOptionState::*IntField = nullptr;             // vkInteger
    float TOptionState::*FloatField = nullptr;         // vkFloat
    std::string TOptionState::*TextField = nullptr;    // vkText
    bool Flag = false;                                 // written without a value on a command line

    static TOptionRow Handler(const char* name, TOptionHandlers::TTextHandler run) {
        TOptionRow row{name, vkText};
        row.RunText = run;
        return row;
    }
    // A handler that looks at no value: on a command line the option
    // stands alone.
    static TOptionRow FlagHandler(const char* name, TOptionHandlers::TTextHandler run) {
        TOptionRow row = Handler(name, run);
        row.Flag = true;
        return row;
    }
    static TOptionRow Reading(const char* name, TValueKind kind,
                              TOptionHandlers::TValueHandler run) {
        TOptionRow row{name, kind};
        row.RunValue = run;
        return row;
    }
    static TOptionRow Boolean(const char* name, bool TOptionState::*field) {
        TOptionRow row{name, vkBoolean};
        row.BoolField = field;
        row.Flag = true;
        return row;
    }
    // True whatever the value.
    static TOptionRow SetTrue(const char* name, bool TOptionState::*field) {
        TOptionRow row{name, vkAny};
        row.BoolField = field;
        row.Flag = true;
        return row;
    }
    static TOptionRow Integer(const char* name, int TOptionState::*field) {
        TOptionRow row{name, vkInteger};
        row.IntField = field;
        return row;
    }
    static TOptionRow Float(const char* name, float TOptionState::*field) {
        TOptionRow row{name, vkFloat};
        row.FloatField = field;
        return row;
    }
    // The text, and its "is set" flag when it has one.
    static TOptionRow Text(const char* name, std::string TOptionState::*field,
                           bool TOptionState::*isSet = nullptr) {
        TOptionRow row{name, vkText};
        row.TextField = field;
        row.BoolField = isSet;
        return row;
    }

    // The value of the row's kind: a text read by its rules, a typed value
    // as it is. A typed value of another kind is a mistake of the caller.
    TOptionValue Read(const std::string& name, const TOptionValue& given) const {
        if (const std::string* text = std::get_if<std::string>(&given))
            return ReadText(Kind, name, *text);
        if (!TakesValue(Kind, given))
            throw std::logic_error("option \"" + name + "\" does not take a value of that kind");
        CheckIntegerRange(Kind, given);
        return given;
    }

    void Apply(TOptionHandlers& handlers, TOptionState& state, const std::string& name,
               const TOptionValue& given) const {
        const TOptionValue value = Read(name, given);
        if (RunText)
            (handlers.*RunText)(name, std::get<std::string>(value));
        else if (RunValue)
            (handlers.*RunValue)(name, value);
        else if (Kind == vkAny)
            state.*BoolField = true;
        else if (Kind == vkBoolean)
            state.*BoolField = std::get<bool>(value);
        else if (Kind == vkInteger)
            state.*IntField = static_cast<int>(std::get<int64_t>(value));
        else if (Kind == vkFloat)
            state.*FloatField = static_cast<float>(std::get<double>(value));
        else
            SetText(state, std::get<std::string>(value));
    }

    void SetText(TOptionState& state, const std::string& text) const {
        state.*TextField = text;
        if (BoolField) state.*BoolField = true;
    }
};

// The option table, searched in order; the first row whose name matches acts.
const std::vector<TOptionRow>& OptionTable() {
    using T = TOptionHandlers;
    using S = TOptionState;
    using R = TOptionRow;
    static const std::vector<TOptionRow> table = {
        R::FlagHandler("L", &T::OptDoNothing),
        R::FlagHandler("h", &T::OptDoNothing),
        R::FlagHandler("version", &T::OptDoNothing),
        R::FlagHandler("formats", &T::OptDoNothing),
        R::FlagHandler("codecs", &T::OptDoNothing),
        R::FlagHandler("bsfs", &T::OptDoNothing),
        R::FlagHandler("protocols", &T::OptDoNothing),
        R::FlagHandler("filters", &T::OptDoNothing),
        R::Handler("i", &T::OptDoNothing),
        R::FlagHandler("y", &T::OptDoNothing),
        R::FlagHandler("benchmark", &T::OptDoNothing),
        R::Handler("loglevel", &T::OptLogLevel),
        R::Handler("f", &T::OptFormat),
        R::Handler("map", &T::OptMap),
        R::Handler("map_meta_data", &T::OptMapMetaData),
        R::Reading("t", vkDuration, &T::OptTime),
        R::Reading("fs", vkInt64, &T::OptFileSize),
        R::Reading("ss", vkDuration, &T::OptTime),
        R::Reading("itsoffset", vkDuration, &T::OptTime),
        R::Handler("itsscale", &T::OptTsScale),
        R::Reading("timestamp", vkDate, &T::OptTimestamp),
        R::Reading("metadata", vkKeyValue, &T::OptMetadata),
        R::Reading("dframes", vkInteger, &T::OptFrames),
        R::Handler("timelimit", &T::OptTimeLimit),
        R::Boolean("dump", &S::DoPktDump),
        R::Boolean("hex", &S::DoHexDump),
        R::Boolean("re", &S::RateEmu),
        R::Boolean("loop_input", &S::LoopInput),
        R::Integer("loop_output", &S::LoopOutput),
        R::Integer("v", &S::Verbose),
        R::Reading("target", vkTarget, &T::OptTarget),
        R::Handler("threads", &T::OptThreads),
        R::Integer("vsync", &S::VideoSyncMethod),
        R::Integer("async", &S::AudioSyncMethod),
        R::Float("adrift_threshold", &S::AudioDriftThreshold),
        R::Integer("vglobal", &S::VideoGlobalHeader),
        R::SetTrue("copyts", &S::CopyTs),
        R::SetTrue("copy_all_streams", &S::CopyAllStreams),
        R::SetTrue("keep_hdr", &S::KeepHdr),
        R::Integer("audio_source", &S::AudioSourceStream),
        R::Boolean("shortest", &S::OptShortest),
        R::Float("dts_delta_threshold", &S::DtsDeltaThreshold),
        R::Integer("programid", &S::OptProgramID),
        R::SetTrue("xerror", &S::ExitOnError),
        R::Integer("copyinkf", &S::CopyInitialNonkeyframes),
        R::Handler("b", &T::OptBitrate),
        R::Handler("vb", &T::OptBitrate),
        R::Handler("ab", &T::OptBitrate),
        R::Reading("vframes", vkInteger, &T::OptFrames),
        R::Handler("r", &T::OptFrameRate),
        R::Handler("s", &T::OptFrameSize),
        R::Handler("aspect", &T::OptAspect),
        R::Handler("pix_fmt", &T::OptPixFmt),
        R::Reading("croptop", vkInteger, &T::OptCrop),
        R::Reading("cropbottom", vkInteger, &T::OptCrop),
        R::Reading("cropleft", vkInteger, &T::OptCrop),
        R::Reading("cropright", vkInteger, &T::OptCrop),
        R::Handler("padtop", &T::OptPad),
        R::Handler("padbottom", &T::OptPad),
        R::Handler("padleft", &T::OptPad),
        R::Handler("padright", &T::OptPad),
        R::Handler("padcolor", &T::OptPad),
        R::Boolean("intra", &S::IntraOnly),
        R::Boolean("vn", &S::VideoDisable),
        R::Integer("vdt", &S::VideoDiscard),
        R::Reading("qscale", vkFloat, &T::OptQScale),
        R::Text("rc_override", &S::RcOverride, &S::HasRcOverride),
        R::Handler("vcodec", &T::OptCodec),
        R::Integer("me_threshold", &S::MeThreshold),
        R::Boolean("sameq", &S::SameQuality),
        R::Reading("pass", vkInteger, &T::OptPass),
        R::Text("passlogfile", &S::PassLogFileName),
        R::Boolean("deinterlace", &S::DoDeinterlace),
        R::Boolean("psnr", &S::DoPsnr),
        R::FlagHandler("vstats", &T::OptVStats),
        R::Text("vstats_file", &S::VStatsFileName, &S::HasVStatsFileName),
        R::Handler("vhook", &T::OptVHook),
        R::Handler("vfilters", &T::OptVFilters),
        R::Handler("vf", &T::OptVFilters),
        R::Handler("intra_matrix", &T::OptMatrix),
        R::Handler("inter_matrix", &T::OptMatrix),
        R::Integer("top", &S::TopFieldFirst),
        R::Integer("dc", &S::IntraDcPrecision),
        R::Handler("vtag", &T::OptTag),
        R::FlagHandler("newvideo", &T::OptNewStream),
        R::Text("vlang", &S::VideoLanguage),
        R::Boolean("qphist", &S::QpHist),
        R::Boolean("force_fps", &S::ForceFps),
        R::Handler("streamid", &T::OptStreamId),
        R::Reading("aframes", vkInteger, &T::OptFrames),
        R::Float("aq", &S::AudioQScale),
        R::Reading("ar", vkInteger, &T::OptSampleRate),
        R::Reading("ac", vkInteger, &T::OptChannels),
        R::Boolean("an", &S::AudioDisable),
        R::Handler("acodec", &T::OptCodec),
        R::Handler("atag", &T::OptTag),
        R::Integer("vol", &S::AudioVolume),
        R::Text("af", &S::AudioFilters),
        R::FlagHandler("newaudio", &T::OptNewStream),
        R::Text("alang", &S::AudioLanguage),
        R::Handler("sample_fmt", &T::OptSampleFmt),
        R::Boolean("sn", &S::SubtitleDisable),
        R::Handler("scodec", &T::OptCodec),
        R::FlagHandler("newsubtitle", &T::OptNewStream),
        R::Text("slang", &S::SubtitleLanguage),
        R::Handler("stag", &T::OptTag),
        R::Integer("vc", &S::VideoChannel),
        R::Text("tvstd", &S::VideoStandard, &S::HasVideoStandard),
        R::Boolean("isync", &S::InputSync),
        R::Float("muxdelay", &S::MuxMaxDelay),
        R::Float("muxpreload", &S::MuxPreload),
        R::Handler("absf", &T::OptBitstreamFilter),
        R::Handler("vbsf", &T::OptBitstreamFilter),
        R::Handler("sbsf", &T::OptBitstreamFilter),
        R::Handler("apre", &T::OptPreset),
        R::Handler("vpre", &T::OptPreset),
        R::Handler("spre", &T::OptPreset),
        R::Handler("fpre", &T::OptPreset),
    };
    return table;
}

} // namespace

bool ApplyTableOption(TOptionHandlers& handlers, TOptionState& state, const std::string& name,
                      const TOptionValue& value) {
    for (const TOptionRow& row : OptionTable()) {
        if (name == row.Name) {
            row.Apply(handlers, state, name, value);
            return true;
        }
    }
    return false;
}

bool IsFlagOption(const std::string& name) {
    for (const TOptionRow& row : OptionTable())
        if (name == row.Name) return row.Flag;
    return false;
}
