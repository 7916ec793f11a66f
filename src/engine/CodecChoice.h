// Choosing a codec by the name an option gave, with the sentence that says
// why a name cannot be used.
#pragma once

#include "media/FFUtils.h"
#include "media/FFmpegHeaders.h"

#include <string>

// The codec called `name` of `mediaType`, an encoder or a decoder. An empty
// name gives no codec and succeeds. On failure `errorText` says why
// (unknown, of another type, experimental while `strictness` forbids it).
bool FindCodecByName(const std::string& name, int mediaType, bool encoder, int strictness,
                     const AVCodec** codec, std::string& errorText);

// The compliance level the recorded codec options of `mediaType` ask for.
int CodecStrictness(const TOptionContexts& contexts, int mediaType);
