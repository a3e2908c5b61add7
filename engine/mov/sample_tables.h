#pragma once

#include <cstdint>
#include <vector>

namespace arbel {

// What the scan of the damaged file found: where each video sample and each
// audio chunk landed in the result, and how long it is. The tables grow with
// the recording; the writers read them to build the movie atom.
struct SampleTables {
    std::vector<uint64_t> video_buffer_start;
    std::vector<uint64_t> video_buffer_size;
    std::vector<uint64_t> Audio_buffer_start;
    std::vector<uint64_t> Audio_buffer_size;
    uint64_t Sum_video = 0;
    uint64_t sum_audio = 0;
    uint8_t bVideo = 0;               // the last unit taken was video
    uint64_t ullBytesTraversed = 0;   // where the scan of the damaged file ended

    // MJPEG path: frame lengths, and the result offsets of the chunks that
    // open each group of frames and of the audio between the groups.
    std::vector<uint64_t> mjpegFrameLengths;
    std::vector<uint64_t> mjpegVideoChunkOffsets;
    std::vector<uint64_t> mjpegAudioChunkOffsets;
    uint64_t mjpegLeadingAudioSize = 0;   // audio block written before the first frame

    uint64_t sample_count() const { return video_buffer_start.size(); }
    uint64_t Avc_audioCount() const { return Audio_buffer_start.size(); }

    void recordVideo(uint64_t resultOffset, uint64_t length) {
        video_buffer_start.push_back(resultOffset);
        video_buffer_size.push_back(length);
        Sum_video += length;
        bVideo = 1;
    }
    void recordAudio(uint64_t resultOffset, uint64_t length) {
        Audio_buffer_start.push_back(resultOffset);
        Audio_buffer_size.push_back(length);
        sum_audio += length;
        bVideo = 0;
    }
};

}  // namespace arbel
