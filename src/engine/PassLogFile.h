// The two-pass log of an encoded output stream: written by the first pass,
// read back by the second, whose bit rate is checked against it.
#pragma once

#include "engine/TranscoderStreams.h"

#include <string>

// For an encoder set to a first or second pass: the first pass's log file
// is opened for writing (ost.Writing.PassLog), the second's is read into
// the encoder; libx264 is told the name and keeps its log itself. The name
// is `baseName` ("ffmpeg2pass" when empty), "-", `index`, ".log". Raises
// FFmpegException when the file cannot be written or read, or when the
// second pass's rate is below what the first pass's log needs.
void OpenPassLog(TOutputStream& ost, int index, const std::string& baseName);
