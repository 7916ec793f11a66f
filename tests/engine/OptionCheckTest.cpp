// The checks of an option no context took, on an option state alone.
#include "EngineTestSupport.h"

#include "engine/OptionCheck.h"

namespace {

class OptionCheck : public ::testing::Test, protected LibrariesFirst {
protected:
    void SetUp() override {
        RequireLibraries();
        ASSERT_TRUE(AllocOptionContexts(Contexts, Options.SwsFlags));
    }
    TOptionState Options;
    TOptionContexts Contexts;
};

} // namespace

// An encoder's own option counts as the task's only once the options name
// that encoder; then a value no context took is the value's fault.
TEST_F(OptionCheck, EncoderOptionsCountOnceTheEncoderIsNamed) {
    EXPECT_FALSE(HasSettableOption(Contexts, Options, "mpeg_quant"));
    EXPECT_EQ(EngineError([&] { RefuseOption(Contexts, Options, "mpeg_quant", "x"); }), "");
    Options.HasVideoCodecName = true;
    Options.VideoCodecName = "mpeg4";
    EXPECT_TRUE(HasSettableOption(Contexts, Options, "mpeg_quant"));
    EXPECT_EQ(EngineError([&] { RefuseOption(Contexts, Options, "mpeg_quant", "x"); }),
              InvalidValueText("mpeg_quant", "x"));
    // Generic codec options, with or without a kind's letter.
    EXPECT_TRUE(IsGenericOptionName(Contexts, "g"));
    EXPECT_TRUE(IsGenericOptionName(Contexts, "vb"));
    EXPECT_FALSE(IsGenericOptionName(Contexts, "mpeg_quant"));
}

// A name only some muxer knows may be meant for a later output; a name no
// library knows is refused at once.
TEST_F(OptionCheck, UnknownNamesAreThoseNoLibraryKnows) {
    EXPECT_EQ(EngineError([&] { RefuseUnknownName(Contexts, Options, "movflags"); }), "");
    EXPECT_EQ(EngineError([&] { RefuseUnknownName(Contexts, Options, "g"); }), "");
    EXPECT_EQ(EngineError([&] { RefuseUnknownName(Contexts, Options, "nosuchname"); }),
              "Unrecognized option 'nosuchname'.");
    EXPECT_EQ(EngineError([&] { RefuseOption(Contexts, Options, "nosuchname", "1"); }),
              "Unrecognized option 'nosuchname'.");
}
