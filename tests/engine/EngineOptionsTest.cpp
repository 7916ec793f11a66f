// The engine's option table: values, messages, presets and targets.
#include "EngineTestSupport.h"

#include "engine/FFmpeg.h"
#include "engine/FFmpegPresets.h"
#include "media/FFHandles.h"
#include "media/FFmpegLogger.h"

#include <algorithm>
#include <fstream>

namespace {

class EngineOptions : public ::testing::Test, protected LibrariesFirst {
protected:
    void SetUp() override { RequireLibraries(); }
    const TOptionState& S() const { return Task.OptionState(); }
    std::string Error(const std::string& name, const std::string& value) {
        return EngineError([&] { Task.ParseOption(name, value); });
    }
    TFFmpeg Task;
};

} // namespace

TEST_F(EngineOptions, LinesAreLowerCasedAndSampleRateNeedsPositiveValue) {
    Task.ParseOptionLines("Ar=22050", false);
    EXPECT_EQ(S().AudioSampleRate, 22050);
    Task.ParseOptionLines("ar=0", false);
    EXPECT_EQ(S().AudioSampleRate, 22050);
    Task.ParseOptionLines("AC=1", true);
    EXPECT_EQ(S().AudioChannels, 1);
}

TEST_F(EngineOptions, BooleanValues) {
    Task.ParseOptionLines("shortest=", false);
    EXPECT_TRUE(S().OptShortest);
    Task.ParseOptionLines("shortest=0", false);
    EXPECT_FALSE(S().OptShortest);
    Task.ParseOption("copyts", "0"); // "any" value sets it
    EXPECT_TRUE(S().CopyTs);
}

TEST_F(EngineOptions, SkippedLinesPerSide) {
    Task.ParseOptionLines("vcodec=mpeg4\nvf=scale=10:10", false);
    EXPECT_FALSE(S().HasVideoCodecName);
    EXPECT_TRUE(S().VFilters.empty());
    Task.ParseOptionLines("vcodec=mpeg4\nvf=scale=10:10", true);
    EXPECT_EQ(S().VideoCodecName, "mpeg4");
    EXPECT_TRUE(S().VFilters.empty());
}

TEST_F(EngineOptions, TagsAreFourCharacters) {
    Task.ParseOption("vtag", "XVID");
    EXPECT_EQ(S().VideoCodecTag, 0x44495658u);
    EXPECT_EQ(Error("vtag", "XVI"), "video tag parameter must be 4 chars");
    EXPECT_EQ(Error("atag", "12345"), "audio tag parameter must be 4 chars");
    EXPECT_EQ(Error("stag", "x"), "subtitle tag parameter must be 4 chars");
    EXPECT_EQ(S().VideoCodecTag, 0x44495658u);
}

TEST_F(EngineOptions, AspectRatio) {
    Task.ParseOption("aspect", "16:9");
    EXPECT_NEAR(S().FrameAspectRatio, 1.7777778f, 1e-6);
    EXPECT_EQ(Error("aspect", "4:0"), "Incorrect aspect ratio specification.");
    EXPECT_EQ(Error("aspect", "abc"), "Incorrect aspect ratio specification.");
    EXPECT_NEAR(S().FrameAspectRatio, 1.7777778f, 1e-6);
}

TEST_F(EngineOptions, CropSubtractsFromTheFrameSize) {
    EngineLog log;
    Task.ParseOption("s", "640x480");
    Task.ParseOption("croptop", "10");
    EXPECT_EQ(S().FrameHeight, 470);
    EXPECT_EQ(S().FrameTopBand, 10);
    EXPECT_TRUE(log.Contains("CropXXX is deprecated in favor of the crop avfilter"));
    EXPECT_EQ(Error("cropbottom", "470"),
              "Vertical crop dimensions are outside the range of the original image.\n"
              "Remember to crop first and scale second.");
    EXPECT_EQ(Error("cropleft", "640"),
              "Horizontal crop dimensions are outside the range of the original image.\n"
              "Remember to crop first and scale second.");
    Task.ParseOption("cropright", "0");
    EXPECT_EQ(S().FrameWidth, 640);
    EXPECT_EQ(Error("padtop", "4"), "Please use vfilters=pad");
}

