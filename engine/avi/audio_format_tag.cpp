#include "audio_format_tag.h"

#include <array>
#include <utility>

namespace arbel {

std::string audioFormatTagName(uint16_t tag) {
    static constexpr std::array<std::pair<uint16_t, const char*>, 11> kNames = {{
        {0x0001, "PCM"},
        {0x0002, "ADPCM"},  // Microsoft
        {0x0003, "IEEE float"},
        {0x0006, "A-law"},
        {0x0007, "\xC2\xB5-law"},
        {0x0011, "ADPCM"},  // IMA
        {0x0055, "MP3"},
        {0x00FF, "AAC"},
        {0x1610, "AAC"},  // in ADTS frames
        {0x2000, "AC-3"},
        {0x706D, "AAC"},
    }};
    for (const auto& [code, name] : kNames)
        if (code == tag) return name;
    return {};
}

}  // namespace arbel
