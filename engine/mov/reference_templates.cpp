// The header atoms of the reference that the repaired file reuses.
#include "repair_file.h"

namespace arbel {

bool RepairFile::takeReferenceTemplates() { return true; }

}  // namespace arbel