TEST_F(EngineOptions, TimesAndDates) {
    Task.ParseOption("t", "10");
    EXPECT_EQ(S().RecordingTime, 10000000);
    EXPECT_EQ(Task.TotalDuration(), 10000000);
    Task.ParseOption("ss", "1:00.5");
    EXPECT_EQ(S().StartTime, 60500000);
    Task.ParseOption("timestamp", "1970-01-02 00:00:00Z");
    EXPECT_EQ(S().RecordingTimestamp, 86400);
    EXPECT_EQ(Error("t", "abc"), "Invalid duration specification for t: abc");
    EXPECT_EQ(Error("timestamp", "never"), "Invalid date specification for timestamp: never");
}

TEST_F(EngineOptions, LibraryParsedValuesAndTheirMessages) {
    Task.ParseOption("r", "30000/1001");
    EXPECT_EQ(S().FrameRateNum, 30000);
    EXPECT_EQ(S().FrameRateDen, 1001);
    EXPECT_EQ(Error("r", "fast"), "Incorrect frame rate");
    Task.ParseOption("s", "vga");
    EXPECT_EQ(S().FrameWidth, 640);
    EXPECT_EQ(Error("s", "12xq"), "Incorrect frame size");
    Task.ParseOption("pix_fmt", "yuv422p");
    EXPECT_EQ(S().FramePixFmt, AV_PIX_FMT_YUV422P);
    EXPECT_EQ(Error("pix_fmt", "nosuch"), "Unknown pixel format requested: nosuch");
    Task.ParseOption("sample_fmt", "nosuch");
    EXPECT_EQ(S().AudioSampleFmt, -1);
    Task.ParseOption("sample_fmt", "s16");
    EXPECT_EQ(S().AudioSampleFmt, AV_SAMPLE_FMT_S16);
}

TEST_F(EngineOptions, RangeChecksAndNumberConversion) {
    EXPECT_EQ(Error("qscale", "0"), "qscale must be > 0.0 and <= 255");
    EXPECT_EQ(Error("qscale", "256"), "qscale must be > 0.0 and <= 255");
    Task.ParseOption("qscale", "3.5");
    EXPECT_FLOAT_EQ(S().VideoQScale, 3.5f);
    EXPECT_EQ(Error("pass", "3"), "pass number can be only 1 or 2");
    EXPECT_EQ(Error("vframes", "ten"), "'ten' is not a valid integer value");
    Task.ParseOption("fs", "5000000000");
    EXPECT_EQ(S().LimitFileSize, 5000000000LL);
    Task.ParseOption("threads", "2");
    EXPECT_EQ(S().ThreadCount, 2);
    Task.ParseOption("threads", "auto");
    EXPECT_EQ(S().ThreadCount, 0);
    EXPECT_EQ(Error("threads", "1.5"), "Invalid value \"1.5\" for option \"threads\"");
    EXPECT_EQ(Error("threads", "99999999999"),
              "Invalid value \"99999999999\" for option \"threads\"");
    EXPECT_EQ(S().ThreadCount, 0);
    // A pixel count that does not fit is refused before any size arithmetic.
    EXPECT_EQ(Error("s", "99999x99999"), "Frame size 99999x99999 is too large");
    EXPECT_EQ(Error("s", "65536x65536"), "Frame size 65536x65536 is too large");
    Task.ParseOption("s", "7680x4320");
    EXPECT_EQ(S().FrameWidth, 7680);
}

