// Conversions through frame-hook modules: the example module's change is in
// the output's pixels, compared with the input decoded by ffmpeg; modules
// that cannot be added refuse the task with the option's value.
#include "ConversionTestSupport.h"
#include "media/MyUtils.h"

#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

constexpr int Width = 64, Height = 48, Frames = 5;
constexpr std::size_t LumaSize = Width * Height, FrameSize = LumaSize * 3 / 2;

// A file's pictures as raw yuv420p, decoded by ffmpeg.
std::string DecodedPictures(const testsupport::TempDir& dir, const std::string& file) {
    const std::string raw = dir.file("decoded.yuv");
    std::filesystem::remove(raw);
    if (!testsupport::RunFfmpeg("-i " + testsupport::ShellQuote(file) +
                                " -f rawvideo -pix_fmt yuv420p " + testsupport::ShellQuote(raw)))
        return {};
    std::ifstream in(raw, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class FrameHookConversion : public ::testing::Test {
protected:
    void SetUp() override {
        RequireLibraries();
        Input = Dir.file("in.avi");
        ASSERT_TRUE(testsupport::MakeMedia(
            Input,
            "-f lavfi -i testsrc2=size=64x48:rate=10 -frames:v 5 -pix_fmt yuv420p -c:v ffv1"));
    }

    // Converts losslessly with the given "vhook" value and checks that the
    // rectangle (x, y, w, h) of the brightness plane is inverted in every
    // picture and everything else is unchanged.
    void ExpectInvertedRectangle(const std::string& vhook, int x, int y, int w, int h) {
        RecordingConverter c;
        const std::string out = Dir.file("out.avi");
        ASSERT_EQ(c.Add(Input, out, "vcodec=ffv1\npix_fmt=yuv420p\nvhook=" + vhook), 0)
            << c.Converter.LastErrMsg;
        ASSERT_TRUE(c.Run());
        const TTerminateInfo end = c.TaskEnd(0);
        ASSERT_TRUE(end.Finished) << end.ExceptionMsg;
        const std::string source = DecodedPictures(Dir, Input);
        const std::string result = DecodedPictures(Dir, out);
        ASSERT_EQ(source.size(), FrameSize * Frames);
        ASSERT_EQ(result.size(), source.size());
        int wrong = 0;
        for (std::size_t i = 0; i < source.size(); ++i) {
            const std::size_t inFrame = i % FrameSize;
            const int row = static_cast<int>(inFrame / Width),
                      column = static_cast<int>(inFrame % Width);
            const bool inside =
                inFrame < LumaSize && row >= y && row < y + h && column >= x && column < x + w;
            const auto before = static_cast<uint8_t>(source[i]);
            const auto expected = inside ? static_cast<uint8_t>(255 - before) : before;
            wrong += static_cast<uint8_t>(result[i]) != expected ? 1 : 0;
        }
        EXPECT_EQ(wrong, 0);
    }

    testsupport::TempDir Dir;
    std::string Input;
    EngineLog Log;
};

} // namespace

TEST_F(FrameHookConversion, ExampleModuleInvertsTheRectangleItIsGiven) {
    ExpectInvertedRectangle(std::string(INVERT_HOOK) + " 8 4 16 12", 8, 4, 16, 12);
}

// The test module records its calls: both entries see every picture, in
// the order they were added, with its input time; the end of the task
// releases them.
TEST_F(FrameHookConversion, EveryPictureGoesThroughTheModulesInOrderThenTheyAreReleased) {
    RecordingConverter c;
    const std::string hook = HOOK_FULL;
    ASSERT_EQ(c.Add(Input, Dir.file("out.avi"),
                    "vcodec=ffv1\nvhook=" + hook + " first\nvhook=" + hook + " second"),
              0)
        << c.Converter.LastErrMsg;
    void* module = dlopen(HOOK_FULL, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_TRUE(module);
    char* trace = static_cast<char*>(dlsym(module, "HookTrace"));
    const int second = *static_cast<int*>(dlsym(module, "HookContexts"));
    dlclose(module);
    ASSERT_TRUE(trace);
    const std::string folder = std::filesystem::path(hook).parent_path().string();
    EXPECT_EQ(std::string(trace), FormatText("C%d:2:first,end@%s;C%d:2:second,end@%s;", second - 1,
                                             folder.c_str(), second, folder.c_str()));
    trace[0] = '\0';
    ASSERT_TRUE(c.Run());
    EXPECT_TRUE(c.TaskEnd(0).Finished) << c.TaskEnd(0).ExceptionMsg;
    std::string expected;
    for (int frame = 0; frame < Frames; ++frame)
        for (int context : {second - 1, second})
            expected += FormatText("P%d/0/64x48/%d;", context, frame * 100000);
    expected += FormatText("R%d;R%d;", second - 1, second);
    EXPECT_EQ(std::string(trace), expected);
}

TEST_F(FrameHookConversion, ModuleInFolderWithBlanksTakesBarSeparatedWords) {
    const std::filesystem::path folder = Dir.path() / "hook folder ü";
    std::filesystem::create_directories(folder);
    const std::string module = (folder / "invert hook.so").string();
    std::filesystem::copy_file(INVERT_HOOK, module);
    ExpectInvertedRectangle(module + "|0|0|64|48", 0, 0, Width, Height);
}

TEST_F(FrameHookConversion, ModulesThatCannotBeAddedRefuseTheTask) {
    const std::string folder = std::filesystem::current_path().string();
    const std::string values[] = {
        Dir.file("missing.so") + " 1 2",     // cannot be loaded
        std::string(INVERT_HOOK) + " 1 two", // its Configure refuses
    };
    for (const std::string& value : values) {
        SCOPED_TRACE(value);
        RecordingConverter c;
        EXPECT_EQ(c.Add(Input, Dir.file("refused.avi"), "vcodec=ffv1\nvhook=" + value), -1);
        EXPECT_EQ(c.Converter.LastErrMsg, "Failed to add video hook function: " + value);
        EXPECT_FALSE(std::filesystem::exists(Dir.file("refused.avi")));
    }
    EXPECT_TRUE(Log.Contains("missing.so"));
    EXPECT_TRUE(Log.Contains(std::string("Failed to Configure ") + INVERT_HOOK));
    EXPECT_EQ(std::filesystem::current_path().string(), folder);
}

// No pictures are decoded for a copied stream, so the conversion is refused.
TEST_F(FrameHookConversion, CopiedVideoRefusesModules) {
    RecordingConverter c;
    const std::string out = Dir.file("copy.avi");
    ASSERT_EQ(c.Add(Input, out, "vcodec=copy\nvhook=" + std::string(INVERT_HOOK)), 0);
    ASSERT_TRUE(c.Run());
    const TTerminateInfo end = c.TaskEnd(0);
    EXPECT_FALSE(end.Finished);
    EXPECT_NE(end.ExceptionMsg.find("-vcodec copy and -vhook are incompatible"), std::string::npos)
        << end.ExceptionMsg;
    EXPECT_FALSE(std::filesystem::exists(out));
}

// Texts of the records and option pairs reach the engine whole: a title, a
// tag or a time holding a line break or "<CRLF>" adds no option (here none
// that would load a module); the title is stored as it was given.
TEST_F(FrameHookConversion, LineBreaksInRecordValuesAddNoOptions) {
    const std::string hook = HOOK_MARKER;
    for (const std::string lineBreak : {"<CRLF>", "\n", "\r\n"}) {
        SCOPED_TRACE(testing::PrintToString(lineBreak));
        const std::string smuggled = lineBreak + "vhook=" + hook;
        RecordingConverter c;
        TInputOptions start;
        start.ExtOptionPairs = {{"ss", "0" + smuggled}};
        EXPECT_LT(c.Converter.AddTask(Input, &start), 0);
        EXPECT_NE(c.Converter.LastErrMsg.find("Invalid duration specification for ss"),
                  std::string::npos)
            << c.Converter.LastErrMsg;
        c.Converter.ClearTasks();

        ASSERT_EQ(c.Converter.AddTask(Input), 0) << c.Converter.LastErrMsg;
        TOutputOptions out;
        out.Title = "Holiday" + smuggled;
        out.Comment = smuggled;
        out.ExtOptionPairs = {{"metadata", "album=A" + smuggled}, {"vcodec", "ffv1"}};
        const std::string file = Dir.file("tagged.mkv");
        ASSERT_TRUE(c.Converter.SetOutputFile(0, file, &out)) << c.Converter.LastErrMsg;
        ASSERT_TRUE(c.Run());
        ASSERT_TRUE(c.TaskEnd(0).Finished) << c.TaskEnd(0).ExceptionMsg;
        if (lineBreak == "<CRLF>") {
            EXPECT_EQ(testsupport::ProbeValue(file, "format_tags=title"), out.Title);
        }
        EXPECT_EQ(testsupport::ProbeValue(file, "stream=codec_name", "v:0"), "ffv1");
    }
    EXPECT_EQ(dlopen(HOOK_MARKER, RTLD_NOW | RTLD_NOLOAD), nullptr);
    // Asked for plainly, the module loads (and stays loaded).
    RecordingConverter c;
    EXPECT_EQ(c.Add(Input, Dir.file("hooked.avi"), "vcodec=ffv1\nvhook=" + hook), 0)
        << c.Converter.LastErrMsg;
    void* module = dlopen(HOOK_MARKER, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(module, nullptr);
    if (module) dlclose(module);
}
