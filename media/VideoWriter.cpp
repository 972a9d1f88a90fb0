#include "media/VideoWriter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <utility>

#include "link/Files.h"
#include "session/JpegMarkers.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace qv::media {
namespace {

constexpr AVRational kMillis{1, 1000};
constexpr int kIoBuffer = 1 << 16;
// A keyframe at least this often, so a player can seek in a long recording.
constexpr int kGop = 50;

bool IsDiskFull(int error) {
    return error == ENOSPC || error == EFBIG || error == EDQUOT;
}

std::string AvText(int averror) {
    std::array<char, AV_ERROR_MAX_STRING_SIZE> text{};
    av_strerror(averror, text.data(), text.size());
    return text.data();
}

bool EndsWith(std::string_view text, std::string_view tail) {
    if (text.size() < tail.size()) {
        return false;
    }
    return std::equal(tail.begin(), tail.end(),
                      text.end() - static_cast<std::ptrdiff_t>(tail.size()), [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                      });
}

// The decoder names full-range pictures by pixel format; the scaler wants the plain format
// and the range said separately.
AVPixelFormat PlainFormat(AVPixelFormat format, bool& fullRange) {
    fullRange = true;
    switch (format) {
        case AV_PIX_FMT_YUVJ420P:
            return AV_PIX_FMT_YUV420P;
        case AV_PIX_FMT_YUVJ422P:
            return AV_PIX_FMT_YUV422P;
        case AV_PIX_FMT_YUVJ444P:
            return AV_PIX_FMT_YUV444P;
        case AV_PIX_FMT_YUVJ440P:
            return AV_PIX_FMT_YUV440P;
        case AV_PIX_FMT_YUVJ411P:
            return AV_PIX_FMT_YUV411P;
        default:
            return format;
    }
}

}  // namespace

std::optional<VideoKind> KindOfPath(std::string_view path) {
    const auto slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    // ".mkv" alone is a hidden file without a name, not a video.
    if (name.size() > 4 && EndsWith(name, ".mkv")) {
        return VideoKind::Mkv;
    }
    if (name.size() > 4 && EndsWith(name, ".mp4")) {
        return VideoKind::Mp4;
    }
    return std::nullopt;
}

// The file as FFmpeg sees it: our descriptor behind its I/O callbacks, so the library never
// opens a path itself. The index at the front of an MP4 is made by reading the file back
// through a second, read-only context on the same descriptor.
struct VideoWriter::Impl {
    NewFile file;
    int writeError = 0;      // errno of the first failed write
    std::uint64_t size = 0;  // the file's length so far

    AVFormatContext* format = nullptr;
    AVStream* stream = nullptr;
    bool headerWritten = false;
    int width = 0;
    int height = 0;

    // MP4 only.
    AVCodecContext* decoder = nullptr;
    AVCodecContext* encoder = nullptr;
    SwsContext* scaler = nullptr;
    AVFrame* decoded = nullptr;
    AVFrame* picture = nullptr;  // the pending frame, scaled
    AVPacket* packet = nullptr;
    // Each frame sent to the encoder and how long it is shown, oldest first: packets come
    // out in the same order (no B-frames) and take their length from here.
    std::deque<std::pair<std::int64_t, std::int64_t>> lengths;

    struct Reader {
        int fd;
        std::int64_t pos = 0;
    };

    ~Impl() { Free(); }

    void Free() {
        if (format != nullptr) {
            if (format->pb != nullptr) {
                av_freep(&format->pb->buffer);
                avio_context_free(&format->pb);
            }
            avformat_free_context(format);
            format = nullptr;
        }
        avcodec_free_context(&decoder);
        avcodec_free_context(&encoder);
        sws_freeContext(scaler);
        scaler = nullptr;
        av_frame_free(&decoded);
        av_frame_free(&picture);
        av_packet_free(&packet);
        lengths.clear();
    }

