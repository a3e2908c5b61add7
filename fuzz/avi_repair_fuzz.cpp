// A whole AVI repair of any bytes, padded past the size worth repairing: a
// result it calls complete is one RIFF list spanning the file whose indexes
// point at chunks inside it.
#include "engine/avi/repair_file_avi.h"
#include "engine/byte_order.h"
#include "fuzz_support.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// The entries of the standard index whose chunk id is at `at`: every chunk
// must lie inside the file.
void expectIndexInside(const std::vector<uint8_t>& b, const char* index) {
    const auto* begin = b.data();
    const auto* end = begin + b.size();
    const auto* at = std::search(begin, end, index, index + 4);
    ARBEL_FUZZ_CHECK(at != end);
    const size_t i = static_cast<size_t>(at - begin);
    ARBEL_FUZZ_CHECK(i + 32 <= b.size());
    const uint64_t entries = arbel::readU32LE(begin + i + 12);
    const uint64_t base = arbel::readU32LE(begin + i + 20);
    ARBEL_FUZZ_CHECK(i + 32 + 8 * entries <= b.size());
    for (uint64_t k = 0; k < entries; ++k) {
        const uint64_t offset = arbel::readU32LE(begin + i + 32 + 8 * k);
        const uint64_t length = arbel::readU32LE(begin + i + 36 + 8 * k);
        ARBEL_FUZZ_CHECK(base + offset + length <= b.size());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace arbel;
    static std::vector<uint8_t> padded;
    padded.assign(std::max<size_t>(size, RepairFileAvi::kMinRepairableSize + 1), 0);
    std::memcpy(padded.data(), data, size);
    const std::string result = fuzz::scratchFile("repair.avi");
    RepairRequest request = RepairRequest::forBytes(padded);
    request.center = nullptr;
    request.resultPath = result;
    RepairFileAvi engine(request);
    if (!engine.fileValidityCheck()) return 0;
    const RepairReport report = engine.retrieveAudioVideoSamples();
    if (!report.completed()) return 0;

    std::vector<uint8_t> out(report.resultSize);
    FILE* f = std::fopen(result.c_str(), "rb");
    ARBEL_FUZZ_CHECK(f && std::fread(out.data(), 1, out.size(), f) == out.size());
    std::fclose(f);
    ARBEL_FUZZ_CHECK(out.size() >= 12 && std::memcmp(out.data(), "RIFF", 4) == 0);
    ARBEL_FUZZ_CHECK(readU32LE(out.data() + 4) + 8 == out.size());
    expectIndexInside(out, "ix00");
    expectIndexInside(out, "ix01");
    return 0;
}
