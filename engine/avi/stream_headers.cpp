// The header pass: the main header and the two stream headers that survive
// in the first 50 KiB of the damaged file.
#include "repair_file_avi.h"

#include "platform/system_log.h"

#include <algorithm>
#include <cstring>

namespace arbel {
namespace {

template <size_t N>
bool allZero(const std::array<uint8_t, N>& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

// Reads a stream format chunk's data of `size` bytes at `at`, unless the size
// read from the file cannot be right; then nothing is kept.
bool readStreamFormat(const FileReader& file, uint64_t at, uint64_t size, uint64_t fileSize,
                      std::vector<uint8_t>& data, const char* stream) {
    if (size > RepairFileAvi::kMaxStreamFormatSize || at > fileSize || size > fileSize - at) {
        systemLogf("%s stream format of %llu bytes at %llu does not fit: the file cannot be repaired", stream,
                   static_cast<unsigned long long>(size), static_cast<unsigned long long>(at));
        data.clear();
        return false;
    }
    data.assign(static_cast<size_t>(size), 0);
    file.readAt(at, data.data(), data.size());
    return true;
}

}  // namespace

std::string RepairFileAvi::codecText(const FourCC& code) {
    std::string text;
    for (uint8_t b : code) {
        if (b == 0) break;
        text.push_back(b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '?');
    }
    return text;
}

// The pieces a video and an audio stream header share: scale and rate, the
// start field, the stream format chunk and its compression code.
struct StreamPieces {
    std::array<uint8_t, 8>& scaleRate;
    RepairFileAvi::FourCC& scale;
    uint64_t& formatSize;
    std::vector<uint8_t>& format;
    bool& formatOutOfBounds;
    RepairFileAvi::FourCC& formatCode;
    bool& formatCodeFound;
};

static void readStreamPieces(const FileReader& file, uint64_t at, uint64_t fileSize, StreamPieces p,
                             const char* stream) {
    file.readAt(at + 20, p.scaleRate.data(), p.scaleRate.size());
    file.readAt(at + 28, p.scale.data(), p.scale.size());
    uint8_t size[4];
    file.readAt(at + 60, size, sizeof size);
    p.formatSize = RepairFileAvi::fourByteRead(size);
    p.formatOutOfBounds = !readStreamFormat(file, at + 64, p.formatSize, fileSize, p.format, stream);
    file.readAt(at + 80, p.formatCode.data(), p.formatCode.size());
    p.formatCodeFound = !allZero(p.formatCode);
}

void RepairFileAvi::readVideoStreamHeader(uint64_t at) {
    inputfilehandle.readAt(at + 4, videocodec.data(), videocodec.size());
    videocodecstring = codecText(videocodec);
    reporter_.value("video", videocodecstring);
    systemLogf("videocodecstring=%s", videocodecstring.c_str());
    videocodecfound = !allZero(videocodec);
    if (videocodecfound) SystemLog::write("Video codec =S");
    readStreamPieces(inputfilehandle, at, corruptFileSizeCopy,
                     {videoscaleratedata, videoscaledata, videostrfsize, videostrfdata, videostrfsizeoutofbounds,
                      videostrfcodecdata, videostrfcodecfound},
                     "Video");
}

void RepairFileAvi::readAudioStreamHeader(uint64_t at) {
    inputfilehandle.readAt(at + 4, audiocodec.data(), audiocodec.size());
    AVIaudiocodecstring = codecText(audiocodec);
    audiocodecfound = true;
    SystemLog::write("Audio codec =S");
    reporter_.value("audio", AVIaudiocodecstring);
    readStreamPieces(inputfilehandle, at, corruptFileSizeCopy,
                     {audioscaleratedata, audioscaledata, audiostrfsize, audiostrfdata, audiostrfsizeoutofbounds,
                      audiostrfcodecdata, audiostrfcodecfound},
                     "Audio");
}

void RepairFileAvi::readMainHeader(uint64_t at) {
    inputfilehandle.readAt(at + 4, avihdata1.data(), avihdata1.size());
    avihscaleratedatafound = avihdata1[0] != 0 || avihdata1[1] != 0;
    if (!avihscaleratedatafound) SystemLog::write("NOT FOUND");
    inputfilehandle.readAt(at + 28, avihdata2.data(), avihdata2.size());
}

bool RepairFileAvi::streamHeadersUsable() const {
    return avihscaleratedatafound && audiocodecfound && videocodecfound && videostrfcodecfound &&
           audiostrfcodecfound && !videostrfsizeoutofbounds && !audiostrfsizeoutofbounds &&
           corruptFileSizeCopy > kMinRepairableSize;
}

void RepairFileAvi::readStreamHeaders() {
    // Only the first KiB of each window is searched; the rest is look-ahead.
    std::vector<uint8_t> window(static_cast<size_t>(buffersize) + 2048);
    for (sector = 1; sector <= kHeaderSectors; ++sector) {
        if (pollPoint()) continue;  // stopped: the sector passes without work
        const uint64_t sectorStart = (sector - 1) * buffersize;
        if (sectorStart >= corruptFileSizeCopy) break;  // past the end there is nothing to find
        inputfilehandle.readAt(sectorStart, window.data(), window.size());
        reporter_.status(kAnalyzingText, 10.0);

        // A sector is a moment's work: the poll before it serves pause and stop.
        for (uint32_t i = 0; i < buffersize; ++i) {
            const uint8_t* bytes = window.data() + i;
            if (bytes[0] != 'v' && bytes[0] != 'a') continue;
            if (std::memcmp(bytes, "vids", 4) == 0) readVideoStreamHeader(sectorStart + i);
            else if (std::memcmp(bytes, "avih", 4) == 0) readMainHeader(sectorStart + i);
            else if (std::memcmp(bytes, "auds", 4) == 0) readAudioStreamHeader(sectorStart + i);
        }

        if (streamHeadersUsable()) {
            reporter_.value("track", "2");
            SystemLog::write("Break");
            break;
        }
    }
}

}  // namespace arbel
