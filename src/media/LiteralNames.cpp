#include "media/LiteralNames.h"

#include "media/AVUtilEntries.h"

#include <sys/stat.h>

void ReadExistingFileAsItself(const std::string& libraryName, AVDictionary** options) {
    if (libraryName.find('%') == std::string::npos) return;
    // A "file:" name is a plain path to the library as well.
    const std::string path =
        libraryName.rfind("file:", 0) == 0 ? libraryName.substr(5) : libraryName;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
    ff::avutil.av_dict_set(options, "pattern_type", "none", AV_DICT_DONT_OVERWRITE);
}
