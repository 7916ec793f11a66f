// The option records as lists of options.
#include "engine/FFmpegRecordOptions.h"

#include "engine/FFmpegOptions.h"
#include "media/FileUtils.h"

#include <charconv>
#include <ctime>
#include <map>

namespace {

// The choices of one output that its streams share: codecs, presets, frame
// size and video filters (keyed "acodec", ..., "s", "vf"). The output's own
// choice is the record's field, else the first extra option of the name;
// each extra option of the name also waits for a stream that "newaudio",
// "newvideo" or "newsubtitle" adds.
class TStreamChoices {
public:
    explicit TStreamChoices(const TOutputOptions& out) {
        Choose("acodec", out.AudioCodec);
        Choose("vcodec", out.VideoCodec);
        Choose("scodec", out.SubtitleCodec);
        Choose("apre", out.AudioPreset);
        Choose("vpre", out.VideoPreset);
        Choose("spre", out.SubtitlePreset);
        Choose("s", out.FrameSize);
        Choose("vf", out.VideoFilters);
        for (auto [name, value] : RecordOptions(out.ExtOptions, out.ExtOptionPairs)) {
            if (name == "vfilters") name = "vf";
            if (!IsChoiceName(name) || value.empty()) continue;
            Choose(name, value);
            FWaiting.emplace_back(name, value);
        }
    }
    static bool IsChoiceName(const std::string& name) {
        for (const char* n : {"acodec", "vcodec", "scodec", "apre", "vpre", "spre", "s", "vf"})
            if (name == n) return true;
        return false;
    }
    std::string Own(const std::string& name) const {
        const auto it = FOwn.find(name);
        return it == FOwn.end() ? std::string() : it->second;
    }
    // The first waiting value of `name` (used up), else the output's own.
    std::string TakeForStream(const std::string& name) {
        for (auto it = FWaiting.begin(); it != FWaiting.end(); ++it) {
            if (it->first != name) continue;
            const std::string value = it->second;
            FWaiting.erase(it);
            return value;
        }
        return Own(name);
    }

private:
    void Choose(const std::string& name, const std::string& value) {
        if (!value.empty() && FOwn.find(name) == FOwn.end()) FOwn[name] = value;
    }

