// Every built-in preset must convert: each format's parameters, taken from
// the files the program writes at start, are handed to the ffmpeg command
// line, and ffprobe checks what came out.
#include "core/DefaultFormats.h"

#include "AppCoreTestEnv.h"
#include "core/FormatCatalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <set>

using testsupport::ProbeValue;
using testsupport::ShellQuote;

namespace {

// Containers the option builder passes on by name; for any other "Format"
// the output file's extension decides.
const std::set<std::string> kVideoContainers = {"ipod", "3gp", "3g2",    "avi", "psp", "mov",
                                                "vcd",  "flv", "mpegts", "vob", "asf", "dv"};
const std::set<std::string> kAudioContainers = {"amr",  "ac3", "asf", "aiff",     "au", "voc",
                                                "flac", "flv", "avi", "matroska", "mmf"};

// Codec that ffprobe reports for the output of an encoder.
const std::map<std::string, std::string> kCodecOfEncoder = {{"mpeg4", "mpeg4"},
                                                            {"libxvid", "mpeg4"},
                                                            {"libx264", "h264"},
                                                            {"wmv2", "wmv2"},
                                                            {"mpeg1video", "mpeg1video"},
                                                            {"mpeg2video", "mpeg2video"},
                                                            {"dvvideo", "dvvideo"},
                                                            {"aac", "aac"},
                                                            {"libmp3lame", "mp3"},
                                                            {"libvorbis", "vorbis"},
                                                            {"ac3", "ac3"},
                                                            {"wmav2", "wmav2"},
                                                            {"mp2", "mp2"},
                                                            {"pcm_s16le", "pcm_s16le"}};

// Converter names of the encoder items the presets list. "aac" and "ogg"
// name the encoders this FFmpeg build has (native AAC, libvorbis).
const std::map<std::string, std::string> kEncoderOfItem = {{"mpeg-4", "mpeg4"},
                                                           {"xvid", "libxvid"},
                                                           {"h264", "libx264"},
                                                           {"wmv1", "wmv1"},
                                                           {"wmv2", "wmv2"},
                                                           {"msmpeg4v2", "msmpeg4v2"},
                                                           {"mpeg1video", "mpeg1video"},
                                                           {"mpeg2video", "mpeg2video"},
                                                           {"dvvideo", "dvvideo"},
                                                           {"aac", "aac"},
                                                           {"mp3", "libmp3lame"},
                                                           {"mp2", "mp2"},
                                                           {"ac-3", "ac3"},
                                                           {"wma1", "wmav1"},
                                                           {"wma2", "wmav2"},
                                                           {"ogg", "libvorbis"},
                                                           {"pcm_s16", "pcm_s16le"},
                                                           {"ccitt a-law(8-bit)", "pcm_alaw"},
                                                           {"ccitt mu-law(8-bit)", "pcm_mulaw"},
                                                           {"adpcm_ms", "adpcm_ms"},
                                                           {"adpcm_ima_wav", "adpcm_ima_wav"}};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string ExpectedCodec(const std::string& encoder) {
    const auto it = kCodecOfEncoder.find(encoder);
    return it == kCodecOfEncoder.end() ? "<no known codec for " + encoder + ">" : it->second;
}

// The parameters of one format as the files on disk hold them.
struct TFormatParameters {
    std::string Format, FileExt;
    std::string VideoEncoder, VideoSize, FrameRate, VideoBitRate;
    std::string AudioEncoder, SampleRate, Channels, AudioBitRate;

    bool IsVideo() const { return !VideoEncoder.empty(); }

    std::string Container() const {
        const std::set<std::string>& known = IsVideo() ? kVideoContainers : kAudioContainers;
        return known.count(Lower(Format)) ? (IsVideo() ? Format : Lower(Format)) : "";
    }