// With StrictOptions (the command line's rule) a name no library knows and
// a value a context refuses fail; options of other muxers or codecs pass.
TEST_F(EngineOptions, StrictOptionsRefuseUnknownNamesAndBadValues) {
    Task.ParseOption("bogus", "1"); // passed over by default
    Task.ParseOption("b", "-1");
    Task.StrictOptions = true;
    EXPECT_EQ(Error("bogus", "1"), "Unrecognized option 'bogus'.");
    EXPECT_EQ(Error("b", "-1"), "Invalid value \"-1\" for option \"b\"");
    EXPECT_EQ(Error("b", "1e99"), "Invalid value \"1e99\" for option \"b\"");
    EXPECT_EQ(Error("g", "abc"), "Invalid value \"abc\" for option \"g\"");
    EXPECT_EQ(Error("bf", "x"), "Invalid value \"x\" for option \"bf\"");
    EXPECT_EQ(Error("movflags", "+faststart"), ""); // the mp4 muxer's, output not open yet
    EXPECT_EQ(Error("crf", "23"), "");              // libx264's, encoder not chosen yet
    Task.ParseOption("vcodec", "libx264");
    EXPECT_EQ(Error("crf", "abc"), "Invalid value \"abc\" for option \"crf\"");
    EXPECT_EQ(Error("g", "25"), "");
}

TEST_F(EngineOptions, MetadataAndMaps) {
    Task.ParseOption("metadata", "title=A=B");
    ASSERT_EQ(S().Metadata.size(), 1u);
    EXPECT_EQ(S().Metadata[0].first, "title");
    EXPECT_EQ(S().Metadata[0].second, "A=B");
    EXPECT_EQ(Error("metadata", "title"), "Missing =");
    Task.ParseOption("map", "0.1:0.0");
    ASSERT_EQ(S().StreamMaps.size(), 1u);
    EXPECT_EQ(S().StreamMaps[0].StreamIndex, 1);
    EXPECT_EQ(Error("itsscale", "20:2"), "stream index over MAX_STREAMS(20)");
    Task.ParseOption("itsscale", "1:0.5");
    EXPECT_DOUBLE_EQ(S().NextInputTsScale[1], 0.5);
}

TEST_F(EngineOptions, StreamIdsOutsideTheMapAreRejected) {
    Task.ParseOption("streamid", "1:5");
    EXPECT_EQ(S().StreamIdMap[1], 5);
    EXPECT_EQ(Error("streamid", "1"),
              "Invalid value \"1\" for option \"streamid\", required syntax is \"index:value\"");
    EXPECT_EQ(Error("streamid", ":4"),
              "Invalid value \":4\" for option \"streamid\", required syntax is \"index:value\"");
    EXPECT_FALSE(Error("streamid", "20:3").empty());
    EXPECT_FALSE(Error("streamid", "-1:3").empty());
    for (int i = 0; i < MAX_STREAMS; ++i)
        EXPECT_EQ(S().StreamIdMap[i], i == 1 ? 5 : 0) << i;
}

TEST_F(EngineOptions, QuantizerMatrices) {
    std::string text;
    for (int i = 0; i < 64; ++i)
        text += (i ? "," : "") + std::to_string(16 + i);
    Task.ParseOption("intra_matrix", text);
    ASSERT_TRUE(S().IntraMatrix);
    EXPECT_EQ((*S().IntraMatrix)[63], 79);
    EXPECT_EQ(Error("intra_matrix", "1,2,3,4,5,6,7,8,9,10"),
              "Syntax error in matrix \"1,2,3,4,5,6,7,8,9,10\" at coeff 9");
    EXPECT_EQ((*S().IntraMatrix)[0], 16); // the failed value left the matrix alone
    EXPECT_FALSE(S().InterMatrix);
}

TEST_F(EngineOptions, BitstreamFiltersAndHooks) {
    Task.ParseOption("vbsf", "h264_mp4toannexb");
    Task.ParseOption("absf", "=x");
    ASSERT_EQ(S().BitstreamFilters[TMediaKind::Video].size(), 1u);
    EXPECT_TRUE(S().BitstreamFilters[TMediaKind::Audio].empty());
    EXPECT_EQ(Error("absf", " nosuch "), "Unknown bitstream filter nosuch");
    EXPECT_EQ(Error("vhook", "hook.so -a"), "Failed to add video hook function: hook.so -a");
    EXPECT_FALSE(S().UsingVhook);
}

