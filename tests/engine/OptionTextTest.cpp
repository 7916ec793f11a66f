// Option text splitting, number and value readers, the built-in presets, and
// the engine refusing work while the media libraries are not loaded.
#include "engine/FFmpeg.h"
#include "engine/FFmpegOptions.h"
#include "engine/FFmpegPresets.h"
#include "engine/FFmpegRecordOptions.h"
#include "engine/FFmpegRecords.h"

#include <gtest/gtest.h>

#include <set>

using Lines = std::vector<std::pair<std::string, std::string>>;

TEST(OptionLines, LiteralCrlfSequenceSeparatesOptions) {
    EXPECT_EQ(SplitOptionLines("vcodec=libxvid<CRLF>b=800000"),
              (Lines{{"vcodec", "libxvid"}, {"b", "800000"}}));
}

TEST(OptionLines, AllLineBreakFormsAndOuterTrimming) {
    EXPECT_EQ(SplitOptionLines("  \r\na=1\r\nb=2\rc=3\nd=4\r\n\t"),
              (Lines{{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}}));
}

TEST(OptionLines, NamesLowerCasedValuesKeptAsWritten) {
    EXPECT_EQ(SplitOptionLines("TITLE= A=B \nAr=44100"),
              (Lines{{"title", " A=B "}, {"ar", "44100"}}));
}

TEST(OptionLines, EmptyValuesAndLinesWithoutEquals) {
    EXPECT_EQ(SplitOptionLines("shortest=\nnewaudio\n\nx"),
              (Lines{{"shortest", ""}, {"newaudio", ""}, {"", ""}, {"x", ""}}));
    EXPECT_TRUE(SplitOptionLines(" \r\n ").empty());
}

TEST(OptionLines, PairsFollowTheLinesAndAreNeverSplit) {
    EXPECT_EQ(RecordOptions("a=1<CRLF>b=2", {{"Metadata", "title=x<CRLF>vhook=m.so\ny=z"},
                                             {"ss", "1\r\nvhook=m.so"}}),
              (Lines{{"a", "1"},
                     {"b", "2"},
                     {"metadata", "title=x<CRLF>vhook=m.so\ny=z"},
                     {"ss", "1\r\nvhook=m.so"}}));
    EXPECT_EQ(RecordOptions("", {{"y", ""}}), (Lines{{"y", ""}}));
}

TEST(OptionLines, SkippedNamesPerSide) {
    for (const char* n :
         {"newvideo", "newaudio", "newsubtitle", "apre", "vpre", "spre", "vfilters", "vf"}) {
        EXPECT_TRUE(IsInputSkippedOption(n)) << n;
        EXPECT_TRUE(IsOutputSkippedOption(n)) << n;
    }
    for (const char* n : {"acodec", "vcodec", "scodec", "s"}) {
        EXPECT_FALSE(IsInputSkippedOption(n)) << n;
        EXPECT_TRUE(IsOutputSkippedOption(n)) << n;
    }
    EXPECT_FALSE(IsOutputSkippedOption("ab"));
}

TEST(OptionValues, IntegersAndFloatsRejectText) {
    EXPECT_EQ(ParseIntValue(" 42 "), 42);
    EXPECT_EQ(ParseIntValue("-7"), -7);
    EXPECT_THROW(ParseIntValue("12abc"), FFmpegException);
    EXPECT_THROW(ParseIntValue(""), FFmpegException);
    EXPECT_THROW(ParseIntValue("99999999999"), FFmpegException);
    EXPECT_EQ(ParseInt64Value("99999999999"), 99999999999LL);
    EXPECT_DOUBLE_EQ(ParseFloatValue("0.25"), 0.25);
    try {
        ParseFloatValue("x1");
        FAIL();
    } catch (const FFmpegException& e) {
        EXPECT_STREQ(e.what(), "'x1' is not a valid floating point value");
    }
    EXPECT_TRUE(ParseBoolValue(""));
    EXPECT_TRUE(ParseBoolValue("1"));
    EXPECT_TRUE(ParseBoolValue("00"));
    EXPECT_FALSE(ParseBoolValue("0"));
}

TEST(OptionValues, TagIsLittleEndian) {
    EXPECT_EQ(TagFromText("XVID"), 0x44495658u);
}

TEST(OptionValues, AspectRatioForms) {
    EXPECT_NEAR(AspectFromText("16:9"), 1.7777778, 1e-6);
    EXPECT_EQ(AspectFromText("4:0"), 0.0);
    EXPECT_EQ(AspectFromText("abc"), 0.0);
    EXPECT_EQ(AspectFromText("x:3"), 0.0);
    EXPECT_DOUBLE_EQ(AspectFromText("1.5"), 1.5);
}

