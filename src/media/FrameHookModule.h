/* Interface of a frame-hook module: a shared library that the converter
 * loads for the "vhook" option and that may change every decoded video
 * picture in place before it is encoded.
 *
 * A module exports, with C linkage:
 *   Process   (required)  called for every picture, in the order the
 *                         modules were added;
 *   Configure (optional)  called once when the module is added; required
 *                         when the option passes arguments to the module;
 *   Release   (optional)  called once when the conversion task ends.
 *
 * Include this header as "media/FrameHookModule.h" and build a module with,
 * for example:
 *   cc -shared -fPIC -o mymodule.so mymodule.c -I<prefix>/include/vantrel
 * and use it with:
 *   vantrel-convert -i IN -vhook "/path/mymodule.so ARG1 ARG2" OUT
 * (separate the words with "|" instead of blanks when the path or an
 * argument holds blanks). A module may link libraries kept in its own
 * folder: they are found there. Modules are never unloaded while the
 * program runs; the same file added twice is loaded once and configured
 * twice, each time with its own context. */
#ifndef VANTREL_FRAME_HOOK_MODULE_H
#define VANTREL_FRAME_HOOK_MODULE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One picture: up to four planes, each with its first byte and the
 * distance in bytes from one row to the next. The pixel format is an
 * AVPixelFormat value of the FFmpeg libraries the program uses. */
typedef struct FrameHookPicture {
    uint8_t* data[4];
    int linesize[4];
} FrameHookPicture;

/* Fills *ctxp with the module's own state for this use. argv[0] is the
 * module file as given, argv[1..argc-1] its arguments, argv[argc] is NULL;
 * the strings are valid only during the call. Returns 0 on success; any
 * other value refuses the option and the task is not started. */
typedef int (*FrameHookConfigureFn)(void** ctxp, int32_t argc, char* argv[]);

/* Changes one picture in place. pts is the picture's input time in
 * microseconds. */
typedef void (*FrameHookProcessFn)(void* ctx, FrameHookPicture* picture, int32_t pix_fmt,
                                   int32_t width, int32_t height, int64_t pts);

/* Frees what Configure made. */
typedef void (*FrameHookReleaseFn)(void* ctx);

/* Prototypes a module implements (the names the program looks up). The
 * program itself only uses the types above. */
#ifndef FRAME_HOOK_TYPES_ONLY
int Configure(void** ctxp, int32_t argc, char* argv[]);
void Process(void* ctx, FrameHookPicture* picture, int32_t pix_fmt, int32_t width, int32_t height,
             int64_t pts);
void Release(void* ctx);
#endif

#ifdef __cplusplus
}
#endif

#endif