    static int Write(void* opaque, std::uint8_t* data, int size) {
        auto* self = static_cast<Impl*>(opaque);
        if (self->writeError != 0) {
            return AVERROR(self->writeError);
        }
        const int error = WriteAll(self->file.fd(), data, static_cast<std::size_t>(size));
        if (error != 0) {
            self->writeError = error;
            return AVERROR(error);
        }
        const off_t at = ::lseek(self->file.fd(), 0, SEEK_CUR);
        self->size =
            std::max<std::uint64_t>(self->size, at < 0 ? 0 : static_cast<std::uint64_t>(at));
        return size;
    }

    static std::int64_t Seek(void* opaque, std::int64_t offset, int whence) {
        auto* self = static_cast<Impl*>(opaque);
        if ((whence & AVSEEK_SIZE) != 0) {
            return static_cast<std::int64_t>(self->size);
        }
        const off_t at = ::lseek(self->file.fd(), offset, whence & ~AVSEEK_FORCE);
        return at < 0 ? AVERROR(errno) : at;
    }

    static int Read(void* opaque, std::uint8_t* data, int size) {
        auto* reader = static_cast<Reader*>(opaque);
        for (;;) {
            const ssize_t n =
                ::pread(reader->fd, data, static_cast<std::size_t>(size), reader->pos);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                return AVERROR(errno);
            }
            if (n == 0) {
                return AVERROR_EOF;
            }
            reader->pos += n;
            return static_cast<int>(n);
        }
    }

    static std::int64_t ReadSeek(void* opaque, std::int64_t offset, int whence) {
        auto* reader = static_cast<Reader*>(opaque);
        struct stat st {};
        if (::fstat(reader->fd, &st) != 0) {
            return AVERROR(errno);
        }
        switch (whence & ~AVSEEK_FORCE) {
            case AVSEEK_SIZE:
                return st.st_size;
            case SEEK_SET:
                reader->pos = offset;
                break;
            case SEEK_CUR:
                reader->pos += offset;
                break;
            case SEEK_END:
                reader->pos = st.st_size + offset;
                break;
            default:
                return AVERROR(EINVAL);
        }
        return reader->pos;
    }

    // The muxer asks to open its own file again, to read it (the MP4 index moved to the
    // front). Anything else it might open is refused: it writes our descriptor only.
    static int Open(AVFormatContext* s, AVIOContext** pb, const char* /*url*/, int flags,
                    AVDictionary** /*options*/) {
        auto* self = static_cast<Impl*>(s->opaque);
        if ((flags & AVIO_FLAG_WRITE) != 0 || self == nullptr) {
            return AVERROR(EPERM);
        }
        auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBuffer));
        auto* reader = new Reader{self->file.fd()};
        *pb = avio_alloc_context(buffer, kIoBuffer, 0, reader, Read, nullptr, ReadSeek);
        if (buffer == nullptr || *pb == nullptr) {
            av_free(buffer);
            delete reader;
            return AVERROR(ENOMEM);
        }
        return 0;
    }

    static int Close(AVFormatContext* /*s*/, AVIOContext* pb) {
        if (pb != nullptr) {
            delete static_cast<Reader*>(pb->opaque);
            av_freep(&pb->buffer);
            avio_context_free(&pb);
        }
        return 0;
    }
};

VideoWriter::VideoWriter() : impl_(std::make_unique<Impl>()) {
    // Failures are reported by what the calls return; the library's own lines on stderr
    // would only repeat them (or complain of a frame already skipped).
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
}

VideoWriter::~VideoWriter() {
    Abort();
}

std::uint64_t VideoWriter::Bytes() const {
    return impl_->size;
}

bool VideoWriter::Fail(const std::string& what, int averror) {
    const int error = impl_->writeError;
    if (error != 0) {
        diskFull_ = IsDiskFull(error);
        error_ = "cannot write " + path_ + ": " + std::generic_category().message(error);
    } else {
        error_ = what + (averror != 0 ? ": " + AvText(averror) : std::string());
    }
    return false;
}

