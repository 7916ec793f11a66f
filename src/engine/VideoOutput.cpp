#include "engine/VideoOutput.h"

#include "engine/FFmpegPreview.h"

#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"
#include "media/PictureMatrix.h"

#include <algorithm>
#include <cmath>
#include <mutex>

namespace {

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};
constexpr int64_t kPreviewInterval = 100000; // microseconds
// Seconds an output may run past the end of its sources through copies.
constexpr double kCopyRoom = 1.0;

} // namespace

TVideoOptions VideoOptionsOf(const TConversionOptions& options) {
    TVideoOptions video;
    video.StartTime = options.StartTime;
    video.VideoSyncMethod = options.VideoSyncMethod;
    video.MaxPictures = options.MaxFrames[AVMEDIA_TYPE_VIDEO];
    video.SwsFlags = options.SwsFlags;
    video.ExitOnError = options.ExitOnError;
    video.TopFieldFirst = options.TopFieldFirst;
    video.SameQuality = options.SameQuality;
    video.MeThreshold = options.MeThreshold;
    video.StatsFileName = options.HasVStatsFileName ? options.VStatsFileName : std::string();
    video.Verbose = options.Verbose;
    return video;
}

TVideoOutput::TVideoOutput(const TVideoOptions& options, TLinks links, TLog log)
    : FOptions(options), FLinks(std::move(links)), FLog(std::move(log)) {}

TVideoOutput::~TVideoOutput() {
    if (FStats) std::fclose(FStats);
}

