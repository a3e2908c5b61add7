// The AVI validity check and the engine's life cycle.
#include "repair_file_avi.h"

#include "engine/byte_order.h"
#include "platform/system_log.h"

#include <cstring>
#include <utility>
#include <vector>

namespace arbel {

RepairFileAvi::RepairFileAvi(RepairRequest request)
    : corruptFileSizeCopy(request.damagedSize), request_(std::move(request)), reporter_(request_.center) {
    if (!request_.control) request_.control = std::make_shared<RepairControl>();
}

RepairFileAvi::~RepairFileAvi() = default;

uint64_t RepairFileAvi::fourByteRead(const uint8_t* bytes) { return readU32LE(bytes); }

bool RepairFileAvi::fileValidityCheck() {
    openSource(inputfilehandle, request_.damagedPath, request_.damagedBytes);
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
