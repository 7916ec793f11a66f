// The built-in presets: twenty-six libx264 presets share one line pattern and
// differ in fourteen values; fourteen more are written out line by line.
#include "engine/FFmpegPresets.h"
#include "media/TextUtils.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace {

// The values of the shared pattern, in the order of PatternKeys.
struct PatternRow {
    const char* Name;
    const char* Coder;
    const char* Flags;
    const char* Partitions;
    const char* MeMethod;
    const char* Subq;
    const char* MeRange;
    const char* ScThreshold;
    const char* BStrategy;
    const char* Bf;
    const char* Refs;
    const char* DirectPred;
    const char* Trellis;
    const char* Flags2;
    const char* Wpredp;
};

const PatternRow kPatternRows[] = {
    {"libx264-default", "1", "+loop", "+parti8x8+parti4x4+partp8x8+partb8x8", "hex", "7", "16",
     "40", "1", "3", "3", "1", "1", "+mixed_refs+wpred+dct8x8+fastpskip", "2"},
    {"libx264-fast", "1", "+loop", "+parti8x8+parti4x4+partp8x8+partb8x8", "hex", "6", "16", "40",
     "1", "3", "2", "1", "1", "+bpyramid+mixed_refs+wpred+dct8x8+fastpskip", "2"},
    {"libx264-fast_firstpass", "1", "+loop", "-parti8x8-parti4x4-partp8x8-partb8x8", "dia", "2",
     "16", "40", "1", "3", "1", "1", "0", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip", "2"},
    {"libx264-faster", "1", "+loop", "+parti8x8+parti4x4+partp8x8+partb8x8", "hex", "4", "16", "40",
     "1", "3", "2", "1", "1", "+bpyramid-mixed_refs+wpred+dct8x8+fastpskip", "1"},
    {"libx264-faster_firstpass", "1", "+loop", "-parti8x8-parti4x4-partp8x8-partb8x8", "dia", "2",
     "16", "40", "1", "3", "1", "1", "0", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip", "1"},
    {"libx264-fastfirstpass", "1", "+loop", "-parti8x8-parti4x4-partp8x8-partp4x4-partb8x8", "dia",
     "2", "16", "40", "1", "3", "1", "3", "0", "-bpyramid-wpred-mixed_refs-dct8x8+fastpskip", "2"},
    {"libx264-hq", "1", "+loop", "+parti8x8+parti4x4+partp8x8+partb8x8", "umh", "8", "16", "40",
     "2", "3", "4", "3", "1", "+wpred+mixed_refs+dct8x8+fastpskip", "2"},
    {"libx264-max", "1", "+loop", "+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8", "tesa", "10",
     "24", "40", "2", "3", "16", "3", "2", "+wpred+mixed_refs+dct8x8-fastpskip", "2"},
    {"libx264-medium", "1", "+loop", "+parti8x8+parti4x4+partp8x8+partb8x8", "hex", "7", "16", "40",
     "1", "3", "3", "1", "1", "+bpyramid+mixed_refs+wpred+dct8x8+fastpskip", "2"},
    {"libx264-medium_firstpass", "1", "+loop", "-parti8x8-parti4x4-partp8x8-partb8x8", "dia", "2",
     "16", "40", "1", "3", "1", "1", "0", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip", "2"},
    {"libx264-normal", "1", "+loop", "+parti8x8+parti4x4+partp8x8+partb8x8", "hex", "6", "16", "40",
     "1", "3", "2", "3", "0", "+wpred+dct8x8+fastpskip", "2"},
    {"libx264-placebo", "1", "+loop", "+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8", "tesa", "10",
     "24", "40", "2", "16", "16", "3", "2", "+bpyramid+mixed_refs+wpred+dct8x8-fastpskip", "2"},
    {"libx264-placebo_firstpass", "1", "+loop", "+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8",
     "tesa", "10", "24", "40", "2", "16", "16", "3", "2",
     "+bpyramid+mixed_refs+wpred+dct8x8-fastpskip", "2"},
    {"libx264-slow", "1", "+loop", "+parti8x8+parti4x4+partp8x8+partb8x8", "umh", "8", "16", "40",
     "2", "3", "5", "3", "1", "+bpyramid+mixed_refs+wpred+dct8x8+fastpskip", "2"},
    {"libx264-slow_firstpass", "1", "+loop", "-parti8x8-parti4x4-partp8x8-partb8x8", "dia", "2",
     "16", "40", "2", "3", "1", "3", "0", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip", "2"},
    {"libx264-slower", "1", "+loop", "+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8", "umh", "9",
     "16", "40", "2", "3", "8", "3", "2", "+bpyramid+mixed_refs+wpred+dct8x8+fastpskip", "2"},
    {"libx264-slower_firstpass", "1", "+loop", "-parti8x8-parti4x4-partp8x8-partb8x8", "dia", "2",
     "16", "40", "2", "3", "1", "3", "0", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip", "2"},
    {"libx264-slowfirstpass", "1", "+loop", "+parti8x8+parti4x4+partp8x8+partb8x8", "hex", "6",
     "16", "40", "2", "3", "1", "3", "0", "+wpred+dct8x8+fastpskip", "2"},
    {"libx264-superfast", "1", "+loop", "+parti8x8+parti4x4-partp8x8-partb8x8", "dia", "1", "16",
     "40", "1", "3", "1", "1", "0", "+bpyramid-mixed_refs+wpred+dct8x8+fastpskip-mbtree", "0"},
    {"libx264-superfast_firstpass", "1", "+loop", "-parti8x8-parti4x4-partp8x8-partb8x8", "dia",
     "1", "16", "40", "1", "3", "1", "1", "0", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip-mbtree",
     "0"},
    {"libx264-ultrafast", "0", "-loop", "-parti8x8-parti4x4-partp8x8-partb8x8", "dia", "0", "16",
     "0", "0", "0", "1", "1", "0", "-bpyramid-mixed_refs-wpred-dct8x8+fastpskip-mbtree", "0"},
    {"libx264-ultrafast_firstpass", "0", "-loop", "-parti8x8-parti4x4-partp8x8-partb8x8", "dia",
     "0", "16", "0", "0", "0", "1", "1", "0", "-bpyramid-mixed_refs-wpred-dct8x8+fastpskip-mbtree",
     "0"},
    {"libx264-veryfast", "1", "+loop", "+parti8x8+parti4x4+partp8x8+partb8x8", "hex", "2", "16",
     "40", "1", "3", "1", "1", "0", "+bpyramid-mixed_refs+wpred+dct8x8+fastpskip-mbtree", "0"},
    {"libx264-veryfast_firstpass", "1", "+loop", "-parti8x8-parti4x4-partp8x8-partb8x8", "dia", "2",
     "16", "40", "1", "3", "1", "1", "0", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip-mbtree",
     "0"},
    {"libx264-veryslow", "1", "+loop", "+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8", "umh", "10",
     "24", "40", "2", "8", "16", "3", "2", "+bpyramid+mixed_refs+wpred+dct8x8+fastpskip", "2"},
    {"libx264-veryslow_firstpass", "1", "+loop", "-parti8x8-parti4x4-partp8x8-partb8x8", "dia", "2",
     "24", "40", "2", "8", "1", "3", "0", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip", "2"},
};

const TOptionsPreset kOtherPresets[] = {
    {"libx264-baseline", "coder=0\nbf=0\nflags2=-wpred-dct8x8\nwpredp=0"},
    {"libx264-ipod320",
     "coder=0\nbf=0\nflags2=-wpred-dct8x8\nlevel=13\nmaxrate=768000\nbufsize=3000000\nwpredp=0"},
    {"libx264-ipod640", "coder=0\nbf=0\nrefs=1\nflags2=-wpred-dct8x8\nlevel=30\nmaxrate="
                        "10000000\nbufsize=10000000\nwpredp=0"},
    {"libx264-lossless_fast",
     "coder=0\nflags=+loop\ncmp=+chroma\npartitions=-parti8x8+parti4x4+partp8x8-partp4x4-"
     "partb8x8\nme_method=hex\nsubq=3\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_"
     "qfactor=0.71\nb_strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\ndirectpred=1\nflags2=+"
     "fastpskip\ncqp=0\nwpredp=0"},
    {"libx264-lossless_max",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=+parti8x8+parti4x4+partp8x8+partp4x4-"
     "partb8x8\nme_method=esa\nsubq=8\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_"
     "qfactor=0.71\nb_strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nrefs=16\ndirectpred="
     "1\nflags2=+mixed_refs+dct8x8+fastpskip\ncqp=0\nwpredp=2"},
    {"libx264-lossless_medium",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=-parti8x8+parti4x4+partp8x8+partp4x4-"
     "partb8x8\nme_method=hex\nsubq=5\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_"
     "qfactor=0.71\nb_strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\ndirectpred=1\nflags2=+"
     "fastpskip\ncqp=0\nwpredp=2"},
    {"libx264-lossless_slow",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=+parti8x8+parti4x4+partp8x8+partp4x4-"
     "partb8x8\nme_method=umh\nsubq=6\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_"
     "qfactor=0.71\nb_strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nrefs=2\ndirectpred="
     "1\nflags2=+dct8x8+fastpskip\ncqp=0\nwpredp=2"},
    {"libx264-lossless_slower",
     "coder=1\nflags=+loop\ncmp=+chroma\npartitions=+parti8x8+parti4x4+partp8x8+partp4x4-"
     "partb8x8\nme_method=umh\nsubq=8\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_"
     "qfactor=0.71\nb_strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nrefs=4\ndirectpred="
     "1\nflags2=+mixed_refs+dct8x8+fastpskip\ncqp=0\nwpredp=2"},
    {"libx264-lossless_ultrafast",
     "coder=0\nflags=+loop\ncmp=+chroma\npartitions=-parti8x8-parti4x4-partp8x8-partp4x4-"
     "partb8x8\nme_method=dia\nsubq=0\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_"
     "qfactor=0.71\nb_strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\ndirectpred=1\nflags2=+"
     "fastpskip\ncqp=0"},
    {"libx264-main", "flags2=-dct8x8"},
    {"libx264-psp",
     "coder=1\nflags=+loop\nlevel=30\ncmp=+chroma\npartitions=+parti4x4+parti8x8+partp8x8+"
     "partb8x8\nme_method=umh\nsubq=7\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_"
     "qfactor=0.71\nb_strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=3\nrefs=1\ndirectpred="
     "1\ntrellis=2\nb=1250000\nmaxrate=1500000\nbufsize=4000000\nbt=256000\nsc_threshold=40"},
    {"libx264-mp4",
     "coder=1\nflags=+loop\nlevel=30\ncmp=+chroma\npartitions=+parti4x4+parti8x8+partp8x8+"
     "partb8x8\nme_method=umh\nsubq=7\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_"
     "qfactor=0.71\nb_strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=3\nrefs=1\ndirectpred="
     "1\ntrellis=2\nb=1250000\nmaxrate=1500000\nbufsize=4000000\nbt=256000\nsc_threshold=40"},
    {"libx264-ps3",
     "coder=1\nflags=+loop\nlevel=30\ncmp=+chroma\npartitions=+parti4x4+parti8x8+partp8x8+"
     "partb8x8\nme_method=umh\nsubq=7\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_"
     "qfactor=0.71\nb_strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=3\nrefs=1\ndirectpred="
     "1\ntrellis=2\nmaxrate=3500000\nbufsize=4000000\nbt=256000\nsc_threshold=40"},
    {"libx264-ipod",
     "coder=0\nflags=+loop\nlevel=30\ncmp=+chroma\npartitions=+parti4x4+parti8x8+partp8x8\nme_"
     "method=umh\nsubq=7\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_qfactor=0.71\nb_"
     "strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nrefs=1\ndirectpred=1\ntrellis=2\nb="
     "1000000\nmaxrate=1250000\nbufsize=4000000\nbt=256000\nsc_threshold=40"},
};

std::string PatternText(const PatternRow& r) {
    const std::pair<const char*, const char*> lines[] = {
        {"coder", r.Coder},
        {"flags", r.Flags},
        {"cmp", "+chroma"},
        {"partitions", r.Partitions},
        {"me_method", r.MeMethod},
        {"subq", r.Subq},
        {"me_range", r.MeRange},
        {"g", "250"},
        {"keyint_min", "25"},
        {"sc_threshold", r.ScThreshold},
        {"i_qfactor", "0.71"},
        {"b_strategy", r.BStrategy},
        {"qcomp", "0.6"},
        {"qmin", "10"},
        {"qmax", "51"},
        {"qdiff", "4"},
        {"bf", r.Bf},
        {"refs", r.Refs},
        {"directpred", r.DirectPred},
        {"trellis", r.Trellis},
        {"flags2", r.Flags2},
        {"wpredp", r.Wpredp},
    };
    std::string text;
    for (const auto& [key, value] : lines) {
        if (!text.empty()) text += '\n';
        text += std::string(key) + "=" + value;
    }
    return text;
}

std::vector<TOptionsPreset> MakePresets() {
    std::vector<TOptionsPreset> presets;
    for (const PatternRow& row : kPatternRows)
        presets.push_back({row.Name, PatternText(row)});
    for (const TOptionsPreset& p : kOtherPresets)
        presets.push_back(p);
    return presets;
}

// Splits "+a-b+c" into (sign, word) pairs; a word without sign counts as '+'.
std::vector<std::pair<char, std::string>> SignedWords(const std::string& value) {
    std::vector<std::pair<char, std::string>> words;
    char sign = '+';
    std::string word;
    auto flush = [&] {
        if (!word.empty()) words.emplace_back(sign, word);
        word.clear();
    };
    for (char c : value) {
        if (c == '+' || c == '-') {
            flush();
            sign = c;
        } else {
            word += c;
        }
    }
    flush();
    return words;
}

// "+parti8x8-partp8x8..." -> "i8x8,..." (the partitions switched on), "none" when none is.
std::string MapPartitions(const std::string& value) {
    std::string list;
    for (const auto& [sign, word] : SignedWords(value)) {
        if (sign != '+' || word.rfind("part", 0) != 0) continue;
        if (!list.empty()) list += ',';
        list += word.substr(4);
    }
    return list.empty() ? "none" : list;
}

void MapFlags2(const std::string& value, TMappedPresetLine& out) {
    for (const auto& [sign, word] : SignedWords(value)) {
        const bool on = sign == '+';
        const char* flag = on ? "1" : "0";
        if (word == "mixed_refs")
            out.Options.emplace_back("mixed-refs", flag);
        else if (word == "wpred")
            out.Options.emplace_back("weightb", flag);
        else if (word == "dct8x8")
            out.Options.emplace_back("8x8dct", flag);
        else if (word == "fastpskip")
            out.Options.emplace_back("fast-pskip", flag);
        else if (word == "mbtree")
            out.Options.emplace_back("mbtree", flag);
        else if (word == "bpyramid")
            out.Options.emplace_back("b-pyramid", on ? "normal" : "none");
        else
            out.Dropped.push_back(std::string(1, sign) + word);
    }
}

} // namespace

const std::vector<TOptionsPreset>& BuiltinPresets() {
    static const std::vector<TOptionsPreset> presets = MakePresets();
    return presets;
}

const TOptionsPreset* FindBuiltinPreset(const std::string& name) {
    for (const TOptionsPreset& p : BuiltinPresets())
        if (SameText(p.Name, name)) return &p;
    return nullptr;
}

TMappedPresetLine MapLegacyPresetLine(const std::string& key, const std::string& value) {
    TMappedPresetLine out;
    if (key == "flags2") {
        MapFlags2(value, out);
    } else if (key == "partitions") {
        out.Options.emplace_back("partitions", MapPartitions(value));
    } else if (key == "directpred") {
        out.Options.emplace_back("direct-pred", value);
    } else if (key == "cqp") {
        out.Options.emplace_back("qp", value);
    } else if (key == "wpredp") {
        out.Options.emplace_back("weightp", value);
    } else if (key == "flags" && value == "-loop") {
        out.Options.emplace_back("x264-params", "no-deblock=1");
    } else {
        out.Options.emplace_back(key, value);
    }
    return out;
}
