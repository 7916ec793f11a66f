// The attached files of a whole-file copy into Matroska: the source's own
// attachments (fonts of styled subtitles and the like) and its cover
// pictures, which Matroska keeps as attached images rather than as picture
// tracks of one frame. Used by the output set-up on the caller's thread.
#pragma once

struct AVFormatContext;
struct AVStream;

// Whether the output keeps attached files (Matroska; WebM takes none).
bool KeepsAttachments(const AVFormatContext* output);

// Whether a stream of the source goes along as an attached file: an
// attachment, or a JPEG or PNG cover picture.
bool GoesAsAttachment(const AVStream* stream);

// One attached file of `output` for each such stream of `input`, with the
// stream's tags; a cover without a file name is "cover.jpg" or "cover.png"
// (Matroska's name for the cover). Throws FFmpegException when out of memory.
void CopyAttachments(AVFormatContext* output, const AVFormatContext* input);
