// Reference analysis: which camera wrote the reference and how its media are coded.
#include "repair_file.h"

namespace arbel {

bool RepairFile::signatureWalk() { return true; }
void RepairFile::tailScan() {}
void RepairFile::canonModelComparison(const std::string&) {}
void RepairFile::decideFtypCodec(const uint8_t*) {}
std::string RepairFile::decideVideoCodec(const uint8_t*) { return "---"; }
std::string RepairFile::decideAudioCodec(const uint8_t*) { return "---"; }
void RepairFile::searchAudioDescription() {}
void RepairFile::classifyNalTags() {}
void RepairFile::classifyAudioSignatures() {}
bool RepairFile::classifyProbedChunkHeader() { return false; }
ScanPath RepairFile::decideScanPath() const { return ScanPath::Refuse; }

}  // namespace arbel
