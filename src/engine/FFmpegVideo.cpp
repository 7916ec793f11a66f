// Video frames between the picture work and the encoder: the output
// synchronisation that drops or repeats frames, cropping and scaling,
// encoding and the preview.
#include "engine/FFmpegPreview.h"
#include "engine/FFmpegTranscoder.h"

#include "media/FFmpegLogger.h"
#include "media/FilterLink.h"
#include "media/MyUtils.h"
#include "media/PictureMatrix.h"

#include <cmath>
#include <cstring>
#include <mutex>

namespace {

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};
constexpr int64_t kPreviewInterval = 100000; // microseconds
// Seconds an output may run past the end of its sources through copies.
constexpr double kCopyRoom = 1.0;

} // namespace

// ---- video output ----

int TTranscoder::FramesToWrite(TOutputStream& ost, double syncTime) {
    if (FOptions.VideoSyncMethod == 0) {
        ost.SyncOpts = std::llround(syncTime);
        return 1;
    }
    int n = 1;
    const double delta = syncTime - static_cast<double>(ost.SyncOpts);
    const bool variable =
        FOptions.VideoSyncMethod == 2 ||
        (FOptions.VideoSyncMethod == -1 && (ost.Output->oformat->flags & AVFMT_VARIABLE_FPS));
    if (delta < -1.1) {
        n = 0;
    } else if (variable) {
        if (delta <= -0.6)
            n = 0;
        else if (delta > 0.6)
            ost.SyncOpts = std::llround(syncTime);
    } else if (delta > 1.1) {
        n = static_cast<int>(std::llround(delta));
    }
    if (n == 0) {
        FProgress.Dropped();
        if (FOptions.Verbose > 2) Log(llVerbose, "*** drop!");
    } else if (n > 1) {
        FProgress.Duplicated(n - 1);
        if (FOptions.Verbose > 2) Log(llVerbose, FormatText("*** %d dup!", n - 1));
    }
    return n;
}

// Copies of a picture never carry the output past the end of its sources
// (with a little room): time stamps that run away (damage a jump check let
// through, a wrong frame rate) are not filled with hours of copies. A
// picture itself is always written.
int TTranscoder::LimitCopies(const TOutputStream& ost, int n) {
    if (n <= 1 || FSourceDuration <= 0) return n;
    const double end =
        static_cast<double>(FSourceDuration - FOptions.StartTime) / AV_TIME_BASE + kCopyRoom;
    const int64_t last = std::llround(end / av_q2d(ost.Encoder->time_base));
    if (ost.SyncOpts + n <= last) return n;
    const int limited = static_cast<int>(std::max<int64_t>(1, last - ost.SyncOpts));
    if (!FCopiesLimited)
        Log(llWarning, FormatText("Picture time stamps run past the end of the source (%s): "
                                  "pictures are not repeated beyond it",
                                  DurationToText(FSourceDuration).c_str()));
    FCopiesLimited = true;
    FProgress.TakeBack(n - limited);
    return limited;
}

// A reference to (or, for a picture in a buffer of ours, a copy of) the
// cover picture, shown again at the end.
void TTranscoder::KeepCover(TOutputStream& ost, const AVFrame* picture) {
    if (!ost.Video.Cover) ost.Video.Cover.reset(ff::avutil.av_frame_alloc());
    if (!ost.Video.Cover) return;
    ff::avutil.av_frame_unref(ost.Video.Cover.get());
    if (ff::avutil.av_frame_ref(ost.Video.Cover.get(), picture) < 0) ost.Video.Cover.reset();
}

