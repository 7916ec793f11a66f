// The option records applied through the option table: the same option
// state as their options given as text, the same state again from the text
// the options printer writes, and values holding line breaks kept whole.
#include "EngineTestSupport.h"
#include "OptionStateCompare.h"

#include "engine/FFmpeg.h"
#include "engine/FFmpegRecordOptions.h"
#include "media/FFmpegLoader.h"
#include "media/FileUtils.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <stdexcept>

namespace {

class RecordOptions : public ::testing::Test, protected LibrariesFirst {
protected:
    void SetUp() override {
        RequireLibraries();
        std::ofstream(Dir.file("audio.ffpreset")) << "b=96000\n";
        std::ofstream(Dir.file("video.ffpreset")) << "qmin=3\nqmax=20\n";
        std::ofstream(Dir.file("subtitle.ffpreset")) << "bt=1000\n";
    }

    // A record with every field that becomes an option set to a value other
    // than its initial one, extra option lines and pairs.
    TOutputOptions EveryField() {
        TOutputOptions o;
        o.ForceFormat = "dvd";
        o.PacketSize = 2048;
        o.MuxRate = 10080000;
        o.MuxDelay = 0.7f;
        o.MuxPreload = 0.25f;
        o.AudioCodec = "mp2";
        o.AudioPreset = Dir.file("audio.ffpreset");
        o.DisableAudio = true;
        o.AudioVolume = 300;
        o.AudioChannels = 1;
        o.AudioSampleRate = 22050;
        o.AudioBitrate = 128000;
        o.AudioBitrateTolerance = 16000;
        o.AudioLanguage = "fra";
        o.AudioSyncMethod = 1;
        o.AudioTag = "mp4a";
        o.VideoCodec = "mpeg2video";
        o.VideoPreset = Dir.file("video.ffpreset");
        o.DisableVideo = true;
        o.FrameRate = "25";
        o.FrameSize = "352x288";
        o.FrameAspectRatio = "16:9";
        o.CropTop = 8;
        o.CropBottom = 10;
        o.CropLeft = 16;
        o.CropRight = 18;
        o.GopSize = 12;
        o.VideoBitrate = 4000000;
        o.MaxRate = 6000000;
        o.MinRate = 1000000;
        o.VideoBitrateTolerance = 500000;
        o.BufSize = 1835008;
        o.VideoSyncMethod = 1;
        o.VideoTag = "mpg2";
        o.VideoFilters = "hflip";
        o.VideoLanguage = "deu";
        o.SubtitleCodec = "dvdsub";
        o.SubtitlePreset = Dir.file("subtitle.ffpreset");
        o.DisableSubtitle = true;
        o.SubtitleLanguage = "eng";
        o.InputSync = true;
        o.CopyTimestamps = true;
        o.StartTime = 1500000;
        o.RecordingTime = 2250000;
        o.Timestamp = 25569.0 + LocalTimeZoneOffset() + 1.5; // 1970-01-02 12:00 UTC
        o.Year = 2024;
        o.Track = 3;
        o.Title = "A=B";
        o.Author = "Someone";
        o.Copyright = "(c) nobody";
        o.Comment = "first\r\nvhook=" + std::string(HOOK_MARKER);
        o.Album = "Album";
        o.Genre = "Genre";
        o.TargetType = 3;
        o.TargetNorm = 1;
        o.FallbackNorm = 2;
        o.ExtOptions = "qscale=4\nAcodec=ac3\nmetadata=k=v";
        o.ExtOptionPairs = {{"Shortest", "1"},
                            {"metadata", "note=a\nvhook=" + std::string(HOOK_MARKER)}};
        return o;
    }

