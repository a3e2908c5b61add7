// Byte readers, the two validity checks and the engine's life cycle.
#include "repair_file.h"

#include "engine/byte_order.h"
#include "platform/file_system.h"

#include <algorithm>
#include <utility>
#include <cstring>
#include <vector>

namespace arbel {

RepairFile::RepairFile(RepairRequest request) : request_(std::move(request)), reporter_(request_.center) {
    if (!request_.control) request_.control = std::make_shared<RepairControl>();
}

RepairFile::~RepairFile() = default;

uint16_t RepairFile::twoByteRead(const uint8_t* bytes) { return readU16BE(bytes); }
uint64_t RepairFile::fourByteRead(const uint8_t* bytes) { return readU32BE(bytes); }
int64_t RepairFile::eightByteRead(const uint8_t* bytes) { return readS64BESaturating(bytes); }

namespace {

bool isTopLevelAtomType(const uint8_t* t) {
    static const uint8_t kTypes[10][4] = {
        {'f', 't', 'y', 'p'}, {'m', 'o', 'o', 'v'}, {'m', 'd', 'a', 't'}, {'f', 'r', 'e', 'e'},
        {0x00, 0xE9, 0xFD, 0xA3}, {'s', 'k', 'i', 'p'}, {'p', 'n', 'o', 't'}, {'P', 'I', 'C', 'T'},
        {'u', 'u', 'i', 'd'}, {'w', 'i', 'd', 'e'}};
    for (const auto& type : kTypes)
        if (std::memcmp(t, type, 4) == 0) return true;
    return false;
}

}  // namespace

bool RepairFile::referencefileValidityCheck() {
    constexpr uint64_t kBlock = 65535;
    openSource(referencefilehandle, request_.referencePath, request_.referenceBytes);
    bool moovatomfound = false;
    bool mdatatomfound = false;

    // The check refreshes the size: the file may have changed since it was chosen.
    const uint64_t size = request_.referenceBytes ? request_.referenceBytes->size()
                                                 : fs::fileSize(request_.referencePath).value_or(0);
    request_.referenceSize = size;

    const uint64_t blocks = (size + kBlock - 1) / kBlock;
    if (blocks == 0) return false;

    std::vector<uint8_t> buffer;
    for (uint64_t k = 0; k < blocks; ++k) {
        uint64_t currentoffset = 0;
        const uint64_t blockStart = k * kBlock;
        const uint64_t length = std::min<uint64_t>(kBlock, size - blockStart);
        buffer.assign(length, 0);
        referencefilehandle.readAt(blockStart, buffer.data(), length);
        uint64_t bufferStart = blockStart;

        // An atom header needs its 8 bytes inside the block.
        while (currentoffset + 8 <= length) {
            const uint64_t p = currentoffset;
            const uint8_t* type = buffer.data() + p + 4;
            if (!isTopLevelAtomType(type)) {
                currentoffset += 1;
                continue;
            }
            const uint64_t atomSize = readU32BE(buffer.data() + p);
            const bool isMoov = std::memcmp(type, "moov", 4) == 0;
            const bool isMdat = std::memcmp(type, "mdat", 4) == 0;
            if (isMoov) moovatomfound = true;
            if (isMdat) mdatatomfound = true;
            if (moovatomfound && mdatatomfound) return true;
            if (atomSize == 0) break;  // "to the end of the file": nothing more to hop over here
            currentoffset += atomSize;
            if (isMdat && atomSize >= 2 && !moovatomfound) {
                // Skip the media data in one read: go on at the atom after it.
                bufferStart = bufferStart + p + atomSize;
                buffer.assign(length, 0);
                referencefilehandle.readAt(bufferStart, buffer.data(), length);
                currentoffset = 0;
            }
        }
    }
    return false;
}

bool RepairFile::corruptedfileValidityCheck() {
    constexpr uint64_t kSector = 1024;
    openSource(inputfilehandle, request_.damagedPath, request_.damagedBytes);

    const uint64_t size = request_.damagedSize;
    const uint64_t mod = size % kSector;
    uint64_t sectors = size / kSector + (mod != 0 ? 1 : 0);
    if (size <= kSector) sectors = 1;

    // Read many sectors at a time, but look at each sector on its own: a code
    // that straddles two sectors is not seen.
    constexpr uint64_t kSectorsPerRead = 1024;
    std::vector<uint8_t> buffer(kSector * kSectorsPerRead);
    for (uint64_t first = 1; first <= sectors; first += kSectorsPerRead) {
        const uint64_t count = std::min(kSectorsPerRead, sectors - first + 1);
        inputfilehandle.readAt((first - 1) * kSector, buffer.data(), count * kSector);
        for (uint64_t s = 0; s < count; ++s) {
            const uint8_t* block = buffer.data() + s * kSector;
            for (uint64_t i = 0; i + 4 <= kSector; ++i) {
                const uint8_t* code = block + i;
                if (std::memcmp(code, "moov", 4) == 0 || std::memcmp(code, "mdat", 4) == 0 ||
                    std::memcmp(code, "ftyp", 4) == 0) {
                    return true;
                }
            }
        }
    }
    return false;
}

}  // namespace arbel
