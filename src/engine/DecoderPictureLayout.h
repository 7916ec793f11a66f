// The layout of a decoder's pictures when they go, unchanged, to an encoder
// of the MPEG family of libavcodec (MPEG-1/2, MPEG-4, H.261/H.263 and their
// kin, MJPEG). Those encoders keep their own pictures with a border of
// 16 pixels on every side and code a picture they are given in place only
// when its line sizes are those of their own; any other picture they first
// copy whole. A decoder whose buffers are allocated as wide as the
// encoder's own saves that copy of every picture. The pictures stay the
// same: width, height and content; only the unused room at the end of each
// line grows.
//
// Use (the encoders open; before the decoder has given a picture):
//   LayPicturesForEncoders(decoder, sourceIndex, outputStreams);
#pragma once

#include "engine/TranscoderStreams.h"
#include "media/FFmpegHeaders.h"

#include <vector>

// The width the decoder's buffers are to be allocated for, so that their
// line sizes are the encoder's; 0 where the encoder would copy anyway
// (another size or pixel format, a size not in whole macroblocks, an
// encoder of another family) or where the decoder does not allocate its
// pictures through get_buffer2.
int DecoderBufferWidth(const AVCodecContext& decoder, const AVCodecContext& encoder);

// Has the decoder allocate its pictures `bufferWidth` wide (its own
// allocator otherwise); its frame threads copy the setting.
void LayDecoderPictures(AVCodecContext* decoder, int bufferWidth);

// Lays out the pictures of the decoder of input stream `source` for the
// open video encoders that take them, when they all want the same width.
void LayPicturesForEncoders(AVCodecContext* decoder, int source,
                            const std::vector<TOutputStream>& outputs);
