// The input is the reference; the damaged file is the bundled sample.
#include "mov_fuzz_run.h"


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string reference = arbel::fuzz::scratchPath("reference.mov");
    arbel::fuzz::writeFile(reference, data, size);
    arbel::fuzz::repairOnce(reference, std::string(ARBEL_SAMPLES_DIR) + "/damaged.mov");
    return 0;
}
