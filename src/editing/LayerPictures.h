// The pictures the watermark editor shows for its layers.
//
// Threads: user-interface thread only (text is measured with the
// application's fonts).
#pragma once

#include "effects/EditSettings.h"

#include <QImage>
#include <cstdint>
#include <string>

// A text layer's picture: its text in its font and colour on the background
// colour, or on transparency when `useBack` is false.
QImage TextLayerPicture(const std::string& text, const TWmFont& font, bool useBack, uint32_t back);
// An image layer's picture as read from its file: with the file's own
// transparency when it has one (drawn under the layer's opacity), else
// opaque; a null picture stays null.
QImage ShownLayerPicture(const QImage& read);
