// The input set-up on its own: what one input's options do to the next, the
// task's length, and an input refused as one of the outputs.
#include "engine/InputSetup.h"

#include "EngineTestSupport.h"

namespace {

struct InputSetupTest : ::testing::Test, LibrariesFirst {
    EngineMedia* Media = &EngineMedia::Get();
    bool Strict = false;
    TTaskOptions Options{Strict, TOptionLinks{}};
    std::string ErrorText;
    int64_t TotalDuration = -1;
    std::string Output; // the name the output check refuses
    TInputSetup Setup{{Options, ErrorText, TotalDuration,
                       [this](const std::string& name) {
                           if (name == Output) throw FFmpegException("is an output");
                       },
                       [] { return false; }}};

    void SetUp() override {
        RequireLibraries();
        Options.Reset();
    }
};

} // namespace

// A decoder named for one input goes with it, whether it opens or not: the
// next input opens with its own decoders. The task is as long as its
// longest input.
TEST_F(InputSetupTest, AnInputsOptionsGoWithItAndTheLongestSetsTheLength) {
    TOptionState& state = Options.State();
    state.HasVideoCodecName = true;
    state.VideoCodecName = "mp2";
    EXPECT_FALSE(Setup.Open(Media->AudioVideo));
    EXPECT_EQ(ErrorText, "Invalid decoder type 'mp2'");
    EXPECT_TRUE(Setup.Files().empty());
    EXPECT_FALSE(state.HasVideoCodecName);
    EXPECT_TRUE(state.VideoCodecName.empty());

    ASSERT_TRUE(Setup.Open(Media->TwoSeconds)) << ErrorText;
    const int64_t longest = Setup.Files()[0].Context->duration;
    EXPECT_EQ(TotalDuration, longest);
    ASSERT_TRUE(Setup.Open(Media->OneSecond)) << ErrorText;
    EXPECT_EQ(Setup.Files().size(), 2u);
    EXPECT_LT(Setup.Files()[1].Context->duration, longest);
    EXPECT_EQ(TotalDuration, longest);
}

// An input that is one of the outputs is refused before it opens; the
// next one opens in the first slot.
TEST_F(InputSetupTest, AnInputThatIsAnOutputIsRefused) {
    Output = Media->OneSecond;
    EXPECT_EQ(EngineError([this] { Setup.Open(Media->OneSecond); }), "is an output");
    EXPECT_TRUE(Setup.Files().empty());
    ASSERT_TRUE(Setup.Open(Media->AudioVideo)) << ErrorText;
    ASSERT_EQ(Setup.Files().size(), 1u);
    EXPECT_EQ(std::string(Setup.Files()[0].Context->url), Media->AudioVideo);
}
