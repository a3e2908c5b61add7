#include "playback_check.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>
#include <memory>

namespace arbel::codec {

namespace {

struct FormatCloser {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;

CodecPtr openDecoder(const AVStream* stream) {
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) return nullptr;
    CodecPtr c(avcodec_alloc_context3(codec));
    if (!c || avcodec_parameters_to_context(c.get(), stream->codecpar) < 0) return nullptr;
    // The errors are counted here, not printed.
    c->log_level_offset = 64;
    c->pkt_timebase = stream->time_base;
    if (avcodec_open2(c.get(), codec, nullptr) < 0) return nullptr;
    return c;
}

struct StreamCheck {
    int index = -1;
    CodecPtr decoder;
    AVRational timeBase{0, 1};
};

}  // namespace

std::string groupedNumber(uint64_t n) {
    std::string digits = std::to_string(n);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<size_t>(i), ",");
    return digits;
}

std::string clockText(double seconds) {
    const uint64_t s = seconds > 0 ? static_cast<uint64_t>(std::floor(seconds)) : 0;
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(s / 3600),
                      static_cast<unsigned long long>(s / 60 % 60), static_cast<unsigned long long>(s % 60));
    else
        std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(s / 60),
                      static_cast<unsigned long long>(s % 60));
    return text;
}

std::string PlaybackCheck::text() const {
    if (!ran) return "";
    if (!opened) return "The repaired file does not open as a movie";
    std::string t = "Recovered " + groupedNumber(videoFrames) + (videoFrames == 1 ? " frame" : " frames");
    if (videoFrames > 0) t += " (" + clockText(firstSeconds) + "\u2013" + clockText(lastSeconds) + ")";
    t += audioSeconds > 0 ? " and " + clockText(audioSeconds) + " of audio" : ", no audio";
    t += ", " + groupedNumber(decodeErrors) + (decodeErrors == 1 ? " decode error" : " decode errors");
    return t;
}

PlaybackCheck checkPlayback(const std::string& path, const std::function<bool()>& stopped) {
    PlaybackCheck check;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
        check.ran = true;
        return check;
    }
    std::unique_ptr<AVFormatContext, FormatCloser> format(raw);
    if (avformat_find_stream_info(format.get(), nullptr) < 0) {
        check.ran = true;
        return check;
    }
    StreamCheck video, audio;
    video.index = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    audio.index = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    for (StreamCheck* s : {&video, &audio}) {
        if (s->index < 0) continue;
        const AVStream* stream = format->streams[s->index];
        s->decoder = openDecoder(stream);
        s->timeBase = stream->time_base;
    }
    check.ran = true;
    check.opened = video.decoder != nullptr;
    if (!check.opened) return check;

    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFreer> frame(av_frame_alloc());
    bool anyVideo = false;
    auto drain = [&](StreamCheck& s) {
        while (true) {
            const int r = avcodec_receive_frame(s.decoder.get(), frame.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
            if (r < 0) {
                ++check.decodeErrors;
                return;
            }
            if (frame->decode_error_flags != 0 || (frame->flags & AV_FRAME_FLAG_CORRUPT)) ++check.decodeErrors;
            if (&s == &video) {
                ++check.videoFrames;
                if (frame->best_effort_timestamp != AV_NOPTS_VALUE) {
                    const double t = static_cast<double>(frame->best_effort_timestamp) * av_q2d(s.timeBase);
                    check.firstSeconds = anyVideo ? std::min(check.firstSeconds, t) : t;
                    check.lastSeconds = anyVideo ? std::max(check.lastSeconds, t) : t;
                    anyVideo = true;
                }
            } else if (frame->sample_rate > 0) {
                check.audioSeconds += static_cast<double>(frame->nb_samples) / frame->sample_rate;
            }
            av_frame_unref(frame.get());
        }
    };
    auto feed = [&](StreamCheck& s, const AVPacket* p) {
        int r = avcodec_send_packet(s.decoder.get(), p);
        if (r == AVERROR(EAGAIN)) {
            drain(s);
            r = avcodec_send_packet(s.decoder.get(), p);
        }
        if (r < 0 && r != AVERROR_EOF) ++check.decodeErrors;
        drain(s);
    };
    uint64_t packets = 0;
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        if (++packets % 64 == 0 && stopped && stopped()) {
            check.ran = false;
            return check;
        }
        for (StreamCheck* s : {&video, &audio})
            if (s->decoder && packet->stream_index == s->index) feed(*s, packet.get());
        av_packet_unref(packet.get());
    }
    for (StreamCheck* s : {&video, &audio})
        if (s->decoder) feed(*s, nullptr);
    return check;
}

}  // namespace arbel::codec
