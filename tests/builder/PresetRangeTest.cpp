#include "core/OptionBuilder.h"

#include "BuilderTestEnv.h"

namespace {

struct TRangeCase {
    const char* Name;
    const char* Kind;
    const char* List; // nullptr: the key is missing
    int64_t Value;
    bool InRange;
};

class PresetRange : public buildertest::TBuilderTest,
                    public ::testing::WithParamInterface<TRangeCase> {};

const char* ListKey(const std::string& kind) {
    if (kind == kRangeAudioSampleRate) return "SampleRate";
    return kind == kRangeAudioBitRate ? "AudioBitRate" : "VideoBitRate";
}

TEST_P(PresetRange, FirstAndLastNumberBound) {
    const TRangeCase& c = GetParam();
    if (c.List)
        Preset({{ListKey(c.Kind), c.List}});
    else
        Preset({{"Format", "mp4"}});
    EXPECT_EQ(InPresetRange(Global, kCode, c.Kind, c.Value), c.InRange);
}

INSTANTIATE_TEST_SUITE_P(
    Builder, PresetRange,
    ::testing::Values(
        TRangeCase{"above_as_source_list", kRangeAudioBitRate, "as source,64,96,128,160", 192000,
                   false},
        TRangeCase{"inside_as_source_list", kRangeAudioBitRate, "as source,64,96,128,160", 128000,
                   true},
        TRangeCase{"low_edge", kRangeAudioBitRate, "as source,64,96,128,160", 64000, true},
        TRangeCase{"just_below_low_edge", kRangeAudioBitRate, "as source,64,96,128,160", 63999,
                   false},
        TRangeCase{"high_edge", kRangeAudioBitRate, "as source,64,96,128,160", 160000, true},
        TRangeCase{"as_source_any_case", kRangeVideoBitRate, "As Source,256,384,512", 300000, true},
        // with one "," the last item is not read: the range is the first item alone
        TRangeCase{"two_items_low", kRangeVideoBitRate, "256,512", 256000, true},
        TRangeCase{"two_items_between", kRangeVideoBitRate, "256,512", 300000, false},
        TRangeCase{"as_source_and_one_item", kRangeVideoBitRate, "as source,512", 512000, true},
        TRangeCase{"sample_rate_inside", kRangeAudioSampleRate, "as source,8000,22050,48000", 44100,
                   true},
        TRangeCase{"sample_rate_above", kRangeAudioSampleRate, "as source,8000,22050,48000", 96000,
                   false},
        TRangeCase{"sample_rate_no_stream", kRangeAudioSampleRate, "8000,22050,48000", -1, false},
        TRangeCase{"null_list", kRangeAudioSampleRate, "null", 44100, false},
        TRangeCase{"missing_list", kRangeAudioSampleRate, nullptr, 44100, false},
        TRangeCase{"leading_comma", kRangeAudioSampleRate, ",8000,48000", 44100, false},
        TRangeCase{"single_item", kRangeAudioSampleRate, "44100", 44100, false},
        TRangeCase{"decimal_items", kRangeAudioBitRate, "as source,64.5,96,128.5", 128500, true}),
    [](const auto& info) { return std::string(info.param.Name); });

class PresetRangeErrors : public buildertest::TBuilderTest {};

TEST_F(PresetRangeErrors, ItemThatIsNoNumber) {
    Preset({{"SampleRate", "8000,abc,fast"}});
    try {
        InPresetRange(Global, kCode, kRangeAudioSampleRate, 44100);
        ADD_FAILURE() << "no error for a list item that is not a number";
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("'fast'"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("SampleRate"), std::string::npos) << e.what();
    }
    EXPECT_THROW(InPresetRange(Global, kCode, "framerate", 25), std::invalid_argument);
}

struct TTextCase {
    const char* Text;
    bool Integer, Number;
};

class TextTests : public ::testing::TestWithParam<TTextCase> {};

TEST_P(TextTests, WholeTextCounts) {
    const TTextCase& c = GetParam();
    EXPECT_EQ(IsInteger(c.Text), c.Integer) << c.Text;
    EXPECT_EQ(IsNumber(c.Text), c.Number) << c.Text;
}

INSTANTIATE_TEST_SUITE_P(
    Builder, TextTests,
    ::testing::Values(TTextCase{"512", true, true}, TTextCase{"-3", true, true},
                      TTextCase{"+7", true, true}, TTextCase{"29.97", false, true},
                      TTextCase{".5", false, true}, TTextCase{"5.", false, true},
                      TTextCase{"1e3", false, true}, TTextCase{"", false, false},
                      TTextCase{"-", false, false}, TTextCase{".", false, false},
                      TTextCase{" 512", false, false}, TTextCase{"512 ", false, false},
                      TTextCase{"12a", false, false}, TTextCase{"1.2.3", false, false},
                      TTextCase{"as source", false, false}, TTextCase{"inf", false, false},
                      TTextCase{"nan", false, false}, TTextCase{"0x1F", false, false},
                      TTextCase{"2147483647", true, true}, TTextCase{"2147483648", false, true},
                      TTextCase{"29,97", false, false}));

} // namespace
