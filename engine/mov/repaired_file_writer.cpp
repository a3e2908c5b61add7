// The final phase: media-data header, reports, movie atom, completion.
#include "repair_file.h"

namespace arbel {

void RepairFile::finishGeneralPath() { reporter.status(kCannotRepairText, 101.0, 2.0); }
void RepairFile::finishMjpegPath() { reporter.status(kCannotRepairText, 101.0, 2.0); }

}  // namespace arbel
