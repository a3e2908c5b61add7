// The AVI header pass over any first 50 KiB: stream formats are kept only
// when they fit, and the headers are used only when every part was found.
#include "engine/avi/repair_file_avi.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace arbel;
    fuzz::scratch();
    RepairRequest request = RepairRequest::forBytes({data, size});
    request.center = nullptr;
    RepairFileAvi engine(request);
    if (!engine.fileValidityCheck()) return 0;
    engine.readStreamHeaders();
    ARBEL_FUZZ_CHECK(engine.videostrfdata.size() <= RepairFileAvi::kMaxStreamFormatSize);
    ARBEL_FUZZ_CHECK(engine.audiostrfdata.size() <= RepairFileAvi::kMaxStreamFormatSize);
    if (engine.streamHeadersUsable()) {
        ARBEL_FUZZ_CHECK(engine.videostrfdata.size() == engine.videostrfsize);
        ARBEL_FUZZ_CHECK(engine.audiostrfdata.size() == engine.audiostrfsize);
    }
    return 0;
}
