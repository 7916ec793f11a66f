// The local files behind a name given to the format library. Some of its
// protocols read other names ("concat:a.avi|b.avi", "cache:a.avi",
// "subfile,,start,0,end,9,,:a.avi"...), so a name that is not a path may
// still read files: those files are what an output must never replace.
#pragma once

#include <string>
#include <vector>

// The paths of the local files `libraryName` reads or writes: the path of
// a plain or "file:" name; the files inside the names read by "concat:"
// (parts separated by "|"), "concatf:" (the list file and the names on its
// lines), "cache:", "async:", "crypto:" / "crypto+" and "subfile" (the
// name after its options); "unicode:utf8:" names at any level. Empty for
// names of other protocols (pipe:, network streams). Nested names are
// followed a few levels deep.
std::vector<std::string> LocalFilesOf(const std::string& libraryName);