TEST(OptionValues, StreamMapsWithAndWithoutSync) {
    TStreamMap m = ParseStreamMap("1.2");
    EXPECT_EQ(m.FileIndex, 1);
    EXPECT_EQ(m.StreamIndex, 2);
    EXPECT_EQ(m.SyncFileIndex, 1);
    EXPECT_EQ(m.SyncStreamIndex, 2);
    m = ParseStreamMap("0:1:2.3");
    EXPECT_EQ(m.FileIndex, 0);
    EXPECT_EQ(m.StreamIndex, 1);
    EXPECT_EQ(m.SyncFileIndex, 2);
    EXPECT_EQ(m.SyncStreamIndex, 3);
    m = ParseStreamMap("0x10.011"); // strtol detects the base
    EXPECT_EQ(m.FileIndex, 16);
    EXPECT_EQ(m.StreamIndex, 9);
    const TMetaDataMap mm = ParseMetaDataMap("3:4");
    EXPECT_EQ(mm.OutFile, 3);
    EXPECT_EQ(mm.InFile, 4);
    const auto [stream, scale] = ParseTsScale("1:0.5");
    EXPECT_EQ(stream, 1);
    EXPECT_DOUBLE_EQ(scale, 0.5);
}

TEST(OptionValues, MatrixNeedsSixtyFourEntries) {
    std::string text;
    for (int i = 0; i < 64; ++i)
        text += (i ? "," : "") + std::to_string(i + 1);
    const auto m = ParseMatrix(text + ",999");
    EXPECT_EQ(m[0], 1);
    EXPECT_EQ(m[63], 64);
    try {
        ParseMatrix("1,2,3,4,5,6,7,8,9,10");
        FAIL();
    } catch (const FFmpegException& e) {
        EXPECT_STREQ(e.what(), "Syntax error in matrix \"1,2,3,4,5,6,7,8,9,10\" at coeff 9");
    }
}

TEST(OptionValues, HookWordsSplitAtBarsOrBlanks) {
    EXPECT_EQ(SplitHookWords("mod.so -a 1"), (THookModuleWords{"mod.so", "-a", "1"}));
    EXPECT_EQ(SplitHookWords("my mod.so|-t|a b"), (THookModuleWords{"my mod.so", "-t", "a b"}));
    std::string many;
    for (int i = 0; i < 70; ++i)
        many += "w ";
    EXPECT_EQ(SplitHookWords(many).size(), 63u);
}

TEST(OptionValues, RoundingHalvesToEven) {
    EXPECT_EQ(RoundHalfEvenInt(2.5), 2);
    EXPECT_EQ(RoundHalfEvenInt(3.5), 4);
    EXPECT_EQ(RoundHalfEvenInt(-2.5), -2);
    EXPECT_EQ(RoundHalfEvenInt(29970.03), 29970);
}

TEST(BuiltinPresets, FortyUniqueNamesFoundWithoutCase) {
    std::set<std::string> names;
    for (const TOptionsPreset& p : BuiltinPresets())
        names.insert(p.Name);
    EXPECT_EQ(names.size(), 40u);
    const TOptionsPreset* fast = FindBuiltinPreset("LIBX264-Fast");
    ASSERT_NE(fast, nullptr);
    EXPECT_EQ(fast->Name, "libx264-fast");
    EXPECT_NE(fast->Text.find("subq=6\nme_range=16\ng=250"), std::string::npos);
    EXPECT_EQ(FindBuiltinPreset("fast"), nullptr);
}

TEST(BuiltinPresets, PsThreeDiffersFromPspInTwoLines) {
    const std::string psp = FindBuiltinPreset("libx264-psp")->Text;
    const std::string ps3 = FindBuiltinPreset("libx264-ps3")->Text;
    EXPECT_EQ(FindBuiltinPreset("libx264-mp4")->Text, psp);
    EXPECT_NE(psp.find("b=1250000\nmaxrate=1500000"), std::string::npos);
    EXPECT_EQ(ps3.find("b=1250000"), std::string::npos);
    EXPECT_NE(ps3.find("trellis=2\nmaxrate=3500000\nbufsize=4000000"), std::string::npos);
}