    // The same record given as option text, in the order the component
    // applies a record: target, codecs, presets, extra options, fields,
    // size and filters.
    void ApplyAsText(TFFmpeg& task, const TOutputOptions& o) {
        task.ParseOption("target", "pal-dvd");
        task.ParseOption("acodec", "mp2");
        task.ParseOption("vcodec", "mpeg2video");
        task.ParseOption("scodec", "dvdsub");
        task.LoadPreset("apre", o.AudioPreset);
        task.LoadPreset("vpre", o.VideoPreset);
        task.LoadPreset("spre", o.SubtitlePreset);
        task.ParseOptionLines(o.ExtOptions, false);
        task.ParseOption("shortest", "1");
        task.ParseOption("metadata", o.ExtOptionPairs[1].second);
        const std::pair<const char*, std::string> fields[] = {
            {"f", "dvd"},
            {"packetsize", "2048"},
            {"muxrate", "10080000"},
            {"muxdelay", "0.7"},
            {"muxpreload", "0.25"},
            {"an", "1"},
            {"vol", "300"},
            {"ac", "1"},
            {"ar", "22050"},
            {"ab", "128000"},
            {"abt", "16000"},
            {"alang", "fra"},
            {"async", "1"},
            {"atag", "mp4a"},
            {"vn", "1"},
            {"r", "25"},
            {"aspect", "16:9"},
            {"croptop", "8"},
            {"cropbottom", "10"},
            {"cropleft", "16"},
            {"cropright", "18"},
            {"g", "12"},
            {"vb", "4000000"},
            {"maxrate", "6000000"},
            {"minrate", "1000000"},
            {"bt", "500000"},
            {"bufsize", "1835008"},
            {"vsync", "1"},
            {"vtag", "mpg2"},
            {"vlang", "deu"},
            {"sn", "1"},
            {"slang", "eng"},
            {"isync", "1"},
            {"copyts", "1"},
            {"ss", "1.5"},
            {"t", "00:00:02.25"},
            {"timestamp", "1970-01-02T12:00:00Z"}};
        const std::set<std::string> library = {"packetsize", "muxrate", "ab", "abt",    "g", "vb",
                                               "maxrate",    "minrate", "bt", "bufsize"};
        for (const auto& [name, value] : fields) {
            if (library.count(name))
                task.SetNumberOption(name, std::stoll(value));
            else
                task.ParseOption(name, value);
        }
        for (const std::string& pair : std::vector<std::string>{
                 "year=2024", "track=3", "title=A=B", "author=Someone", "copyright=(c) nobody",
                 "comment=" + o.Comment, "album=Album", "genre=Genre"})
            task.ParseOption("metadata", pair);
        task.ParseOption("s", "352x288");
        task.ParseOption("vf", "hflip");
    }

    testsupport::TempDir Dir;
    TFFmpeg Record, Text;
};

} // namespace

TEST_F(RecordOptions, OutputRecordGivesTheStateOfItsOptionText) {
    const TOutputOptions o = EveryField();
    Record.ApplyRecordOptions(OutputRecordOptions(o, 0));
    ApplyAsText(Text, o);
    ExpectSameState(Record, Text);
    // the values are the record's, not the defaults'
    const TOptionState& s = Record.OptionState();
    EXPECT_EQ(s.AudioCodecName, "mp2"); // the field wins over the extra line
    EXPECT_EQ(s.FrameWidth, 352);
    EXPECT_EQ(s.FrameHeight, 288);
    EXPECT_EQ(s.FrameTopBand, 8);
    EXPECT_EQ(s.StartTime, 1500000);
    EXPECT_EQ(s.RecordingTime, 2250000);
    EXPECT_EQ(Record.TotalDuration(), 2250000);
    EXPECT_EQ(s.RecordingTimestamp, 129600);
    EXPECT_FLOAT_EQ(s.MuxMaxDelay, 0.7f);
    EXPECT_EQ(s.AudioVolume, 300);
    EXPECT_EQ(s.VFilters, "hflip");
    EXPECT_EQ(ContextNumber(Record.OptionContexts().CodecOptions[AVMEDIA_TYPE_VIDEO], "g"), "12");
}