void TTranscoder::VideoOutput(TOutputStream& ost, TInputStream& ist, AVFrame* picture, AVRational) {
    AVCodecContext* encoder = ost.Encoder;
    const TInputStream& sync = FInputStreams[ost.SyncIndex >= 0 ? ost.SyncIndex : ost.SourceIndex];
    const double syncTime = static_cast<double>(sync.FramePts - FOptions.StartTime) / AV_TIME_BASE /
                            av_q2d(encoder->time_base);
    if (ist.Stream->disposition & AV_DISPOSITION_ATTACHED_PIC) {
        KeepCover(ost, picture);
        ost.Video.CoverSource = static_cast<int>(&ist - FInputStreams.data());
    }
    int n = LimitCopies(ost, FramesToWrite(ost, syncTime));
    const int64_t left = FOptions.MaxFrames[0] - ost.FrameNumber;
    if (n > left) n = static_cast<int>(left);
    if (n <= 0) return;
    // Fitted here, so that the encoder's queue holds pictures of the
    // encoder's size, not the source's.
    AVFrame* final = FitPicture(ost, ist, picture);
    if (!final) return;
    if (ost.Encoding) {
        GivePicture(ost, ist, final, n);
        return;
    }
    for (int i = 0; i < n; ++i) {
        if (i > 0) {
            FEngine.WaitWhilePaused();
            if (Interrupted()) break;
        }
        EncodeVideo(ost, ist, final);
    }
}

// The picture in the encoder's size and format: cropped by the bands and
// scaled when needed. A picture whose size changes on the way is followed.
AVFrame* TTranscoder::FitPicture(TOutputStream& ost, const TInputStream& ist, AVFrame* picture) {
    if (ost.Video.Graph) return picture;
    AVCodecContext* encoder = ost.Encoder;
    if (ost.Video.Crop &&
        (picture->width != ost.Video.FirstWidth || picture->height != ost.Video.FirstHeight) &&
        ost.Video.FirstWidth > 0 && ost.Video.FirstHeight > 0) {
        ost.Video.TopBand = picture->height * ost.Video.FirstTopBand / ost.Video.FirstHeight & ~1;
        ost.Video.BottomBand =
            picture->height * ost.Video.FirstBottomBand / ost.Video.FirstHeight & ~1;
        ost.Video.LeftBand = picture->width * ost.Video.FirstLeftBand / ost.Video.FirstWidth & ~1;
        ost.Video.RightBand = picture->width * ost.Video.FirstRightBand / ost.Video.FirstWidth & ~1;
    }
    const int width = picture->width - ost.Video.LeftBand - ost.Video.RightBand;
    const int height = picture->height - ost.Video.TopBand - ost.Video.BottomBand;
    if (width <= 0 || height <= 0)
        throw FFmpegException("Assertion failure: crop bands outside the picture");
    if (width != ost.Video.LastWidth || height != ost.Video.LastHeight ||
        picture->format != ost.Video.LastFormat) {
        const char* name =
            ff::avutil.av_get_pix_fmt_name(static_cast<AVPixelFormat>(picture->format));
        Log(llQuiet,
            FormatText("Input Stream #%d.%d frame size changed to %dx%d, %s", ist.FileIndex,
                       ist.StreamIndex, width, height, name ? name : "none"));
        ost.Video.LastWidth = width;
        ost.Video.LastHeight = height;
        ost.Video.LastFormat = picture->format;
    }
    AVFrame* cropped = picture;
    if (ost.Video.Crop) {
        if (!ost.Video.Cropped) ost.Video.Cropped.reset(ff::avutil.av_frame_alloc());
        cropped = ost.Video.Cropped.get();
        ff::avutil.av_frame_unref(cropped);
        if (!cropped || ff::avutil.av_frame_ref(cropped, picture) < 0)
            throw FFmpegException("error cropping picture");
        cropped->crop_top = ost.Video.TopBand;
        cropped->crop_bottom = ost.Video.BottomBand;
        cropped->crop_left = ost.Video.LeftBand;
        cropped->crop_right = ost.Video.RightBand;
        if (ff::avutil.av_frame_apply_cropping(cropped, AV_FRAME_CROP_UNALIGNED) < 0) {
            if (FOptions.ExitOnError) throw FFmpegException("error cropping picture");
            Log(llError, "error cropping picture");
            return nullptr;
        }
    }
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
    if (!ost.Video.TempPool.Get(temp, encoder->width, encoder->height, encoder->pix_fmt))
        throw FFmpegException("Cannot allocate temp picture, check pix fmt");
    ff::swscale.sws_scale(ost.Video.Scaler.get(), cropped->data, cropped->linesize, 0, height,
                          temp->data, temp->linesize);
    temp->interlaced_frame = picture->interlaced_frame;
    temp->top_field_first = picture->top_field_first;
    return temp;
}