TEST(LegacyPresetLines, ReplacedOptionsMapOntoCurrentOnes) {
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(
        MapLegacyPresetLine("partitions", "-parti8x8+parti4x4+partp8x8-partp4x4-partb8x8").Options,
        (Pairs{{"partitions", "i4x4,p8x8"}}));
    EXPECT_EQ(MapLegacyPresetLine("partitions", "-parti8x8-parti4x4").Options,
              (Pairs{{"partitions", "none"}}));
    const TMappedPresetLine f2 =
        MapLegacyPresetLine("flags2", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip-mbtree+foo");
    EXPECT_EQ(f2.Options, (Pairs{{"b-pyramid", "normal"},
                                 {"mixed-refs", "0"},
                                 {"weightb", "1"},
                                 {"8x8dct", "0"},
                                 {"fast-pskip", "1"},
                                 {"mbtree", "0"}}));
    EXPECT_EQ(f2.Dropped, (std::vector<std::string>{"+foo"}));
    EXPECT_EQ(MapLegacyPresetLine("directpred", "3").Options, (Pairs{{"direct-pred", "3"}}));
    EXPECT_EQ(MapLegacyPresetLine("cqp", "0").Options, (Pairs{{"qp", "0"}}));
    EXPECT_EQ(MapLegacyPresetLine("flags", "-loop").Options,
              (Pairs{{"x264-params", "no-deblock=1"}}));
    EXPECT_EQ(MapLegacyPresetLine("subq", "7").Options, (Pairs{{"subq", "7"}}));
}

// This program never loads the media libraries: the engine refuses instead
// of calling into them.
TEST(EngineWithoutLibraries, OptionsAndFilesAreRefused) {
    TFFmpeg task;
    EXPECT_THROW(task.ParseOption("ar", "22050"), FFmpegException);
    EXPECT_THROW(task.OpenInputFile("/nonexistent.avi"), FFmpegException);
    EXPECT_THROW(task.OpenOutputFile("/tmp/x.avi", false), FFmpegException);
    EXPECT_THROW(task.SetTarget("vcd", "pal", "pal"), FFmpegException);
    EXPECT_EQ(task.OptionState().AudioSampleRate, 44100);
}

// The text forms of record values are what their options read.
TEST(OptionValueText, EachKindInTheFormItsOptionReads) {
    EXPECT_EQ(OptionValueText(std::string("a=b\nc")), "a=b\nc");
    EXPECT_EQ(OptionValueText(true), "1");
    EXPECT_EQ(OptionValueText(false), "0");
    EXPECT_EQ(OptionValueText(int64_t{-1}), "-1");
    EXPECT_EQ(OptionValueText(static_cast<double>(0.7f)), "0.7");
    EXPECT_EQ(OptionValueText(0.1), "0.1");
    EXPECT_EQ(OptionValueText(TOptionDuration{0}), "0");
    EXPECT_EQ(OptionValueText(TOptionDuration{2000000}), "2000000us");
    EXPECT_EQ(OptionValueText(TOptionDuration{-5}), "-5us");
    EXPECT_EQ(OptionValueText(TOptionDate{129600}), "1970-01-02 12:00:00Z");
    EXPECT_EQ(OptionValueText(TOptionKeyValue{"title", "A=B"}), "title=A=B");
    EXPECT_EQ(OptionValueText(TOptionTarget{"dvd", "pal", "ntsc"}), "pal-dvd");
    EXPECT_EQ(OptionValueText(TOptionTarget{"vcd", "auto", "pal"}), "vcd");
}

// The record lists: the rule of each field decides whether it is there.
TEST(RecordOptionLists, FieldsAppearUnderTheirRules) {
    auto names = [](const TRecordOptions& options) {
        std::vector<std::string> list;
        for (const TRecordOption& o : options)
            if (o.Given) list.push_back(o.Name);
        return list;
    };
    TOutputOptions out;
    EXPECT_TRUE(names(OutputRecordOptions(out, 0)).empty());
    out.RecordingTime = 0; // a length of 0 is a length
    out.CropTop = 0;       // a crop of 0 is none
    out.AudioVolume = 0;
    out.VideoFilters = "hflip";
    out.ExtOptions = "newvideo=\ns=64x48";
    EXPECT_EQ(names(OutputRecordOptions(out, 0)),
              (std::vector<std::string>{"vol", "t", "s", "vfilters"}));
    EXPECT_EQ(names(NewStreamRecordOptions(out)),
              (std::vector<std::string>{"s", "vf", "newvideo"}));
    TInputOptions in;
    EXPECT_TRUE(names(InputRecordOptions(in)).empty());
    in.StartTime = 0;
    in.ProgramID = 0;
    in.ExtOptions = "vf=hflip\nitsoffset=1";
    EXPECT_EQ(names(InputRecordOptions(in)),
              (std::vector<std::string>{"itsoffset", "ss", "programid"}));
}
