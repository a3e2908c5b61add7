#pragma once

#include <cstdint>
#include <string>

namespace arbel {

// The common name of a wave format tag (the first two bytes of an audio
// stream's format chunk): "PCM" for 0x0001, "MP3" for 0x0055 and so on;
// an empty string for a tag without one.
std::string audioFormatTagName(uint16_t tag);

}  // namespace arbel