TEST_F(EngineOptions, CodecNamesAndCopy) {
    Task.ParseOption("acodec", "mp2");
    EXPECT_EQ(S().AudioCodecName, "mp2");
    Task.ParseOption("acodec", "");
    EXPECT_EQ(S().AudioCodecName, "mp2");
    Task.ParseOption("acodec", "copy");
    EXPECT_TRUE(S().AudioStreamCopy);
    EXPECT_FALSE(S().HasAudioCodecName);
}

TEST_F(EngineOptions, BitRateWarnsWhenGivenInKilobits) {
    EngineLog log;
    Task.ParseOption("ab", "128000");
    EXPECT_FALSE(log.Contains("bitrate parameter is set too low"));
    Task.ParseOption("b", "800");
    EXPECT_TRUE(log.Contains("WARNING: The bitrate parameter is set too low. It takes bits/s as "
                             "argument, not kbits/s"));
}

TEST_F(EngineOptions, UnknownNamesAreDroppedSilently) {
    EngineLog log;
    Task.ParseOption("foo", "1");
    EXPECT_EQ(log.CountAtOrBelow(llWarning), 0);
    EXPECT_TRUE(S().PrivateOptions[TMediaKind::Video].empty());
}

TEST_F(EngineOptions, EncoderPrivateOptionsFollowTheCurrentEncoder) {
    Task.ParseOption("coder", "1"); // no encoder chosen: nobody knows it
    EXPECT_TRUE(S().PrivateOptions[TMediaKind::Video].empty());
    Task.ParseOption("vcodec", "libx264");
    Task.ParseOption("coder", "1");
    Task.ParseOption("x264-params", "keyint=50");
    Task.ParseOption("nosuchoption", "1");
    EXPECT_EQ(S().PrivateOptions[TMediaKind::Video],
              (TPrivateOptions{{"coder", "1"}, {"x264-params", "keyint=50"}}));
}

TEST_F(EngineOptions, PresetsBuiltInByCodecAndMissing) {
    Task.ParseOption("vcodec", "libx264");
    Task.LoadPreset("vpre", "fast");
    const TPrivateOptions& p = S().PrivateOptions[TMediaKind::Video];
    auto has = [&p](const std::string& name, const std::string& value) {
        for (const auto& entry : p)
            if (entry.first == name && entry.second == value) return true;
        return false;
    };
    EXPECT_TRUE(has("me_method", "hex"));
    EXPECT_TRUE(has("partitions", "i8x8,i4x4,p8x8,b8x8"));
    EXPECT_TRUE(has("b-pyramid", "normal"));
    EXPECT_TRUE(has("direct-pred", "1"));
    EXPECT_EQ(EngineError([&] { Task.LoadPreset("vpre", "nosuch"); }),
              "Preset \"nosuch\" not found");
}

TEST_F(EngineOptions, PresetFilesKeepTheStrictRule) {
    testsupport::TempDir dir;
    const std::string good = dir.file("good.ffpreset");
    const std::string bad = dir.file("bad.ffpreset");
    const std::string syntax = dir.file("syntax.ffpreset");
    std::ofstream(good) << "\r\n  vcodec=mpeg4 \r\ng=12\n\n";
    std::ofstream(bad) << "g=12\nflags2=+wpred\n";
    std::ofstream(syntax) << "g=\n";
    Task.LoadPreset("fpre", good);
    EXPECT_EQ(S().VideoCodecName, "mpeg4");
    EXPECT_EQ(Task.OptionContexts().CodecOptions[0]->gop_size, 12);
    EXPECT_EQ(EngineError([&] { Task.LoadPreset("fpre", bad); }),
              bad + ": Invalid option or argument: \"flags2=+wpred\", parsed as \"flags2\" = "
                    "\"+wpred\"");
    EXPECT_EQ(EngineError([&] { Task.LoadPreset("vpre", syntax); }),
              syntax + ": Invalid syntax: \"g=\"");
}

