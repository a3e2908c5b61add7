#pragma once

// Synthetic AVI files for the engine tests: a header list with a main header
// and a video and an audio stream list whose every field is known, then the
// movie data the test asks for.

#include "progress/notification.h"
#include "support/bytes.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace arbel::test {

struct AviHeaderFields {
    uint32_t mainHeaderSize = 56;
    uint32_t microSecPerFrame = 40000;
    uint32_t maxBytesPerSec = 1234567;
    uint32_t paddingGranularity = 0;
    uint32_t mainFlags = 0x910;
    uint32_t totalFrames = 777;  // not kept by the engine
    uint32_t streams = 2;
    uint32_t suggestedBuffer = 0x100000;
    uint32_t width = 320;
    uint32_t height = 240;
    uint32_t reserved[4] = {0xA1, 0xA2, 0xA3, 0xA4};

    std::string videoHandler = "MJPG";
    uint32_t videoScale = 1, videoRate = 25, videoStart = 0x5151;
    std::string videoCompression = "MJPG";
    uint32_t videoFormatSize = 40;  // size field of the video "strf"
    std::vector<uint8_t> videoFormatBytes;  // when empty: a bitmap header padded to the size

    bool withAudio = true;
    std::string audioHandler = std::string("\x01\0\0\0", 4);
    uint32_t audioScale = 4, audioRate = 176400, audioStart = 0x6161;
    uint32_t audioFormatSize = 18;
    std::vector<uint8_t> audioFormatBytes;  // when empty: a PCM wave format padded to the size
};

inline Bytes fourcc(const std::string& code) {
    Bytes b;
    std::string c = code;
    c.resize(4, '\0');
    return b.text(c);
}

inline Bytes chunk(const std::string& id, const Bytes& data) {
    return Bytes().text(id).u32le(static_cast<uint32_t>(data.size())).append(data);
}

// A chunk of `size` data bytes, all `fillByte` (no '0' in it unless asked).
inline Bytes mediaChunk(const std::string& id, uint32_t size, uint8_t fillByte = 0x5A) {
    return Bytes().text(id).u32le(size).fill(size, fillByte);
}

inline Bytes streamHeader(const std::string& type, const std::string& handler, uint32_t scale, uint32_t rate,
                          uint32_t start, uint32_t length) {
    Bytes h;
    h.text(type).append(fourcc(handler)).u32le(0).u16le(0).u16le(0).u32le(0);
    h.u32le(scale).u32le(rate).u32le(start).u32le(length).u32le(0x2000).u32le(0xFFFFFFFF).u32le(0);
    h.u16le(0).u16le(0).u16le(320).u16le(240);
    return chunk("strh", h);
}

inline std::vector<uint8_t> videoFormat(const AviHeaderFields& f) {
    if (!f.videoFormatBytes.empty()) return f.videoFormatBytes;
    Bytes b;
    b.u32le(40).u32le(f.width).u32le(f.height).u16le(1).u16le(24).append(fourcc(f.videoCompression));
    b.u32le(f.width * f.height * 3).u32le(0).u32le(0).u32le(0).u32le(0);
    std::vector<uint8_t> v = b.vec();
    v.resize(f.videoFormatSize, 0x77);
    return v;
}

inline std::vector<uint8_t> audioFormat(const AviHeaderFields& f) {
    if (!f.audioFormatBytes.empty()) return f.audioFormatBytes;
    Bytes b;
    b.u16le(1).u16le(2).u32le(44100).u32le(176400).u16le(4).u16le(16).u16le(0);
    std::vector<uint8_t> v = b.vec();
    v.resize(f.audioFormatSize, 0x66);
    return v;
}

// RIFF, header list, and the movie list's opening; the movie data follows.
// The size fields of RIFF and "movi" are left at 0, as in a truncated recording.
inline Bytes aviHeader(const AviHeaderFields& f = {}) {
    Bytes avih;
    avih.u32le(f.microSecPerFrame).u32le(f.maxBytesPerSec).u32le(f.paddingGranularity).u32le(f.mainFlags);
    avih.u32le(f.totalFrames).u32le(0).u32le(f.streams).u32le(f.suggestedBuffer).u32le(f.width).u32le(f.height);
    for (uint32_t r : f.reserved) avih.u32le(r);
    Bytes mainHeader = Bytes().text("avih").u32le(f.mainHeaderSize).append(avih);

    const std::vector<uint8_t> vf = videoFormat(f);
    Bytes videoList = Bytes().text("strl").append(streamHeader("vids", f.videoHandler, f.videoScale, f.videoRate,
                                                               f.videoStart, 100));
    videoList.text("strf").u32le(f.videoFormatSize).append(vf);
    Bytes lists = Bytes().text("hdrl").append(mainHeader).append(chunk("LIST", videoList));
    if (f.withAudio) {
        Bytes audioList = Bytes().text("strl").append(streamHeader("auds", f.audioHandler, f.audioScale,
                                                                   f.audioRate, f.audioStart, 100));
        audioList.text("strf").u32le(f.audioFormatSize).append(audioFormat(f));
        lists.append(chunk("LIST", audioList));
    }
    return Bytes().text("RIFF").u32le(0).text("AVI ").append(chunk("LIST", lists)).text("LIST").u32le(0).text("movi");
}

// Pads a file with bytes that hold no chunk identifier to at least `size`.
inline Bytes& padTo(Bytes& b, size_t size, uint8_t fillByte = 0x11) {
    if (b.size() < size) b.fill(size - b.size(), fillByte);
    return b;
}

inline constexpr size_t kRepairableSize = 600 * 1024;

// Collects every progress notification of one engine.
class NotificationLog {
public:
    NotificationLog() {
        center.addObserver(kProgressNotificationName, [this](const std::string&, const NotifDict& info) {
            std::vector<Hook> hooks;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                posted_.push_back(info);
                hooks = hooks_;
            }
            for (const auto& hook : hooks) hook(info);
        });
    }

    using Hook = std::function<void(const NotifDict&)>;
    // Runs on the engine's thread at every notification, after it is logged.
    void onPost(Hook hook) {
        std::lock_guard<std::mutex> lock(mutex_);
        hooks_.push_back(std::move(hook));
    }

    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        posted_.clear();
    }

    std::vector<NotifDict> posted() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return posted_;
    }
    size_t count(const std::string& key, const std::string& text) const {
        auto all = posted();
        return static_cast<size_t>(std::count_if(all.begin(), all.end(), [&](const NotifDict& d) {
            return notifString(d, key) == text;
        }));
    }
    size_t statusCount(const std::string& text, double progress) const {
        auto all = posted();
        return static_cast<size_t>(std::count_if(all.begin(), all.end(), [&](const NotifDict& d) {
            return notifString(d, "status") == text && notifNumber(d, "progress") == progress;
        }));
    }
    size_t completed() const { return statusCount("Repair completed.", 100.0); }
    size_t refused() const {
        auto all = posted();
        return static_cast<size_t>(std::count_if(all.begin(), all.end(), [](const NotifDict& d) {
            return notifString(d, "unrepair") == "Can not repair this file.." && notifNumber(d, "progress") == 101.0;
        }));
    }

    NotificationCenter center;

private:
    mutable std::mutex mutex_;
    std::vector<NotifDict> posted_;
    std::vector<Hook> hooks_;
};

}  // namespace arbel::test
