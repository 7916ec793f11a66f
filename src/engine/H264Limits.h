// H.264 streams that strict players accept: the rate control's ceiling is
// never below the chosen bit rate, and the stream's level holds its
// pictures.
#pragma once

#include "media/FFmpegHeaders.h"

// Raises `encoder`'s maximum rate to its bit rate and its level (when it
// has one) to the lowest that holds its pictures; `fileIndex` and
// `streamIndex` name the output stream in the log.
void FitH264Limits(AVCodecContext* encoder, int fileIndex, int streamIndex);