bool VideoWriter::Open(const std::string& path, bool replace) {
    Abort();
    error_.clear();
    diskFull_ = false;
    frames_ = 0;
    path_ = path;
    replace_ = replace;
    const auto kind = KindOfPath(path);
    if (!kind) {
        error_ = path + ": the name must end in .mkv or .mp4";
        return false;
    }
    kind_ = *kind;
    struct stat st {};
    if (!replace && ::lstat(path.c_str(), &st) == 0) {
        error_ = path + " exists";
        return false;
    }
    const int error = impl_->file.Create(path);
    if (error != 0) {
        diskFull_ = IsDiskFull(error);
        error_ = "cannot create " + path + ": " + std::generic_category().message(error);
        return false;
    }
    return true;
}

void VideoWriter::Abort() {
    impl_->Free();
    impl_->file.Discard();
    impl_->writeError = 0;
    impl_->size = 0;
    impl_->headerWritten = false;
    pending_.clear();
    pendingMs_ = -1;
}

VideoWriter::Added VideoWriter::Add(std::span<const std::uint8_t> jpeg, std::int64_t ms) {
    Impl& d = *impl_;
    if (d.file.fd() < 0) {
        error_ = "the file is not open";
        return Added::Failed;
    }
    const JpegLayout layout = WalkJpegMarkers(jpeg.data(), jpeg.size());
    if (!layout.ok()) {
        skipReason_ = layout.verdict == JpegLayout::Verdict::Truncated ? "cut short"
                      : layout.verdict == JpegLayout::Verdict::NotJpeg
                          ? "not a JPEG"
                          : VerdictName(layout.verdict);
        return Added::Skipped;
    }
    if (pendingMs_ >= 0 && ms <= pendingMs_) {
        ms = pendingMs_ + 1;  // every frame shown for a millisecond at least
    }
    if (d.format == nullptr) {
        // The first frame gives the size; an MP4 wants it even.
        d.width = static_cast<int>(layout.width);
        d.height = static_cast<int>(layout.height);
        if (kind_ == VideoKind::Mp4) {
            d.width = std::max(2, d.width & ~1);
            d.height = std::max(2, d.height & ~1);
        }
        const int ret = avformat_alloc_output_context2(
            &d.format, nullptr, kind_ == VideoKind::Mkv ? "matroska" : "mp4", nullptr);
        if (ret < 0 || d.format == nullptr) {
            return Fail("cannot start the container", ret), Added::Failed;
        }
        auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBuffer));
        d.format->pb =
            avio_alloc_context(buffer, kIoBuffer, 1, &d, nullptr, Impl::Write, Impl::Seek);
        if (buffer == nullptr || d.format->pb == nullptr) {
            av_free(buffer);
            return Fail("out of memory", 0), Added::Failed;
        }
        d.format->flags |= AVFMT_FLAG_CUSTOM_IO;
        d.format->opaque = &d;
        d.format->io_open = Impl::Open;
        d.format->io_close2 = Impl::Close;
        d.format->url = av_strdup(d.file.tempPath().c_str());
        d.stream = avformat_new_stream(d.format, nullptr);
        if (d.stream == nullptr) {
            return Fail("out of memory", 0), Added::Failed;
        }
        d.stream->time_base = kMillis;
        AVDictionary* options = nullptr;
        if (kind_ == VideoKind::Mkv) {
            AVCodecParameters* par = d.stream->codecpar;
            par->codec_type = AVMEDIA_TYPE_VIDEO;
            par->codec_id = AV_CODEC_ID_MJPEG;
            par->width = d.width;
            par->height = d.height;
        } else {
            const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
            if (h264 == nullptr) {
                h264 = avcodec_find_encoder(AV_CODEC_ID_H264);
            }
            const AVCodec* mjpeg = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
            if (h264 == nullptr || mjpeg == nullptr) {
                return Fail("FFmpeg has no H.264 encoder or JPEG decoder", 0), Added::Failed;
            }
            d.decoder = avcodec_alloc_context3(mjpeg);
            d.encoder = avcodec_alloc_context3(h264);
            d.decoded = av_frame_alloc();
            d.picture = av_frame_alloc();
            d.packet = av_packet_alloc();
            if (d.decoder == nullptr || d.encoder == nullptr || d.decoded == nullptr ||
                d.picture == nullptr || d.packet == nullptr) {
                return Fail("out of memory", 0), Added::Failed;
            }
            int r = avcodec_open2(d.decoder, mjpeg, nullptr);
            if (r < 0) {
                return Fail("cannot open the JPEG decoder", r), Added::Failed;
            }
            AVCodecContext* e = d.encoder;
            e->width = d.width;
            e->height = d.height;
            e->pix_fmt = AV_PIX_FMT_YUV420P;
            e->time_base = kMillis;
            e->gop_size = kGop;
            e->max_b_frames = 0;
            e->color_range = AVCOL_RANGE_MPEG;
            e->colorspace = AVCOL_SPC_SMPTE170M;
            e->sample_aspect_ratio = AVRational{1, 1};
            if ((d.format->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
                e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
            }
            AVDictionary* codecOptions = nullptr;
            av_dict_set(&codecOptions, "preset", mp4Preset.c_str(), 0);
            // Sharp text on a screen: a little better than the default quality.
            av_dict_set(&codecOptions, "crf", "20", 0);
            r = avcodec_open2(e, h264, &codecOptions);
            av_dict_free(&codecOptions);
            if (r < 0) {
                return Fail("cannot open the H.264 encoder", r), Added::Failed;
            }
            r = avcodec_parameters_from_context(d.stream->codecpar, e);
            if (r < 0) {
                return Fail("cannot describe the video", r), Added::Failed;
            }
            d.picture->format = AV_PIX_FMT_YUV420P;
            d.picture->width = d.width;
            d.picture->height = d.height;
            r = av_frame_get_buffer(d.picture, 0);
            if (r < 0) {
                return Fail("out of memory", r), Added::Failed;
            }
            av_dict_set(&options, "movflags", "+faststart", 0);
        }
        const int r = avformat_write_header(d.format, &options);
        av_dict_free(&options);
        if (r < 0) {
            return Fail("cannot write the file's header", r), Added::Failed;
        }
        d.headerWritten = true;
    }

    if (kind_ == VideoKind::Mp4) {
        // Decoded now, so a frame that does not decode is skipped as it comes.
        AVPacket* in = d.packet;
        av_packet_unref(in);
        in->data = const_cast<std::uint8_t*>(jpeg.data());
        in->size = static_cast<int>(jpeg.size());
        int r = avcodec_send_packet(d.decoder, in);
        in->data = nullptr;
        in->size = 0;
        av_frame_unref(d.decoded);
        if (r >= 0) {
            r = avcodec_receive_frame(d.decoder, d.decoded);
        }
        if (r < 0 || d.decoded->width <= 0 || d.decoded->height <= 0) {
            skipReason_ = "does not decode";
            return Added::Skipped;
        }
    }
    if (pendingMs_ >= 0 && !WritePending(ms - pendingMs_)) {
        return Added::Failed;
    }
    if (kind_ == VideoKind::Mkv) {
        pending_.assign(jpeg.begin(), jpeg.end());
    } else {
        // Other sizes are scaled to the first; the encoder may still hold the last picture.
        bool fullRange = false;
        const auto source = PlainFormat(static_cast<AVPixelFormat>(d.decoded->format), fullRange);
        const bool sameSize = d.decoded->width == d.width && d.decoded->height == d.height;
        d.scaler = sws_getCachedContext(
            d.scaler, d.decoded->width, d.decoded->height, source, d.width, d.height,
            AV_PIX_FMT_YUV420P, sameSize ? SWS_POINT : SWS_BICUBIC, nullptr, nullptr, nullptr);
        int r = d.scaler != nullptr ? av_frame_make_writable(d.picture) : AVERROR(ENOMEM);
        if (r < 0) {
            return Fail("cannot convert the picture", r), Added::Failed;
        }
        const int* bt601 = sws_getCoefficients(SWS_CS_ITU601);
        sws_setColorspaceDetails(d.scaler, bt601, fullRange ? 1 : 0, bt601, 0, 0, 1 << 16, 1 << 16);
        sws_scale(d.scaler, d.decoded->data, d.decoded->linesize, 0, d.decoded->height,
                  d.picture->data, d.picture->linesize);
    }
    pendingMs_ = ms;
    ++frames_;
    return Added::Ok;
}

