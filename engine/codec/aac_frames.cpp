#include "aac_frames.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
}

#include <algorithm>
#include <cstring>

namespace arbel::codec {

struct AacFrames::Decoder {
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    ~Decoder() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
    }
};

std::unique_ptr<AacFrames> AacFrames::open(std::span<const uint8_t> config, unsigned channels) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_AAC);
    if (!codec || config.empty() || config.size() > 64 || channels == 0) return nullptr;
    std::unique_ptr<AacFrames> f(new AacFrames);
    f->decoder_ = std::make_unique<Decoder>();
    Decoder& d = *f->decoder_;
    d.context = avcodec_alloc_context3(codec);
    d.frame = av_frame_alloc();
    d.packet = av_packet_alloc();
    if (!d.context || !d.frame || !d.packet) return nullptr;
    d.context->extradata = static_cast<uint8_t*>(av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!d.context->extradata) return nullptr;
    std::memcpy(d.context->extradata, config.data(), config.size());
    d.context->extradata_size = static_cast<int>(config.size());
    // Every doubt is an error, and what the decoder says about bytes that are
    // no frame stays with it: trying such bytes is this class's daily work.
    d.context->err_recognition = AV_EF_BITSTREAM | AV_EF_BUFFER | AV_EF_EXPLODE;
    d.context->log_level_offset = 64;
    if (avcodec_open2(d.context, codec, nullptr) < 0) return nullptr;
    f->channels_ = channels;
    // 960-sample frames say so in the config's frame-length flag.
    if (config.size() >= 2 && (config[1] & 0x04)) f->samplesPerFrame_ = 960;
    return f;
}

AacFrames::~AacFrames() = default;

bool AacFrames::decode(std::span<const uint8_t> bytes, std::vector<int>& remaining, bool& clean) {
    Decoder& d = *decoder_;
    remaining.clear();
    clean = false;
    if (bytes.empty() || bytes.size() > INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE) return false;
    avcodec_flush_buffers(d.context);
    if (av_new_packet(d.packet, static_cast<int>(bytes.size())) < 0) return false;
    std::memcpy(d.packet->data, bytes.data(), bytes.size());
    int ret = avcodec_send_packet(d.context, d.packet);
    av_packet_unref(d.packet);
    if (ret < 0) return true;
    while (true) {
        ret = avcodec_receive_frame(d.context, d.frame);
        if (ret == AVERROR(EAGAIN)) {
            clean = true;
            break;
        }
        if (ret < 0) break;
        const bool whole = d.frame->nb_samples == static_cast<int>(samplesPerFrame_) &&
                           d.frame->ch_layout.nb_channels == static_cast<int>(channels_);
        // The decoder counts down what is left of the packet at each frame.
        const int left = d.frame->pkt_size;
        av_frame_unref(d.frame);
        if (!whole || left <= 0 || (!remaining.empty() && left >= remaining.back())) break;
        remaining.push_back(left);
    }
    return true;
}

AacFrames::Run AacFrames::frames(std::span<const uint8_t> bytes) {
    Run run;
    std::vector<int> remaining;
    bool clean = false;
    if (!decode(bytes, remaining, clean) || remaining.empty()) return run;
    for (size_t i = 0; i + 1 < remaining.size(); ++i) run.lengths.push_back(static_cast<uint32_t>(remaining[i] - remaining[i + 1]));
    const size_t lastStart = bytes.size() - static_cast<size_t>(remaining.back());
    if (clean) {
        // The decoder also swallows zero bytes behind the last frame; a
        // frame never ends in one (its end element sets bits in its last byte).
        size_t end = bytes.size();
        while (end > lastStart && bytes[end - 1] == 0) --end;
        run.lengths.push_back(static_cast<uint32_t>(end - lastStart));
        run.whole = end == bytes.size();
    } else if (const uint32_t last = frameLength(bytes.subspan(lastStart))) {
        run.lengths.push_back(last);
    }
    for (uint32_t n : run.lengths) run.bytes += n;
    return run;
}

uint32_t AacFrames::frameLength(std::span<const uint8_t> bytes) {
    // A frame decodes from every prefix that holds it and from none that
    // does not: the shortest such prefix is its length.
    std::vector<int> remaining;
    bool clean = false;
    auto decodesOne = [&](size_t n) {
        return decode(bytes.first(n), remaining, clean) && !remaining.empty();
    };
    size_t high = std::min<size_t>(bytes.size(), 8192);
    if (high == 0 || !decodesOne(high)) return 0;
    size_t low = 0;  // decodes from no prefix this short
    while (high - low > 1) {
        const size_t mid = low + (high - low) / 2;
        if (decodesOne(mid)) high = mid;
        else low = mid;
    }
    return static_cast<uint32_t>(high);
}

}  // namespace arbel::codec