    // DV wants 4:1:1 sampling for NTSC pictures and 4:2:0 for PAL ones.
    std::string PixelFormat() const {
        return (VideoEncoder == "dvvideo" && VideoSize == "720x480") ? "yuv411p" : "yuv420p";
    }
};

TFormatParameters ReadParameters(const TGlobalObject& g, int code) {
    const std::string section = FormatSectionName(code);
    const TIniFile formats = g.Formats();
    const TIniFile user = g.Settings();
    TFormatParameters p;
    p.Format = formats.ReadString(section, "Format", "null");
    p.FileExt = formats.ReadString(section, "FileExt", "mp4");
    p.VideoEncoder = user.ReadString(section, "paraVideoEncoder", "");
    p.VideoSize = user.ReadString(section, "paraVideoSize", "null");
    p.FrameRate = user.ReadString(section, "paraFrameRate", "29.97");
    p.VideoBitRate = user.ReadString(section, "paraVideoBitRate", "512");
    p.AudioEncoder = user.ReadString(section, "paraAudioEncoder", "");
    p.SampleRate = user.ReadString(section, "paraSampleRate", "44100");
    p.Channels = user.ReadString(section, "paraChannel", "2");
    p.AudioBitRate = user.ReadString(section, "paraAudioBitRate", "128");
    return p;
}

std::string ConversionArguments(const TFormatParameters& p, const std::string& source,
                                const std::string& target) {
    std::string args = "-i " + ShellQuote(source);
    if (p.IsVideo())
        args += " -c:v " + p.VideoEncoder + " -s " + p.VideoSize + " -r " + p.FrameRate + " -b:v " +
                p.VideoBitRate + "k -pix_fmt " + p.PixelFormat();
    else
        args += " -vn";
    args += " -c:a " + p.AudioEncoder + " -ar " + p.SampleRate + " -ac " + p.Channels + " -b:a " +
            p.AudioBitRate + "k";
    if (!p.Container().empty()) args += " -f " + p.Container();
    return args + " " + ShellQuote(target);
}

class FormatOracleTest : public appcoretest::TAppCoreTest,
                         public ::testing::WithParamInterface<int> {
protected:
    static void SetUpTestSuite() {
        Media = std::make_unique<testsupport::TempDir>();
        SourceMade = testsupport::MakeMedia(Media->file("source.mp4"),
                                            "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i "
                                            "sine=frequency=440:sample_rate=44100 "
                                            "-t 1 -c:v mpeg4 -c:a aac -ac 2");
    }
    static void TearDownTestSuite() { Media.reset(); }

    static std::unique_ptr<testsupport::TempDir> Media;
    static bool SourceMade;
};

std::unique_ptr<testsupport::TempDir> FormatOracleTest::Media;
bool FormatOracleTest::SourceMade = false;

TEST_P(FormatOracleTest, PresetConvertsWithItsOwnParameters) {
    ASSERT_TRUE(SourceMade);
    EnsureDefaultFormatFiles(Global);
    const int code = GetParam();
    const TFormatParameters p = ReadParameters(Global, code);
    const std::string out = Temp.file("out" + std::to_string(code) + "." + p.FileExt);

    ASSERT_TRUE(testsupport::RunFfmpeg(ConversionArguments(p, Media->file("source.mp4"), out)))
        << FormatCaptionOf(code);

    if (p.IsVideo()) {
        EXPECT_EQ(ProbeValue(out, "stream=codec_name", "v:0"), ExpectedCodec(p.VideoEncoder));
        const auto x = p.VideoSize.find('x');
        EXPECT_EQ(ProbeValue(out, "stream=width", "v:0"), p.VideoSize.substr(0, x));
        EXPECT_EQ(ProbeValue(out, "stream=height", "v:0"), p.VideoSize.substr(x + 1));
    } else {
        EXPECT_EQ(ProbeValue(out, "stream=codec_name", "v"), "");
    }
    EXPECT_EQ(ProbeValue(out, "stream=codec_name", "a:0"), ExpectedCodec(p.AudioEncoder));
    EXPECT_EQ(ProbeValue(out, "stream=sample_rate", "a:0"), p.SampleRate);
    EXPECT_EQ(ProbeValue(out, "stream=channels", "a:0"), p.Channels);
    const std::string duration = ProbeValue(out, "format=duration");
    ASSERT_FALSE(duration.empty());
    EXPECT_GT(std::stod(duration), 0.8);
}

// Every other encoder the settings dialog offers for the format converts
// with the preset's remaining parameters.
TEST_P(FormatOracleTest, EveryListedEncoderConverts) {
    ASSERT_TRUE(SourceMade);
    EnsureDefaultFormatFiles(Global);
    const int code = GetParam();
    const TFormatParameters preset = ReadParameters(Global, code);
    const TIniFile formats = Global.Formats();
    const std::string section = FormatSectionName(code);
    for (const std::string kind : {"VideoEncoder", "AudioEncoder"}) {
        const std::string list = formats.ReadString(section, kind, "null");
        if (list == "null") continue;
        for (const std::string& item : appcoretest::CommaItems(list)) {
            ASSERT_TRUE(kEncoderOfItem.count(item)) << item;
            TFormatParameters p = preset;
            (kind == "VideoEncoder" ? p.VideoEncoder : p.AudioEncoder) = kEncoderOfItem.at(item);
            const std::string out = Temp.file("alt." + p.FileExt);
            EXPECT_TRUE(
                testsupport::RunFfmpeg(ConversionArguments(p, Media->file("source.mp4"), out)))
                << FormatCaptionOf(code) << ": " << item;
        }
    }
}

// The twenty formats; the modern ones convert end to end in the engine's
// tests (their options are more than the command line form here knows).
std::vector<int> TwentyCodes() {
    std::vector<int> codes = FormatCodes();
    std::erase_if(codes, IsModernFormat);
    return codes;
}

INSTANTIATE_TEST_SUITE_P(AllFormats, FormatOracleTest, ::testing::ValuesIn(TwentyCodes()));

} // namespace