bool VideoWriter::WritePending(std::int64_t durationMs) {
    Impl& d = *impl_;
    durationMs = std::max<std::int64_t>(durationMs, 1);
    if (kind_ == VideoKind::Mkv) {
        AVPacket* packet = av_packet_alloc();
        if (packet == nullptr) {
            return Fail("out of memory", 0);
        }
        packet->data = pending_.data();
        packet->size = static_cast<int>(pending_.size());
        packet->pts = pendingMs_;
        packet->dts = pendingMs_;
        packet->duration = durationMs;
        packet->flags = AV_PKT_FLAG_KEY;
        packet->stream_index = 0;
        av_packet_rescale_ts(packet, kMillis, d.stream->time_base);
        const int r = av_write_frame(d.format, packet);
        packet->data = nullptr;
        av_packet_free(&packet);
        return r >= 0 && d.writeError == 0 ? true : Fail("cannot write a frame", r);
    }
    d.picture->pts = pendingMs_;
    d.lengths.emplace_back(pendingMs_, durationMs);
    const int r = avcodec_send_frame(d.encoder, d.picture);
    if (r < 0) {
        return Fail("cannot encode a frame", r);
    }
    return Drain();
}

bool VideoWriter::Drain() {
    Impl& d = *impl_;
    for (;;) {
        const int got = avcodec_receive_packet(d.encoder, d.packet);
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) {
            return true;
        }
        if (got < 0) {
            return Fail("cannot encode a frame", got);
        }
        while (!d.lengths.empty() && d.lengths.front().first < d.packet->pts) {
            d.lengths.pop_front();
        }
        if (!d.lengths.empty() && d.lengths.front().first == d.packet->pts) {
            d.packet->duration = d.lengths.front().second;
            d.lengths.pop_front();
        }
        d.packet->stream_index = 0;
        av_packet_rescale_ts(d.packet, kMillis, d.stream->time_base);
        const int w = av_write_frame(d.format, d.packet);
        av_packet_unref(d.packet);
        if (w < 0 || d.writeError != 0) {
            return Fail("cannot write a frame", w);
        }
    }
}

