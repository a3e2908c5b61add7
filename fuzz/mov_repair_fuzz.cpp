// A whole QuickTime repair: the input is the damaged recording, or (by its
// first byte) the reference; the other file is the bundled sample. Read from
// memory, written to a memory file system.
#include "engine/mov/repair_file.h"
#include "engine/result_location.h"
#include "fuzz_support.h"
#include "support/atom_tree.h"

#include <fstream>
#include <iterator>
#include <vector>

namespace {

std::vector<uint8_t> sample(const char* name) {
    std::ifstream in(std::string(ARBEL_SAMPLES_DIR) + "/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace arbel;
    static const std::vector<uint8_t> reference = sample("reference.mov");
    static const std::vector<uint8_t> damaged = sample("damaged.mov");
    if (size == 0) return 0;
    const std::span<const uint8_t> input(data + 1, size - 1);
    const bool inputIsReference = data[0] & 1;
    RepairRequest request = inputIsReference ? RepairRequest::forBytes(damaged, input)
                                             : RepairRequest::forBytes(input, reference);
    request.center = nullptr;
    request.bundleIdentifier = kArbelBundleIdentifier;
    request.resultPath = fuzz::scratchFile("repair.mov");
    RepairFile engine(request);
    if (!engine.referencefileValidityCheck() || !engine.corruptedfileValidityCheck()) return 0;
    const RepairReport report = engine.repairMOV();
    if (!report.completed()) return 0;
    const test::AtomTree tree = test::AtomTree::parseFile(report.resultPath);
    ARBEL_FUZZ_CHECK(tree.wellFormed());
    return 0;
}
