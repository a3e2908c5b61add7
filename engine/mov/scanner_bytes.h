#pragma once

// The damaged file as the codec parsers read it: through the scanner's
// window, never past the end of the scan.

#include "engine/codec/byte_source.h"
#include "scan_skeleton.h"

namespace arbel {

class ScannerBytes final : public codec::ByteSource {
public:
    explicit ScannerBytes(const MediaScanner& scanner) : scanner_(scanner) {}
    size_t read(uint64_t position, uint8_t* out, size_t n) const override { return scanner_.read(position, out, n); }

private:
    const MediaScanner& scanner_;
};

}  // namespace arbel