bool VideoWriter::Finish(std::int64_t endMs) {
    Impl& d = *impl_;
    if (d.file.fd() < 0) {
        error_ = error_.empty() ? "the file is not open" : error_;
        return false;
    }
    const auto fail = [this] {
        Abort();
        return false;
    };
    if (frames_ == 0 || !d.headerWritten) {
        error_ = "no frame to write";
        return fail();
    }
    if (!WritePending(endMs - pendingMs_)) {
        return fail();
    }
    if (kind_ == VideoKind::Mp4) {
        // The frames the encoder still holds.
        const int r = avcodec_send_frame(d.encoder, nullptr);
        if (r < 0) {
            Fail("cannot encode a frame", r);
            return fail();
        }
        if (!Drain()) {
            return fail();
        }
    }
    int r = av_write_trailer(d.format);
    if (r >= 0) {
        avio_flush(d.format->pb);
        r = d.format->pb->error;
    }
    if (r < 0 || d.writeError != 0) {
        Fail("cannot finish the file", r);
        return fail();
    }
    d.Free();
    const int error = d.file.Commit(replace_);
    if (error != 0) {
        diskFull_ = IsDiskFull(error);
        error_ = error == EEXIST ? path_ + " exists"
                                 : "cannot put " + path_ +
                                       " in place: " + std::generic_category().message(error);
        return fail();
    }
    pending_.clear();
    pending_.shrink_to_fit();
    pendingMs_ = -1;
    return true;
}

}  // namespace qv::media
