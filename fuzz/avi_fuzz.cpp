// Feeds arbitrary bytes to the AVI engine: the validity check, then the whole
// repair. Short inputs are extended with zeros past 512 KiB so that every
// input reaches the chunk scan and the writer.
#include "progress/notification.h"
#include "engine/avi/repair_file_avi.h"
#include "platform/pacing.h"
#include "platform/system_log.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace arbel;
    static const std::string resultPath = "/tmp/arbel-avi-fuzz-" + std::to_string(::getpid()) + ".avi";
    static const bool ready = [] {
        Pacing::setMode(Pacing::Mode::Zero);
        SystemLog::silence();
        return true;
    }();
    (void)ready;

    const int fd = ::memfd_create("damaged.avi", 0);
    if (fd < 0) return 0;
    size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, size - written);
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    const off_t minimum = RepairFileAvi::kMinRepairableSize + 1;
    if (static_cast<off_t>(size) < minimum && ::ftruncate(fd, minimum) != 0) {
        ::close(fd);
        return 0;
    }

    {
        RepairRequest request = RepairRequest::forFiles("/proc/self/fd/" + std::to_string(fd));
        request.center = nullptr;
        request.resultPath = resultPath;
        RepairFileAvi engine(request);
        engine.fileValidityCheck();
        engine.retrieveAudioVideoSamples();
    }
    std::remove(resultPath.c_str());
    ::close(fd);
    return 0;
}
