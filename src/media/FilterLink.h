// Small pieces every filter graph of the program is built from.
#pragma once

#include "media/FFmpegHeaders.h"

#include <string>

// Parses the filters of `text` into `graph` between `from` (their input) and
// `to` (their output). The library's code: 0 or more when linked, an error
// code below 0 otherwise.
int LinkByText(AVFilterGraph* graph, const char* text, AVFilterContext* from, AVFilterContext* to);

// The arguments of a "buffer" source for pictures of this size and pixel
// format; a pixel aspect without a denominator is written as unknown.
std::string BufferSourceArgs(int width, int height, int format, AVRational timeBase,
                             AVRational pixelAspect);

// The arguments of an "abuffer" source for sound of this rate, sample format
// and channel layout, timed in samples; a layout without an order is taken
// as the usual one of its channel count.
std::string SoundSourceArgs(int sampleRate, int format, const AVChannelLayout& layout);