TEST_F(EngineOptions, TargetPalDvd) {
    Task.ParseOption("target", "pal-dvd");
    EXPECT_EQ(S().FrameWidth, 720);
    EXPECT_EQ(S().FrameHeight, 576);
    EXPECT_EQ(S().FrameRateNum, 25);
    EXPECT_EQ(S().FrameRateDen, 1);
    EXPECT_EQ(S().AudioCodecName, "ac3");
    EXPECT_EQ(S().VideoCodecName, "mpeg2video");
    EXPECT_EQ(S().AudioSampleRate, 48000);
    EXPECT_EQ(S().FormatName, "dvd");
    EXPECT_NEAR(S().FrameAspectRatio, 16.0f / 9.0f, 1e-6);
    EXPECT_EQ(Task.OptionContexts().CodecOptions[0]->bit_rate, 6000000);
    EXPECT_EQ(Task.OptionContexts().CodecOptions[1]->bit_rate, 448000);
}

TEST_F(EngineOptions, TargetNormsAndErrors) {
    EXPECT_EQ(Error("target", "dvd"), "frame_rate is invalid.");
    EXPECT_EQ(Error("target", "pal-nosuch"), "Unknown target type");
    Task.ParseOption("r", "30000/1001");
    EngineLog log;
    Task.ParseOption("target", "vcd");
    EXPECT_TRUE(log.Contains("Assuming NTSC for target."));
    EXPECT_EQ(S().FrameHeight, 240);
    EXPECT_EQ(Task.OptionContexts().CodecOptions[0]->gop_size, 18);
    EXPECT_FLOAT_EQ(S().MuxPreload, 0.44f);
    TFFmpeg other;
    other.ParseOption("r", "10");
    other.SetTarget("dv", "auto", "film"); // neither rate decides: the fall-back does
    EXPECT_EQ(other.OptionState().FramePixFmt, AV_PIX_FMT_YUV411P);
    EXPECT_EQ(other.OptionState().FrameRateNum, 24000);
}

// Every name of the option table, with a value each row can take and with
// values few can: what reaches the caller is the engine's own error, never
// another exception.
TEST_F(EngineOptions, EveryTableNameFailsOnlyWithTheEnginesError) {
    static const char* const names[] = {
        "L",
        "h",
        "version",
        "formats",
        "codecs",
        "bsfs",
        "protocols",
        "filters",
        "i",
        "y",
        "benchmark",
        "loglevel",
        "f",
        "map",
        "map_meta_data",
        "t",
        "fs",
        "ss",
        "itsoffset",
        "itsscale",
        "timestamp",
        "metadata",
        "dframes",
        "timelimit",
        "dump",
        "hex",
        "re",
        "loop_input",
        "loop_output",
        "v",
        "target",
        "threads",
        "vsync",
        "async",
        "adrift_threshold",
        "vglobal",
        "copyts",
        "shortest",
        "dts_delta_threshold",
        "programid",
        "xerror",
        "copyinkf",
        "b",
        "vb",
        "ab",
        "vframes",
        "r",
        "s",
        "aspect",
        "pix_fmt",
        "croptop",
        "cropbottom",
        "cropleft",
        "cropright",
        "padtop",
        "padbottom",
        "padleft",
        "padright",
        "padcolor",
        "intra",
        "vn",
        "vdt",
        "qscale",
        "rc_override",
        "vcodec",
        "me_threshold",
        "sameq",
        "pass",
        "passlogfile",
        "deinterlace",
        "psnr",
        "vstats",
        "vstats_file",
        "vhook",
        "vfilters",
        "vf",
        "intra_matrix",
        "inter_matrix",
        "top",
        "dc",
        "vtag",
        "newvideo",
        "vlang",
        "qphist",
        "force_fps",
        "streamid",
        "aframes",
        "aq",
        "ar",
        "ac",
        "an",
        "acodec",
        "atag",
        "vol",
        "newaudio",
        "alang",
        "sample_fmt",
        "sn",
        "scodec",
        "newsubtitle",
        "slang",
        "stag",
        "vc",
        "tvstd",
        "isync",
        "muxdelay",
        "muxpreload",
        "absf",
        "vbsf",
        "sbsf",
        "apre",
        "vpre",
        "spre",
        "fpre",
    };
    const TLogLevel level = GetLogger().GetLogLevel();
    EngineLog log;
    for (const char* value : {"1", "", "x", "-5", "0.5"}) {
        TFFmpeg task;
        for (const char* name : names) {
            if (std::string(name) == "loglevel") continue; // process-wide, below
            try {
                task.ParseOption(name, value);
            } catch (const FFmpegException&) {
            } catch (const std::exception& e) {
                ADD_FAILURE() << name << "=" << value << ": " << e.what();
            }
        }
    }
    EXPECT_NO_THROW(Task.ParseOption("loglevel", "verbose"));
    GetLogger().SetLogLevel(level);
}

