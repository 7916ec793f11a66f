// Files a demuxer opens on a source's behalf. An HLS or DASH playlist
// names its segments and keys, a concat list its entries; opened as they
// stand, a "video" that is really such a list could pull any media file of
// the user, or a key file of the system, into the converted output. A
// local source may therefore have only files in its own folder (or below
// it) opened for it; a source given by a protocol (pipe:, http:, ...)
// keeps the library's own rules.
#pragma once

#include "media/FFmpegHeaders.h"

#include <string>

// Installs the check on a context allocated for `sourceName` (the name
// given to avformat_open_input), before it is opened. A refused file is
// logged and its opening fails with EPERM, as a missing one would. A
// demuxer named by the user (-f concat) is held to the same folder: a list
// of files from several folders is kept in a folder above them all.
void KeepNestedOpensInFolder(AVFormatContext* context, const std::string& sourceName);

// The first file refused on this thread since the last call (empty when
// none): for the message of an opening that failed for want of it.
std::string TakeRefusedOpen();

// The text for an opening of `file` on this thread that failed with
// `code`: the refused file it named when there was one, else the library's
// reason.
std::string OpenFailureText(const std::string& file, int code);

// A second context for the same source gets the first one's check (or its
// absence).
void ShareNestedOpenCheck(AVFormatContext* second, const AVFormatContext& first);

// Whether the demuxer of a source in `folder` (a canonical path) may open
// `url`: a data: URL, or a local file in the folder or below it, also
// behind the crypto protocol.
bool NestedOpenAllowed(const std::string& folder, const std::string& url);