    std::map<std::string, std::string> FOwn;
    TOptionPairs FWaiting;
};

// Builds a list; each adder states the rule of its field ("set when").
class TListBuilder {
public:
    void Text(const char* name, const std::string& value) {
        if (!value.empty()) Add(name, value);
    }
    void TextAlways(const char* name, const std::string& value) {
        Add(name, value, TRecordOption::roTable, !value.empty());
    }
    void Flag(const char* name, bool value) {
        if (value) Add(name, true);
    }
    void Positive(const char* name, int64_t value) {
        if (value > 0) Add(name, value);
    }
    void Library(const char* name, int64_t value) {
        if (value > 0) Add(name, value, TRecordOption::roLibrary);
    }
    void Time(const char* name, int64_t value) {
        if (value != vantrel_engine_detail::kNoTime) Add(name, TOptionDuration{value});
    }
    void Pair(const std::string& name, const std::string& value) { Add(name, value); }
    void Add(const std::string& name, TOptionValue value,
             TRecordOption::TRoute route = TRecordOption::roTable, bool given = true) {
        FList.push_back(TRecordOption{name, std::move(value), route, given});
    }
    TRecordOptions Take() { return std::move(FList); }

private:
    TRecordOptions FList;
};

void AddTarget(TListBuilder& list, const TOutputOptions& o) {
    if (o.TargetType < 1 || o.TargetType > 3) return;
    static const char* const types[] = {"vcd", "svcd", "dvd"};
    const char* norm = o.TargetNorm == 1 ? "pal" : (o.TargetNorm == 2 ? "ntsc" : "auto");
    list.Add("target",
             TOptionTarget{types[o.TargetType - 1], norm, o.FallbackNorm == 1 ? "pal" : "ntsc"});
}

void AddMetadata(TListBuilder& list, const TOutputOptions& o) {
    if (o.Year > 0) list.Add("metadata", TOptionKeyValue{"year", std::to_string(o.Year)});
    if (o.Track > 0) list.Add("metadata", TOptionKeyValue{"track", std::to_string(o.Track)});
    const std::pair<const char*, const std::string*> tags[] = {
        {"title", &o.Title},     {"author", &o.Author}, {"copyright", &o.Copyright},
        {"comment", &o.Comment}, {"album", &o.Album},   {"genre", &o.Genre}};
    for (const auto& [key, value] : tags)
        if (!value->empty()) list.Add("metadata", TOptionKeyValue{key, *value});
}

// The fields in the order of the record; codecs, presets, frame size and
// filters are the stream choices'.
void AddOutputFields(TListBuilder& list, const TOutputOptions& o, int64_t now) {
    list.Text("f", o.ForceFormat);
    list.Library("packetsize", o.PacketSize);
    list.Library("muxrate", o.MuxRate);
    if (o.MuxDelay > 0) list.Add("muxdelay", static_cast<double>(o.MuxDelay));
    if (o.MuxPreload > 0) list.Add("muxpreload", static_cast<double>(o.MuxPreload));
    list.Flag("an", o.DisableAudio);
    if (o.AudioVolume >= 0) list.Add("vol", int64_t{o.AudioVolume});
    list.Positive("ac", o.AudioChannels);
    list.Positive("ar", o.AudioSampleRate);
    list.Library("ab", o.AudioBitrate);
    list.Library("abt", o.AudioBitrateTolerance);
    list.TextAlways("alang", o.AudioLanguage);
    list.Add("async", int64_t{o.AudioSyncMethod}, TRecordOption::roTable, o.AudioSyncMethod != 0);
    list.Text("atag", o.AudioTag);
    list.Flag("vn", o.DisableVideo);
    list.Text("r", o.FrameRate);
    list.Text("aspect", o.FrameAspectRatio);
    list.Positive("croptop", o.CropTop);
    list.Positive("cropbottom", o.CropBottom);
    list.Positive("cropleft", o.CropLeft);
    list.Positive("cropright", o.CropRight);
    list.Library("g", o.GopSize);
    list.Library("vb", o.VideoBitrate);
    list.Library("maxrate", o.MaxRate);
    list.Library("minrate", o.MinRate);
    list.Library("bt", o.VideoBitrateTolerance);
    list.Library("bufsize", o.BufSize);
    list.Add("vsync", int64_t{o.VideoSyncMethod}, TRecordOption::roTable, o.VideoSyncMethod != -1);
    list.Text("vtag", o.VideoTag);
    list.TextAlways("vlang", o.VideoLanguage);
    list.Flag("sn", o.DisableSubtitle);
    list.TextAlways("slang", o.SubtitleLanguage);
    list.Add("isync", o.InputSync, TRecordOption::roTable, o.InputSync);
    list.Flag("copyts", o.CopyTimestamps);
    list.Time("ss", o.StartTime);
    list.Time("t", o.RecordingTime);
    if (o.Timestamp >= 0)
        list.Add("timestamp",
                 TOptionDate{o.Timestamp == 0 ? now : TimestampToUnixSeconds(o.Timestamp)});
    AddMetadata(list, o);
}

std::string DurationText(int64_t microseconds) {
    return microseconds == 0 ? "0" : std::to_string(microseconds) + "us";
}

// Seconds since 1970 as a UTC date and time the libraries' date parser reads.
std::string DateText(int64_t seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm utc{};
    if (!gmtime_r(&time, &utc)) return std::to_string(seconds);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%SZ", &utc);
    return text;
}

// The shortest decimal text that reads back to the value; a value that is
// a single-precision number (the records' floats) as that number.
std::string FloatText(double value) {
    char text[64];
    const float single = static_cast<float>(value);
    const auto result = static_cast<double>(single) == value
                            ? std::to_chars(text, text + sizeof text, single)
                            : std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string TargetText(const TOptionTarget& target) {
    return target.Norm == "auto" ? target.Type : target.Norm + "-" + target.Type;
}

template <class... Visitors> struct TOverloaded : Visitors... { using Visitors::operator()...; };

} // namespace

std::string OptionValueText(const TOptionValue& value) {
    return std::visit(
        TOverloaded{
            [](const std::string& text) { return text; },
            [](bool flag) { return std::string(flag ? "1" : "0"); },
            [](int64_t number) { return std::to_string(number); },
            [](double number) { return FloatText(number); },
            [](const TOptionDuration& duration) { return DurationText(duration.Microseconds); },
            [](const TOptionDate& date) { return DateText(date.Seconds); },
            [](const TOptionKeyValue& pair) { return pair.Key + "=" + pair.Value; },
            [](const TOptionTarget& target) { return TargetText(target); },
        },
        value);
}

TRecordOptions InputRecordOptions(const TInputOptions& in) {
    TListBuilder list;
    for (const auto& [name, value] : RecordOptions(in.ExtOptions, in.ExtOptionPairs))
        if (!IsInputSkippedOption(name)) list.Pair(name, value);
    list.Text("f", in.ForceFormat);
    list.Time("ss", in.StartTime);
    if (in.ProgramID >= 0) list.Add("programid", int64_t{in.ProgramID});
    return list.Take();
}

TRecordOptions OutputRecordOptions(const TOutputOptions& out, int64_t now) {
    const TStreamChoices choices(out);
    TListBuilder list;
    AddTarget(list, out);
    for (const char* codec : {"acodec", "vcodec", "scodec"})
        list.Text(codec, choices.Own(codec));
    for (const char* preset : {"apre", "vpre", "spre"})
        list.Text(preset, choices.Own(preset));
    for (const auto& [name, value] : RecordOptions(out.ExtOptions, out.ExtOptionPairs))
        if (!IsOutputSkippedOption(name)) list.Pair(name, value);
    AddOutputFields(list, out, now);
    list.Text("s", choices.Own("s"));
    list.Text("vfilters", choices.Own("vf"));
    return list.Take();
}

TRecordOptions NewStreamRecordOptions(const TOutputOptions& out) {
    TStreamChoices choices(out);
    TListBuilder list;
    for (const auto& [name, value] : RecordOptions(out.ExtOptions, out.ExtOptionPairs)) {
        std::vector<const char*> own;
        if (name == "newaudio")
            own = {"acodec", "apre"};
        else if (name == "newvideo")
            own = {"vcodec", "vpre", "s", "vf"};
        else if (name == "newsubtitle")
            own = {"scodec", "spre"};
        else
            continue;
        for (const char* option : own) // a stream without its own size keeps the last one
            list.Text(option, choices.TakeForStream(option));
        list.Pair(name, value);
    }
    return list.Take();
}

int64_t TimestampToUnixSeconds(double timestamp) {
    return RoundHalfEvenInt((timestamp - 25569.0 - LocalTimeZoneOffset()) * 86400.0);
}
