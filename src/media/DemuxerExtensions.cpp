#include "media/DemuxerExtensions.h"

#include "media/AVFormatEntries.h"
#include "media/TextUtils.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string_view>

namespace {

// Usual extensions of demuxers whose own list is empty or short (they find
// their files by probing the contents).
const std::map<std::string_view, std::string_view>& KnownExtensions() {
    static const std::map<std::string_view, std::string_view> known = {
        {"aiff", "aif,aiff,aifc"},
        {"amr", "amr"},
        {"amrwb", "awb"},
        {"asf", "asf,wmv,wma"},
        {"au", "au,snd"},
        {"bink", "bik,bk2"},
        {"caf", "caf"},
        {"dirac", "drc"},
        {"dsf", "dsf"},
        {"flic", "fli,flc,flx"},
        {"gif", "gif"},
        {"gxf", "gxf"},
        {"h263", "h263"},
        {"ivf", "ivf"},
        {"mmf", "mmf"},
        {"mpc8", "mpc"},
        {"mpeg", "mpg,mpeg,m2p,vob"},
        {"mpegts", "ts,m2t,m2ts,mts,tp,trp"},
        {"mpegvideo", "mpv,m1v,m2v"},
        {"mxf", "mxf"},
        {"nsv", "nsv"},
        {"nuv", "nuv"},
        {"ogg", "ogg,oga,ogv,ogm,ogx,opus,spx"},
        {"rm", "rm,rmvb,ra,ram"},
        {"smk", "smk"},
        {"sox", "sox"},
        {"swf", "swf"},
        {"voc", "voc"},
        {"w64", "w64"},
        {"wav", "wav"},
        {"wtv", "wtv"},
        {"wv", "wv"},
        {"xwma", "xwma"},
    };
    return known;
}

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// Demuxers of files that hold no video or audio: subtitles, captions,
// lyrics, text art, metadata and pictures.
bool HoldsNoMedia(const TDemuxerInfo& demuxer) {
    static const std::set<std::string_view> textOrPicture = {"tty", "bin",        "xbin",   "adf",
                                                             "idf", "ffmetadata", "image2", "ico"};
    const std::string longName = Lower(demuxer.LongName);
    return textOrPicture.count(demuxer.Name) > 0 || EndsWith(demuxer.Name, "_pipe") ||
           longName.find("subtitle") != std::string::npos ||
           longName.find("caption") != std::string::npos ||
           longName.find("lyrics") != std::string::npos;
}

void AddList(std::string_view list, std::set<std::string>& into) {
    while (!list.empty()) {
        const size_t comma = list.find(',');
        const std::string_view item = list.substr(0, comma);
        if (!item.empty()) into.insert(Lower(item));
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
}

} // namespace

std::vector<std::string> MediaExtensionsOf(const std::vector<TDemuxerInfo>& demuxers) {
    std::set<std::string> extensions;
    for (const TDemuxerInfo& demuxer : demuxers) {
        if (HoldsNoMedia(demuxer)) continue;
        AddList(demuxer.Extensions, extensions);
        // A demuxer may carry several names: "mov,mp4,m4a,3gp,3g2,mj2".
        std::string_view names(demuxer.Name);
        const auto known = KnownExtensions().find(names.substr(0, names.find(',')));
        if (known != KnownExtensions().end()) AddList(known->second, extensions);
    }
    return {extensions.begin(), extensions.end()};
}

std::vector<TDemuxerInfo> LoadedDemuxers() {
    std::vector<TDemuxerInfo> demuxers;
    if (!ff::avformat.av_demuxer_iterate) return demuxers;
    void* state = nullptr;
    while (const AVInputFormat* format = ff::avformat.av_demuxer_iterate(&state))
        demuxers.push_back({format->name ? format->name : "",
                            format->long_name ? format->long_name : "",
                            format->extensions ? format->extensions : ""});
    return demuxers;
}

std::vector<std::string> ReadableMediaExtensions() {
    return MediaExtensionsOf(LoadedDemuxers());
}
