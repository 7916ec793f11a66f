// The pictures of today's phone and camera files converted as the window
// converts them (vantrel-convert --format): 10-bit and 4:2:2 sources give
// the 8-bit 4:2:0 pictures players decode, and H.264 files carry a level
// their pictures keep.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Q(const std::string& text) {
    return testsupport::ShellQuote(text);
}

// A home and settings folder of the test's own.
class FormatHome {
public:
    testsupport::CommandResult Convert(const std::string& code, const std::string& source,
                                       const std::string& folder) {
        return testsupport::RunCommand("HOME=" + Q(dir_.file("home")) +
                                       " XDG_CONFIG_HOME=" + Q(dir_.file("cfg")) + " " +
                                       Q(VANTREL_CONVERT) + " --format " + code + " --output-dir " +
                                       Q(folder) + " " + Q(source));
    }
    // Sets one value of a format's section of the settings file, which a
    // first run has written.
    void SetFormatValue(const std::string& code, const std::string& key, const std::string& value) {
        const std::string file = dir_.file("cfg") + "/vantrel/vantrel.ini";
        if (!std::ifstream(file)) Convert(code, "/nonexistent", dir_.file("unused"));
        std::ifstream in(file);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        in.close();
        const std::string section = "[formatInfo" + code + "]";
        bool inside = false, done = false;
        for (std::size_t i = 0; i < lines.size() && !done; ++i) {
            if (!lines[i].empty() && lines[i][0] == '[') inside = lines[i] == section;
            if (inside && lines[i].rfind(key + "=", 0) == 0) {
                lines[i] = key + "=" + value;
                done = true;
            }
        }
        ASSERT_TRUE(done) << key << " not in " << section << " of " << file;
        std::ofstream out(file, std::ios::trunc);
        for (const std::string& line : lines)
            out << line << '\n';
    }
    std::string File(const std::string& name) const { return dir_.file(name); }

private:
    testsupport::TempDir dir_;
};

// The one file a conversion wrote into the folder.
std::string OnlyFile(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        files.push_back(entry.path().string());
    return files.size() == 1 ? files[0] : std::string();
}

const char* const kVideoFormats[] = {"0",   "1",   "2",   "100", "101", "102", "103",
                                     "104", "105", "106", "107", "108", "109"};

} // namespace

TEST(PictureFormat, TenBitAndFourTwoTwoSourcesGiveEightBitFourTwoZero) {
    testsupport::TempDir dir;
    const std::string hevc = dir.file("hevc10.mp4");
    ASSERT_TRUE(testsupport::MakeMedia(
        hevc, "-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=sample_rate=48000 -t 0.5 "
              "-pix_fmt yuv420p10le -c:v libx265 -x265-params log-level=error -c:a aac"));
    const std::string prores = dir.file("prores422.mov");
    ASSERT_TRUE(testsupport::MakeMedia(
        prores, "-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=sample_rate=48000 -t "
                "0.5 -pix_fmt yuv422p10le -c:v prores_ks -profile:v 2 -c:a pcm_s16le"));
    ASSERT_EQ(testsupport::ProbeValue(prores, "stream=pix_fmt", "v:0"), "yuv422p10le");
    FormatHome home;
    for (const std::string& source : {hevc, prores}) {
        for (const char* code : kVideoFormats) {
            SCOPED_TRACE(source + " into format " + code);
            const std::string folder = home.File(std::string("out") + code + "-" +
                                                 std::filesystem::path(source).stem().string());
            const auto r = home.Convert(code, source, folder);
            ASSERT_EQ(r.exitCode, 0) << r.output;
            const std::string out = OnlyFile(folder);
            // DV writes its norm's own: 4:1:1 for NTSC, 4:2:0 for PAL.
            const std::string expected = std::string(code) == "108" ? "yuv411p" : "yuv420p";
            EXPECT_EQ(testsupport::ProbeValue(out, "stream=pix_fmt", "v:0"), expected);
        }
    }
}

TEST(PictureFormat, HdSizedH264KeepsItsLevelAndBitRate) {
    testsupport::TempDir dir;
    const std::string source = dir.file("hd.mp4");
    ASSERT_TRUE(testsupport::MakeMedia(source, "-f lavfi -i testsrc2=size=640x360:rate=30 -t 0.5 "
                                               "-c:v libx264 -preset ultrafast"));
    struct Case {
        const char* Size;
        int MinLevel;
    };
    for (const Case& c : {Case{"1280x720", 31}, Case{"1920x1080", 40}}) {
        SCOPED_TRACE(c.Size);
        FormatHome home;
        home.SetFormatValue("103", "paraVideoSize", c.Size);
        home.SetFormatValue("103", "paraFrameRate", "30");
        home.SetFormatValue("103", "paraVideoBitRate", "2500");
        const std::string folder = home.File("out");
        const auto r = home.Convert("103", source, folder);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.output.find("max bitrate less than average bitrate"), std::string::npos)
            << r.output;
        EXPECT_EQ(r.output.find("level limit"), std::string::npos) << r.output;
        const std::string out = OnlyFile(folder);
        EXPECT_EQ(testsupport::ProbeValue(out, "stream=width", "v:0") + "x" +
                      testsupport::ProbeValue(out, "stream=height", "v:0"),
                  c.Size);
        EXPECT_GE(std::atoi(testsupport::ProbeValue(out, "stream=level", "v:0").c_str()),
                  c.MinLevel);
        // The encoder writes its settings into the stream: the ceiling is
        // the chosen rate, not the preset's 1500 kbit/s.
        std::ifstream file(out, std::ios::binary);
        const std::string bytes(std::istreambuf_iterator<char>(file), {});
        EXPECT_NE(bytes.find("vbv_maxrate=2500"), std::string::npos);
    }
}