void TTranscoder::EncodeVideo(TOutputStream& ost, TInputStream& ist, AVFrame* picture) {
    CodePicture(ost, picture, ost.SyncOpts, ist.Quality, FPictureCounter);
    ++ost.SyncOpts;
    ++ost.FrameNumber;
}

// On the stream's own thread, or the task's without one.
void TTranscoder::CodePicture(TOutputStream& ost, const AVFrame* picture, int64_t pts, int quality,
                              int frameCounter) {
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
    if (FEngine.FPreviewFlags != 0) DoPreview(frame, encoder, frameCounter);
    EncodeOnStage(ost, frame);
    ff::avutil.av_frame_unref(frame);
}

// ---- the preview ----

void TTranscoder::DoPreview(const AVFrame* picture, const AVCodecContext* encoder,
                            int frameCounter) {
    std::lock_guard<std::mutex> lock(PreviewFlagLock());
    int flags = FEngine.FPreviewFlags;
    const int64_t now = ff::avutil.av_gettime();
    if (now - FLastPreview <= kPreviewInterval) return;
    const int64_t pts = ff::avutil.av_rescale_q(picture->pts, encoder->time_base, kMicroseconds);
    if ((flags & 2) && FEngine.OnPreview) {
        if (FrameToBitmap(FPreviewContext, picture)) {
            FEngine.OnPreview(&FEngine.Task, FPreviewContext.Bitmap.get(), pts, frameCounter);
        } else {
            Log(llError, "Cannot initialize the toRGB conversion context");
            flags &= ~2;
        }
        FLastPreview = now;
    } else if (flags & 1) {
        if (FrameToBitmap(FPreviewContext, picture)) {
            if (!FEngine.FPreviewer) FEngine.FPreviewer = std::make_unique<TPreviewer>();
            if (!FEngine.FPreviewer->Show(*FPreviewContext.Bitmap, frameCounter, pts)) flags &= ~1;
        } else {
            Log(llError, "Cannot initialize the toRGB conversion context");
            flags &= ~1;
        }
        FLastPreview = now;
    }
    if (flags == FEngine.FPreviewFlags) return;
    if ((FEngine.FPreviewFlags & 1) && !(flags & 1)) FEngine.FPreviewer.reset();
    FEngine.FPreviewFlags = flags;
}

// ---- statistics file ----

void TTranscoder::WriteVideoStats(TOutputStream& ost, int frameSize) {
    if (!FVStats) {
        FVStats = std::fopen(FOptions.VStatsFileName.c_str(), "w");
        if (!FVStats) throw FFmpegException("fopen fail: " + FOptions.VStatsFileName);
    }
    const AVCodecContext* encoder = ost.Encoder;
    const double base = av_q2d(encoder->time_base);
    std::fprintf(FVStats, "frame= %5d q= %2.1f ", static_cast<int>(ost.FrameNumber),
                 static_cast<double>(ost.Video.Quality));
    if (encoder->flags & AV_CODEC_FLAG_PSNR)
        std::fprintf(FVStats, "PSNR= %6.2f ",
                     -10.0 * std::log10(static_cast<double>(ost.Video.Error[0]) /
                                        (static_cast<double>(encoder->width) * encoder->height *
                                         255.0 * 255.0)));
    double time = static_cast<double>(ost.SyncOpts) * base;
    if (time < 0.01) time = 0.01;
    const double rate = frameSize * 8 / base / 1000.0;
    const double average = static_cast<double>(FWriter.VideoBytes()) * 8 / time / 1000.0;
    std::fprintf(FVStats, "f_size= %6d ", frameSize);
    std::fprintf(FVStats, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
                 static_cast<double>(FWriter.VideoBytes()) / 1024, time, rate, average);
    std::fprintf(
        FVStats, "type= %c\n",
        ff::avutil.av_get_picture_type_char(static_cast<AVPictureType>(ost.Video.PictureType)));
}