void TVideoOutput::Output(TOutputStream& ost, TInputStream& ist, AVFrame* picture, int counter) {
    if (ist.Stream->disposition & AV_DISPOSITION_ATTACHED_PIC) {
        KeepCover(ost, picture);
        ost.Video.CoverSource = static_cast<int>(&ist - FLinks.Inputs.data());
    }
    const int n = PicturesToWrite(ost);
    if (n <= 0) return;
    if (ConstantRate(ost) && !(ist.Stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
        KeepLast(ost, picture);
    if (ost.Encoding && ost.Video.FitOnStage) {
        FLinks.Encoding.Give(ost, ist, picture, n, counter);
        return;
    }
    // Fitted here, so that the encoder's queue holds pictures of the
    // encoder's size, not the source's.
    AVFrame* final = Fit(ost, ist, picture);
    if (!final) return;
    if (ost.Encoding) {
        FLinks.Encoding.Give(ost, ist, final, n, counter);
        return;
    }
    for (int i = 0; i < n; ++i) {
        if (i > 0) {
            FLinks.Control.WaitWhilePaused();
            if (FLinks.Control.Stopped()) break;
        }
        Encode(ost, ist, final, counter);
    }
}

// The copies of the picture at the time of the stream `ost` keeps in step
// with, within the stream's picture limit.
int TVideoOutput::PicturesToWrite(TOutputStream& ost) {
    const TInputStream& sync = FLinks.Inputs[ost.SyncIndex >= 0 ? ost.SyncIndex : ost.SourceIndex];
    const double syncTime = static_cast<double>(sync.FramePts - FOptions.StartTime) / AV_TIME_BASE /
                            av_q2d(ost.Encoder->time_base);
    const int n = Copies(ost, syncTime);
    const int64_t left = FOptions.MaxPictures - ost.FrameNumber;
    return n > left ? static_cast<int>(left) : n;
}

int TVideoOutput::Copies(TOutputStream& ost, double syncTime) {
    return LimitCopies(ost, FramesToWrite(ost, syncTime));
}

int TVideoOutput::FramesToWrite(TOutputStream& ost, double syncTime) {
    if (FOptions.VideoSyncMethod == 0) {
        ost.SyncOpts = std::llround(syncTime);
        return 1;
    }
    int n = 1;
    const double delta = syncTime - static_cast<double>(ost.SyncOpts);
    if (delta < -1.1) {
        n = 0;
    } else if (!ConstantRate(ost)) {
        if (delta <= -0.6)
            n = 0;
        else if (delta > 0.6)
            ost.SyncOpts = std::llround(syncTime);
    } else if (delta > 1.1) {
        n = static_cast<int>(std::llround(delta));
    }
    if (n == 0) {
        FLinks.Progress.Dropped();
        if (FOptions.Verbose > 2) Log(llVerbose, "*** drop!");
    } else if (n > 1) {
        FLinks.Progress.Duplicated(n - 1);
        if (FOptions.Verbose > 2) Log(llVerbose, FormatText("*** %d dup!", n - 1));
    }
    return n;
}

// Pictures are repeated for a constant rate, not only dropped (a variable
// rate) or passed as they come.
bool TVideoOutput::ConstantRate(const TOutputStream& ost) const {
    const int method = FOptions.VideoSyncMethod;
    return method != 0 && method != 2 &&
           !(method == -1 && (ost.Output->oformat->flags & AVFMT_VARIABLE_FPS));
}

// A reference, never a copy: a picture in a buffer of ours is not kept.
void TVideoOutput::KeepLast(TOutputStream& ost, const AVFrame* picture) {
    if (!ost.Video.Last) ost.Video.Last.reset(ff::avutil.av_frame_alloc());
    if (!ost.Video.Last) return;
    ff::avutil.av_frame_unref(ost.Video.Last.get());
    if (!picture->buf[0] || ff::avutil.av_frame_ref(ost.Video.Last.get(), picture) < 0)
        ost.Video.Last.reset();
}

void TVideoOutput::RepeatLastPicture(TOutputStream& ost, const TInputStream& ist, int64_t end,
                                     int counter) {
    const ff::FramePtr last = std::move(ost.Video.Last);
    if (!last || !ost.EncoderOpen || FLinks.Control.Stopped()) return;
    const double seconds = static_cast<double>(end - FOptions.StartTime) / AV_TIME_BASE;
    const int64_t target = std::llround(seconds / av_q2d(ost.Encoder->time_base));
    const int64_t missing =
        std::min<int64_t>(target - ost.SyncOpts, int64_t{FOptions.MaxPictures} - ost.FrameNumber);
    if (missing < 2) return;
    const int n = LimitCopies(ost, static_cast<int>(std::min<int64_t>(missing, INT_MAX)));
    AVFrame* final = Fit(ost, ist, last.get());
    for (int i = 0; final && i < n && !FLinks.Control.Stopped(); ++i) {
        FLinks.Control.WaitWhilePaused();
        Encode(ost, ist, final, counter);
    }
}

// Copies of a picture never carry the output past the end of its sources
// (with a little room): time stamps that run away (damage a jump check let
// through, a wrong frame rate) are not filled with hours of copies. A
// picture itself is always written.
int TVideoOutput::LimitCopies(const TOutputStream& ost, int n) {
    if (n <= 1 || FLinks.SourceDuration <= 0) return n;
    const double end =
        static_cast<double>(FLinks.SourceDuration - FOptions.StartTime) / AV_TIME_BASE + kCopyRoom;
    const int64_t last = std::llround(end / av_q2d(ost.Encoder->time_base));
    if (ost.SyncOpts + n <= last) return n;
    const int limited = static_cast<int>(std::max<int64_t>(1, last - ost.SyncOpts));
    if (!FCopiesLimited)
        Log(llWarning, FormatText("Picture time stamps run past the end of the source (%s): "
                                  "pictures are not repeated beyond it",
                                  DurationToText(FLinks.SourceDuration).c_str()));
    FCopiesLimited = true;
    FLinks.Progress.TakeBack(n - limited);
    return limited;
}

// A reference to (or, for a picture in a buffer of ours, a copy of) the
// cover picture, shown again at the end.
void TVideoOutput::KeepCover(TOutputStream& ost, const AVFrame* picture) {
    if (!ost.Video.Cover) ost.Video.Cover.reset(ff::avutil.av_frame_alloc());
    if (!ost.Video.Cover) return;
    ff::avutil.av_frame_unref(ost.Video.Cover.get());
    if (ff::avutil.av_frame_ref(ost.Video.Cover.get(), picture) < 0) ost.Video.Cover.reset();
}

// The picture in the encoder's size and format: cropped by the bands and
// scaled when needed. A picture whose size changes on the way is followed.
AVFrame* TVideoOutput::Fit(TOutputStream& ost, const TInputStream& ist, AVFrame* picture) {
    if (ost.Video.Graph) return picture;
    FollowSizeChange(ost, ist, *picture);
    AVFrame* cropped = Crop(ost, picture);
    if (!cropped) return nullptr;
    const AVCodecContext* encoder = ost.Encoder;
    const int width = ost.Video.LastWidth;
    const int height = ost.Video.LastHeight;
    if (width == encoder->width && height == encoder->height && picture->format == encoder->pix_fmt)
        return cropped;
    // The colour of an odd width's last pixel pair would take in the bytes
    // past the row's end of a picture of red, green and blue.
    const int flags = FOptions.SwsFlags | ((width & 1) ? SWS_FULL_CHR_H_INP : 0);
    ost.Video.Scaler.reset(ff::swscale.sws_getCachedContext(
        ost.Video.Scaler.release(), width, height, static_cast<AVPixelFormat>(picture->format),
        encoder->width, encoder->height, encoder->pix_fmt, flags, nullptr, nullptr, nullptr));
    if (!ost.Video.Scaler) throw FFmpegException("Cannot get resampling context");
    // A buffer the encoder's queue still holds is left to it.
    AVFrame* temp = ost.Video.Temp.get();
    if (!temp || !ost.Video.TempPool.Get(temp, encoder->width, encoder->height, encoder->pix_fmt))
        throw FFmpegException("Cannot allocate temp picture, check pix fmt");
    ff::swscale.sws_scale(ost.Video.Scaler.get(), cropped->data, cropped->linesize, 0, height,
                          temp->data, temp->linesize);
    temp->interlaced_frame = picture->interlaced_frame;
    temp->top_field_first = picture->top_field_first;
    return temp;
}

// The bands keep their share of a picture of another size; the picture's
// size inside them (and its format) is logged when it changes.
void TVideoOutput::FollowSizeChange(TOutputStream& ost, const TInputStream& ist,
                                    const AVFrame& picture) {
    TVideoEncoding& video = ost.Video;
    if (video.Crop && (picture.width != video.FirstWidth || picture.height != video.FirstHeight) &&
        video.FirstWidth > 0 && video.FirstHeight > 0) {
        video.TopBand = picture.height * video.FirstTopBand / video.FirstHeight & ~1;
        video.BottomBand = picture.height * video.FirstBottomBand / video.FirstHeight & ~1;
        video.LeftBand = picture.width * video.FirstLeftBand / video.FirstWidth & ~1;
        video.RightBand = picture.width * video.FirstRightBand / video.FirstWidth & ~1;
    }
    const int width = picture.width - video.LeftBand - video.RightBand;
    const int height = picture.height - video.TopBand - video.BottomBand;
    if (width <= 0 || height <= 0)
        throw FFmpegException("Assertion failure: crop bands outside the picture");
    if (width == video.LastWidth && height == video.LastHeight &&
        picture.format == video.LastFormat)
        return;
    const char* name = ff::avutil.av_get_pix_fmt_name(static_cast<AVPixelFormat>(picture.format));
    Log(llQuiet, FormatText("Input Stream #%d.%d frame size changed to %dx%d, %s", ist.FileIndex,
                            ist.StreamIndex, width, height, name ? name : "none"));
    video.LastWidth = width;
    video.LastHeight = height;
    video.LastFormat = picture.format;
}

// A view of the picture inside the bands (the picture itself without them);
// null when it cannot be had and the conversion goes on.
AVFrame* TVideoOutput::Crop(TOutputStream& ost, AVFrame* picture) {
    TVideoEncoding& video = ost.Video;
    if (!video.Crop) return picture;
    if (!video.Cropped) video.Cropped.reset(ff::avutil.av_frame_alloc());
    AVFrame* cropped = video.Cropped.get();
    if (!cropped) throw FFmpegException("error cropping picture");
    ff::avutil.av_frame_unref(cropped);
    if (ff::avutil.av_frame_ref(cropped, picture) < 0)
        throw FFmpegException("error cropping picture");
    cropped->crop_top = video.TopBand;
    cropped->crop_bottom = video.BottomBand;
    cropped->crop_left = video.LeftBand;
    cropped->crop_right = video.RightBand;
    if (ff::avutil.av_frame_apply_cropping(cropped, AV_FRAME_CROP_UNALIGNED) >= 0) return cropped;
    if (FOptions.ExitOnError) throw FFmpegException("error cropping picture");
    Log(llError, "error cropping picture");
    return nullptr;
}

void TVideoOutput::Encode(TOutputStream& ost, const TInputStream& ist, const AVFrame* picture,
                          int counter) {
    Code(ost, picture, ost.SyncOpts, ist.Quality, counter);
    ++ost.SyncOpts;
    ++ost.FrameNumber;
}

// On the stream's own thread, or the task's without one.
void TVideoOutput::Code(TOutputStream& ost, const AVFrame* picture, int64_t pts, int quality,
                        int counter) {
    AVCodecContext* encoder = ost.Encoder;
    AVFrame* frame = ost.Video.EncodeFrame.get();
    ff::avutil.av_frame_unref(frame);
    if (ff::avutil.av_frame_ref(frame, picture) < 0) throw FFmpegException("Video encoding failed");
    frame->pts = pts;
    frame->pkt_dts = AV_NOPTS_VALUE;
    frame->pkt_duration = 0;
    frame->sample_aspect_ratio = encoder->sample_aspect_ratio;
    if (encoder->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME))
        frame->top_field_first =
            FOptions.TopFieldFirst == -1 ? picture->top_field_first : FOptions.TopFieldFirst;
    frame->quality = FOptions.SameQuality ? quality : encoder->global_quality;
    if (!FOptions.MeThreshold) frame->pict_type = AV_PICTURE_TYPE_NONE;
    if (FLinks.Preview.Flags != 0) Preview(frame, encoder, counter);
    FLinks.Encoding.Encode(ost, frame);
    ff::avutil.av_frame_unref(frame);
}

// ---- the preview ----

// At most one picture every kPreviewInterval, to the host's callback or
// else the engine's own window; a way that fails is turned off.
void TVideoOutput::Preview(const AVFrame* picture, const AVCodecContext* encoder, int counter) {
    TVideoPreview& preview = FLinks.Preview;
    std::lock_guard<std::mutex> lock(PreviewFlagLock());
    int flags = preview.Flags;
    const int64_t now = ff::avutil.av_gettime();
    if (now - FLastPreview <= kPreviewInterval) return;
    const int64_t pts = ff::avutil.av_rescale_q(picture->pts, encoder->time_base, kMicroseconds);
    if ((flags & 2) && preview.OnPreview) {
        if (FrameToDisplayBitmap(FPreviewContext, picture)) {
            preview.OnPreview(preview.Task, FPreviewContext.Bitmap.get(), pts, counter);
        } else {
            Log(llError, "Cannot initialize the toRGB conversion context");
            flags &= ~2;
        }
        FLastPreview = now;
    } else if (flags & 1) {
        if (FrameToDisplayBitmap(FPreviewContext, picture)) {
            if (!preview.Previewer) preview.Previewer = std::make_unique<TPreviewer>();
            if (!preview.Previewer->Show(*FPreviewContext.Bitmap, counter, pts)) flags &= ~1;
        } else {
            Log(llError, "Cannot initialize the toRGB conversion context");
            flags &= ~1;
        }
        FLastPreview = now;
    }
    if (flags == preview.Flags) return;
    if ((preview.Flags & 1) && !(flags & 1)) preview.Previewer.reset();
    preview.Flags = flags;
}

// ---- statistics file ----

void TVideoOutput::WriteStats(TOutputStream& ost, int frameSize) {
    if (!FStats) {
        FStats = std::fopen(FOptions.StatsFileName.c_str(), "w");
        if (!FStats) throw FFmpegException("fopen fail: " + FOptions.StatsFileName);
    }
    const AVCodecContext* encoder = ost.Encoder;
    const double base = av_q2d(encoder->time_base);
    std::fprintf(FStats, "frame= %5d q= %2.1f ", static_cast<int>(ost.FrameNumber),
                 static_cast<double>(ost.Video.Quality));
    if (encoder->flags & AV_CODEC_FLAG_PSNR)
        std::fprintf(FStats, "PSNR= %6.2f ",
                     -10.0 * std::log10(static_cast<double>(ost.Video.Error[0]) /
                                        (static_cast<double>(encoder->width) * encoder->height *
                                         255.0 * 255.0)));
    double time = static_cast<double>(ost.SyncOpts) * base;
    if (time < 0.01) time = 0.01;
    const double rate = frameSize * 8 / base / 1000.0;
    const double videoBytes = static_cast<double>(FLinks.Writer.VideoBytes());
    const double average = videoBytes * 8 / time / 1000.0;
    std::fprintf(FStats, "f_size= %6d ", frameSize);
    std::fprintf(FStats, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
                 videoBytes / 1024, time, rate, average);
    std::fprintf(
        FStats, "type= %c\n",
        ff::avutil.av_get_picture_type_char(static_cast<AVPictureType>(ost.Video.PictureType)));
}