// The plain rows of the table each set their own field of the option state.
TEST_F(EngineOptions, PlainRowsSetTheirFields) {
    Task.ParseOption("vsync", "2");
    Task.ParseOption("async", "3");
    Task.ParseOption("vdt", "4");
    Task.ParseOption("vol", "512");
    Task.ParseOption("top", "0");
    EXPECT_EQ(S().VideoSyncMethod, 2);
    EXPECT_EQ(S().AudioSyncMethod, 3);
    EXPECT_EQ(S().VideoDiscard, 4);
    EXPECT_EQ(S().AudioVolume, 512);
    EXPECT_EQ(S().TopFieldFirst, 0);
    Task.ParseOption("muxdelay", "0.25");
    Task.ParseOption("muxpreload", "0.125");
    Task.ParseOption("aq", "3");
    EXPECT_FLOAT_EQ(S().MuxMaxDelay, 0.25f);
    EXPECT_FLOAT_EQ(S().MuxPreload, 0.125f);
    EXPECT_FLOAT_EQ(S().AudioQScale, 3.0f);
    Task.ParseOption("vlang", "deu");
    Task.ParseOption("alang", "fra");
    Task.ParseOption("tvstd", "pal");
    EXPECT_EQ(S().VideoLanguage, "deu");
    EXPECT_EQ(S().AudioLanguage, "fra");
    EXPECT_TRUE(S().SubtitleLanguage.empty());
    EXPECT_TRUE(S().HasVideoStandard);
    EXPECT_EQ(S().VideoStandard, "pal");
    EXPECT_FALSE(S().HasRcOverride);
    Task.ParseOption("rc_override", "");
    EXPECT_TRUE(S().HasRcOverride);
    Task.ParseOption("xerror", "0");
    EXPECT_TRUE(S().ExitOnError);
    EXPECT_FALSE(S().CopyTs);
    Task.ParseOption("vn", "1");
    Task.ParseOption("an", "0");
    EXPECT_TRUE(S().VideoDisable);
    EXPECT_FALSE(S().AudioDisable);
    EXPECT_FALSE(S().SubtitleDisable);
}