// What the options printer writes for a record, read back option by
// option, sets what the record sets.
TEST_F(RecordOptions, PrintedOptionsReadBackToTheRecordsState) {
    const TOutputOptions o = EveryField();
    const TRecordOptions options = OutputRecordOptions(o, 0);
    Record.ApplyRecordOptions(options);
    for (const TRecordOption& option : options)
        Text.ParseOption(option.Name, OptionValueText(option.Value));
    ExpectSameState(Record, Text);

    TInputOptions in;
    in.ForceFormat = "avi";
    in.StartTime = 2040000;
    in.ProgramID = 2;
    in.ExtOptions = "itsoffset=0.5\nvf=hflip";
    TFFmpeg inRecord, inText;
    const TRecordOptions inOptions = InputRecordOptions(in);
    inRecord.ApplyRecordOptions(inOptions);
    for (const TRecordOption& option : inOptions)
        inText.ParseOption(option.Name, OptionValueText(option.Value));
    ExpectSameState(inRecord, inText);
    EXPECT_EQ(inRecord.OptionState().StartTime, 2040000);
}

TEST_F(RecordOptions, InputRecordGivesTheStateOfItsOptionText) {
    TInputOptions in;
    in.ForceFormat = "avi";
    in.StartTime = 1500000;
    in.ProgramID = 2;
    in.ExtOptions = "itsoffset=0.5\nvf=hflip\nAr=8000";
    in.ExtOptionPairs = {{"metadata", "k=a\nb"}};
    Record.ApplyRecordOptions(InputRecordOptions(in));
    Text.ParseOptionLines(in.ExtOptions, true);
    Text.ParseOption("metadata", "k=a\nb");
    Text.ParseOption("f", "avi");
    Text.ParseOption("ss", "1.5");
    Text.ParseOption("programid", "2");
    ExpectSameState(Record, Text);
    EXPECT_EQ(Record.OptionState().InputTsOffset, 500000);
    EXPECT_TRUE(Record.OptionState().VFilters.empty()); // not an input's option
    EXPECT_EQ(Record.OptionState().OptProgramID, 2);
}

// A value holding a line break stays one value: no further option (such
// as a frame-hook module) comes out of it, on either path.
TEST_F(RecordOptions, LineBreaksStayInTheirValue) {
    const TOutputOptions o = EveryField();
    Record.ApplyRecordOptions(OutputRecordOptions(o, 0));
    const TOptionState& s = Record.OptionState();
    EXPECT_TRUE(s.HookModules.empty());
    EXPECT_FALSE(s.UsingVhook);
    const auto has = [&](const std::string& key, const std::string& value) {
        return std::count(s.Metadata.begin(), s.Metadata.end(), std::make_pair(key, value)) == 1;
    };
    EXPECT_TRUE(has("note", "a\nvhook=" + std::string(HOOK_MARKER)));
    EXPECT_TRUE(has("comment", o.Comment));
    EXPECT_TRUE(has("k", "v"));
    int vhooks = 0;
    for (const TRecordOption& option : OutputRecordOptions(o, 0))
        vhooks += option.Name == "vhook";
    EXPECT_EQ(vhooks, 0);
}

// A record's value goes to its row as it is: of the row's kind, and for a
// 32-bit row within its range, as a text would have to be.
TEST_F(RecordOptions, TypedValuesMustSuitTheRow) {
    Record.ApplyOption("vol", TOptionValue(int64_t{512}));
    EXPECT_EQ(Record.OptionState().AudioVolume, 512);
    EXPECT_EQ(EngineError([&] { Record.ApplyOption("vol", TOptionValue(int64_t{1} << 40)); }),
              "'1099511627776' is not a valid integer value");
    EXPECT_THROW(Record.ApplyOption("ar", TOptionValue(true)), std::logic_error);
    EXPECT_THROW(Record.ApplyOption("ss", TOptionValue(int64_t{5})), std::logic_error);
    EXPECT_EQ(Record.OptionState().AudioVolume, 512);
    EXPECT_EQ(EngineError(
                  [&] { Record.ApplyOption("metadata", TOptionValue(std::string("no equals"))); }),
              "Missing =");
}
