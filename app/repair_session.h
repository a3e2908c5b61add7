#pragma once

#include <string>

namespace arbel {

// Recording the user's choices into the session values, the same way for the
// desktop program and the command line. Sizes follow symbolic links, so a
// link reports the size of the file it points to.
void chooseDamagedFile(const std::string& path);
void chooseReferenceFile(const std::string& path);

}  // namespace arbel
