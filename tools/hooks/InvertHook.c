/* Example frame-hook module: inverts a rectangle of every picture.
 *
 * Arguments: X Y WIDTH HEIGHT in pixels of the source picture (none: the
 * whole picture). The rectangle is clipped to the picture. On planar YUV
 * and grey pictures the brightness plane is inverted (colour stays); on
 * packed 24-bit RGB/BGR pictures every component is. Other pixel formats
 * pass unchanged.
 *
 *   vantrel-convert -i in.avi -vhook "/path/invert_hook.so 0 0 64 48" out.avi
 */
#include "media/FrameHookModule.h"

#include <stddef.h>
#include <stdlib.h>

/* AVPixelFormat values this module knows. */
enum {
    PIX_YUV420P = 0,
    PIX_RGB24 = 2,
    PIX_BGR24 = 3,
    PIX_YUV422P = 4,
    PIX_YUV444P = 5,
    PIX_YUV410P = 6,
    PIX_YUV411P = 7,
    PIX_GRAY8 = 8,
    PIX_YUVJ420P = 12,
    PIX_YUVJ422P = 13,
    PIX_YUVJ444P = 14
};

typedef struct InvertContext {
    int x, y, width, height; /* width < 0: the whole picture */
} InvertContext;

static int ParseCount(const char* text, int* value) {
    char* end = NULL;
    long number = strtol(text, &end, 10);
    if (end == text || *end != '\0' || number < 0 || number > 1000000) return 0;
    *value = (int)number;
    return 1;
}

int Configure(void** ctxp, int32_t argc, char* argv[]) {
    InvertContext* context = calloc(1, sizeof *context);
    if (!context) return -1;
    context->width = -1;
    if (argc == 5) {
        if (!ParseCount(argv[1], &context->x) || !ParseCount(argv[2], &context->y) ||
            !ParseCount(argv[3], &context->width) || !ParseCount(argv[4], &context->height)) {
            free(context);
            return -1;
        }
    } else if (argc != 1) {
        free(context);
        return -1;
    }
    *ctxp = context;
    return 0;
}

static int BytesPerPixel(int32_t pix_fmt) {
    switch (pix_fmt) {
    case PIX_RGB24:
    case PIX_BGR24:
        return 3;
    case PIX_YUV420P:
    case PIX_YUV422P:
    case PIX_YUV444P:
    case PIX_YUV410P:
    case PIX_YUV411P:
    case PIX_GRAY8:
    case PIX_YUVJ420P:
    case PIX_YUVJ422P:
    case PIX_YUVJ444P:
        return 1;
    default:
        return 0;
    }
}

void Process(void* ctx, FrameHookPicture* picture, int32_t pix_fmt, int32_t width, int32_t height,
             int64_t pts) {
    const InvertContext* context = ctx;
    const int bytes = BytesPerPixel(pix_fmt);
    int left = 0, top = 0, right = width, bottom = height;
    (void)pts;
    if (bytes == 0 || !picture->data[0]) return;
    if (context && context->width >= 0) {
        left = context->x;
        top = context->y;
        right = context->x + context->width < width ? context->x + context->width : width;
        bottom = context->y + context->height < height ? context->y + context->height : height;
    }
    for (int row = top; row < bottom; ++row) {
        uint8_t* line = picture->data[0] + (ptrdiff_t)row * picture->linesize[0];
        for (int column = left * bytes; column < right * bytes; ++column)
            line[column] = (uint8_t)(255 - line[column]);
    }
}

void Release(void* ctx) {
    free(ctx);
}
