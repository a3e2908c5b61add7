// The AVI validity check and the engine's life cycle.
#include "repair_file_avi.h"

#include "engine/byte_order.h"
#include "engine/repair_values.h"
#include "platform/pacing.h"
#include "platform/system_log.h"

#include <cstring>
#include <vector>

namespace arbel {

RepairFileAvi::RepairFileAvi() {
    const RepairValues& values = repairValues();
    corruptFilePath = values.corruptFilePath.value_or("");
    corruptFileSizeCopy = values.corruptFileSizeCopy;
}

RepairFileAvi::~RepairFileAvi() = default;

uint64_t RepairFileAvi::fourByteRead(const uint8_t* bytes) { return readU32LE(bytes); }

void RepairFileAvi::setPauseRepairingAVI(bool pause) {
    pauseRepairingAVI_.store(pause, std::memory_order_relaxed);
    if (!pause) Pacing::wake();
}

bool RepairFileAvi::fileValidityCheck() {
    inputfilehandle.open(corruptFilePath);
    validitycheck = audiocodecfound = videocodecfound = false;
    audiostrfcodecfound = videostrfcodecfound = avihscaleratedatafound = false;
    db = false;

    const uint64_t size = corruptFileSizeCopy;
    if (size <= 1023) return false;
    mod = static_cast<uint32_t>(size % buffersize);
    numberofsectors = size / buffersize + (mod != 0 ? 1 : 0);
    if (size <= buffersize) numberofsectors = 1;

    static const char* const kCodes[] = {"RIFF", "AVI ", "LIST", "hdrl", "avih", "strl",
                                         "strh", "movi", "indx", "00db", "00dc", "00wb"};
    std::vector<uint8_t> block(buffersize);
    for (sector = 1; sector <= 10; ++sector) {
        inputfilehandle.readAt((sector - 1) * buffersize, block.data(), block.size());
        for (size_t i = 0; i + 4 <= block.size(); ++i) {
            for (const char* code : kCodes) {
                if (std::memcmp(block.data() + i, code, 4) != 0) continue;
                validitycheck = true;
                SystemLog::write("Valid AVI file");
                db = std::memcmp(code, "00db", 4) == 0;
                return true;
            }
        }
    }
    return false;
}

}  // namespace arbel