// The target profiles: what each sets for its norm, the channel rules and
// the video encoder's private scan-offset flag of "svcd".
TEST_F(EngineOptions, TargetProfilesPerTypeAndNorm) {
    Task.ParseOption("ac", "1");
    Task.ParseOption("target", "ntsc-svcd");
    EXPECT_EQ(S().FormatName, "svcd");
    EXPECT_EQ(S().FrameWidth, 480);
    EXPECT_EQ(S().FrameHeight, 480);
    EXPECT_TRUE(S().FrameSizeOfTarget);
    EXPECT_EQ(S().FrameRateNum, 30000);
    EXPECT_EQ(S().FrameRateDen, 1001);
    EXPECT_EQ(S().AudioChannels, 2); // one channel becomes two
    EXPECT_EQ(S().AudioSampleRate, 44100);
    EXPECT_FLOAT_EQ(S().MuxPreload, 0.5f); // unchanged
    EXPECT_EQ(Task.OptionContexts().CodecOptions[0]->rc_max_rate, 2516000);
    const auto& priv = S().PrivateOptions[TMediaKind::Video];
    EXPECT_NE(std::find(priv.begin(), priv.end(),
                        std::make_pair(std::string("scan_offset"), std::string("1"))),
              priv.end());

    TFFmpeg dvd;
    dvd.ParseOption("ac", "6");
    dvd.ParseOption("aspect", "4:3");
    dvd.ParseOption("target", "film-dvd");
    EXPECT_EQ(dvd.OptionState().AudioChannels, 6); // more than one stay
    EXPECT_EQ(dvd.OptionState().FrameHeight, 480);
    EXPECT_EQ(dvd.OptionState().FrameRateNum, 24000);
    EXPECT_NEAR(dvd.OptionState().FrameAspectRatio, 4.0f / 3.0f, 1e-6); // given first
    EXPECT_EQ(dvd.OptionContexts().CodecOptions[0]->gop_size, 18);

    TFFmpeg vcd;
    vcd.ParseOption("ac", "6");
    vcd.ParseOption("target", "pal-vcd");
    EXPECT_EQ(vcd.OptionState().AudioChannels, 2); // always two
    EXPECT_EQ(vcd.OptionState().VideoCodecName, "mpeg1video");
    EXPECT_EQ(vcd.OptionContexts().CodecOptions[0]->gop_size, 15);
    EXPECT_EQ(vcd.OptionContexts().CodecOptions[0]->rc_min_rate, 1150000);

    TFFmpeg dv50;
    dv50.ParseOption("vcodec", "mpeg4");
    dv50.ParseOption("target", "ntsc-dv50");
    EXPECT_EQ(dv50.OptionState().FormatName, "dv");
    EXPECT_EQ(dv50.OptionState().FramePixFmt, AV_PIX_FMT_YUV422P);
    EXPECT_EQ(dv50.OptionState().VideoCodecName, "mpeg4"); // the codecs stay
    EXPECT_EQ(dv50.OptionState().AudioSampleRate, 48000);
    EXPECT_EQ(dv50.OptionState().FrameAspectRatio, 0.0f);
}

// Every built-in preset, applied for libx264 as the engine does it, opens
// the installed libx264 encoder and leaves no option unused.
TEST_F(EngineOptions, EveryBuiltinPresetOpensLibx264) {
    const AVCodec* x264 = ff::avcodec.avcodec_find_encoder_by_name("libx264");
    if (!x264) GTEST_SKIP() << "libx264 is not installed";
    for (const TOptionsPreset& preset : BuiltinPresets()) {
        SCOPED_TRACE(preset.Name);
        TFFmpeg task;
        task.ParseOption("vcodec", "libx264");
        ASSERT_EQ(EngineError([&] { task.LoadPreset("vpre", preset.Name); }), "");
        ff::CodecContextPtr encoder(ff::avcodec.avcodec_alloc_context3(x264));
        encoder->width = 160;
        encoder->height = 120;
        encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        encoder->time_base = AVRational{1, 25};
        ApplyRecordedOptions(task.OptionContexts(), encoder.get(),
                             task.OptionContexts().CodecOptions[0],
                             AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        AVDictionary* options = nullptr;
        for (const auto& [name, value] : task.OptionState().PrivateOptions[TMediaKind::Video])
            ff::avutil.av_dict_set(&options, name.c_str(), value.c_str(), 0);
        int code;
        {
            std::lock_guard<std::mutex> lock(CodecLock());
            code = ff::avcodec.avcodec_open2(encoder.get(), x264, &options);
        }
        EXPECT_GE(code, 0);
        EXPECT_EQ(ff::avutil.av_dict_count(options), 0);
        ff::avutil.av_dict_free(&options);
    }
}
