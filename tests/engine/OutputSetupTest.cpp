// The output set-up on its own, over inputs opened by the test: a joined
// output and what dropping it frees, the cover picture an audio output
// takes, and a target that cannot be written.
#include "engine/OutputSetup.h"

#include "EngineTestSupport.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

struct OutputSetupTest : ::testing::Test, LibrariesFirst {
    EngineMedia* Media = &EngineMedia::Get();
    testsupport::TempDir Out;
    bool Strict = false, NewOnly = false;
    TTaskOptions Options{Strict, TOptionLinks{}};
    std::vector<TInputFileSlot> Inputs;
    std::string ErrorText;
    int64_t TotalDuration = -1;
    TOutputSetup Setup{{Options, Inputs, ErrorText, TotalDuration, Strict, NewOnly}};

    void SetUp() override {
        RequireLibraries();
        Options.Reset();
    }

    void AddInput(const std::string& fileName) {
        AVFormatContext* context = nullptr;
        ASSERT_EQ(ff::avformat.avformat_open_input(&context, fileName.c_str(), nullptr, nullptr),
                  0);
        TInputFileSlot slot;
        slot.Context.reset(context);
        ASSERT_GE(ff::avformat.avformat_find_stream_info(context, nullptr), 0);
        Inputs.push_back(std::move(slot));
    }

    bool FolderIsEmpty() const { return fs::is_empty(Out.path()); }
};

} // namespace

// A joined output fills one slot per input with one file whose streams all
// belong to the first slot; dropping it frees the join for another output.
TEST_F(OutputSetupTest, AJoinedOutputIsOneFileAndDroppingItFreesTheJoin) {
    AddInput(Media->OneSecond);
    AddInput(Media->TwoSeconds);
    ASSERT_EQ(Setup.Open(Out.file("joined.mkv"), true), 2) << ErrorText;
    EXPECT_TRUE(Setup.Joined());
    EXPECT_EQ(Setup.Context(0), Setup.Context(1));
    EXPECT_EQ(Setup.Context(2), nullptr);
    ASSERT_EQ(Setup.Streams().size(), 2u); // video and audio
    for (const TOutputStreamSetup& stream : Setup.Streams())
        EXPECT_EQ(stream.FileIndex, 0);
    EXPECT_EQ(TotalDuration, Inputs[0].Context->duration + Inputs[1].Context->duration);

    Setup.DropFiles(0);
    EXPECT_FALSE(Setup.Joined());
    EXPECT_EQ(Setup.FileCount(), 0);
    EXPECT_TRUE(Setup.Streams().empty());
    EXPECT_TRUE(FolderIsEmpty()); // the joined file never got data
    EXPECT_EQ(Setup.Open(Out.file("alone.mkv"), false), 1) << ErrorText;
    EXPECT_FALSE(Setup.Joined());
}

// Music from a file with a cover picture keeps the cover, copied and marked
// as attached, in a container that holds one; a container that holds none
// and a joined output go without.
TEST_F(OutputSetupTest, AnAudioOutputTakesTheCoverWhereTheContainerHoldsOne) {
    const std::string cover = Out.file("cover.mp3");
    ASSERT_TRUE(testsupport::MakeMedia(
        cover, "-f lavfi -i sine -f lavfi -i testsrc2=size=64x64 -t 1 -map 0 -map 1 "
               "-frames:v 1 -c:v mjpeg -disposition:v attached_pic -c:a libmp3lame"));
    AddInput(cover);
    ASSERT_EQ(Inputs[0].Context->nb_streams, 2u);

    Options.State().VideoDisable = true;
    ASSERT_EQ(Setup.Open(Out.file("music.mp3"), false), 1) << ErrorText;
    ASSERT_EQ(Setup.Streams().size(), 2u);
    const TOutputStreamSetup& picture = Setup.Streams()[1];
    EXPECT_EQ(Setup.Streams()[0].MediaType, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(picture.MediaType, AVMEDIA_TYPE_VIDEO);
    EXPECT_TRUE(picture.StreamCopy);
    EXPECT_EQ(picture.SourceStream, 1);
    EXPECT_EQ(picture.Stream->disposition, AV_DISPOSITION_ATTACHED_PIC);
    EXPECT_EQ(picture.Encoder, nullptr);

    Options.State().VideoDisable = true;
    ASSERT_EQ(Setup.Open(Out.file("music.wav"), false), 2) << ErrorText;
    ASSERT_EQ(Setup.Streams().size(), 3u);
    EXPECT_EQ(Setup.Streams()[2].MediaType, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(Setup.Streams()[2].FileIndex, 1);

    // Two segments: the joined output takes no cover of the first.
    Setup.DropFiles(0);
    AddInput(cover);
    Options.State().VideoDisable = true;
    ASSERT_EQ(Setup.Open(Out.file("both.mp3"), true), 2) << ErrorText;
    ASSERT_EQ(Setup.Streams().size(), 1u);
    EXPECT_EQ(Setup.Streams()[0].MediaType, AVMEDIA_TYPE_AUDIO);
}

// A target in a folder that does not exist, or under a file, fails with the
// system's text and leaves no file, no stream and no slot behind; the next
// output opens in the first slot.
TEST_F(OutputSetupTest, AnUnwritableTargetFailsAndLeavesNothingBehind) {
    AddInput(Media->AudioVideo);
    const std::string missing = Out.file("none/out.avi");
    EXPECT_EQ(Setup.Open(missing, false), -1);
    EXPECT_EQ(ErrorText, missing + ": No such file or directory");
    EXPECT_EQ(Setup.FileCount(), 0);
    EXPECT_TRUE(Setup.Streams().empty());
    EXPECT_TRUE(FolderIsEmpty());

    const std::string plain = Out.file("plain");
    { std::ofstream(plain) << "a file"; }
    const std::string under = plain + "/out.avi";
    EXPECT_EQ(Setup.Open(under, false), -1);
    EXPECT_EQ(ErrorText, under + ": Not a directory");
    EXPECT_EQ(Setup.FileCount(), 0);
    EXPECT_TRUE(Setup.Streams().empty());

    ASSERT_EQ(Setup.Open(Out.file("good.avi"), false), 1) << ErrorText;
    ASSERT_EQ(Setup.Streams().size(), 2u);
    EXPECT_EQ(Setup.Streams()[0].FileIndex, 0);
    EXPECT_EQ(Setup.Streams()[1].FileIndex, 0);
}
