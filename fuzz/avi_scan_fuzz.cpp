// The AVI chunk scan over any bytes: every chunk kept is a known identifier
// with a believable size, found once, in file order.
#include "engine/avi/repair_file_avi.h"
#include "fuzz_support.h"

#include <cstring>

namespace {

void expectChunks(const uint8_t* data, size_t size, const std::vector<uint64_t>& offsets,
                  const std::vector<uint64_t>& sizes, uint64_t count, bool video) {
    using arbel::RepairFileAvi;
    ARBEL_FUZZ_CHECK(offsets.size() == count + 1 && sizes.size() == count + 1);
    for (uint64_t k = 1; k <= count; ++k) {
        ARBEL_FUZZ_CHECK(offsets[k] + 8 <= size);
        if (k > 1) ARBEL_FUZZ_CHECK(offsets[k] > offsets[k - 1]);
        ARBEL_FUZZ_CHECK(sizes[k] > 0 && sizes[k] <= RepairFileAvi::kMaxChunkSize);
        const char* id = reinterpret_cast<const char*>(data + offsets[k]);
        ARBEL_FUZZ_CHECK(video ? (!std::memcmp(id, "00db", 4) || !std::memcmp(id, "00dc", 4))
                               : !std::memcmp(id, "01wb", 4));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace arbel;
    fuzz::scratch();
    RepairRequest request = RepairRequest::forBytes({data, size});
    request.center = nullptr;
    RepairFileAvi engine(request);
    engine.fileValidityCheck();
    engine.numberofsectors = (size + engine.buffersize - 1) / engine.buffersize;
    engine.scanForChunks();
    expectChunks(data, size, engine.videosampleoffsetarray, engine.videosamplesizearray, engine.videosamplecount, true);
    expectChunks(data, size, engine.audiosampleoffsetarray, engine.audiosamplesizearray, engine.audiosamplecount, false);
    return 0;
}
