// The input is the damaged recording; the reference is the bundled sample.
#include "mov_fuzz_run.h"


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string damaged = arbel::fuzz::scratchPath("damaged.mov");
    arbel::fuzz::writeFile(damaged, data, size);
    arbel::fuzz::repairOnce(std::string(ARBEL_SAMPLES_DIR) + "/reference.mov", damaged);
    return 0;
}
