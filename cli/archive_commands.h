// The commands that move pictures between RQ6 and standard formats at full
// precision: extract (RQ6 to PNG or PPM) and pack (PNG, PPM or PGM to RQ6).
#pragma once

#include "cli/options.h"

namespace archive {

// Each returns the process exit status: 0, or the first failure's status.
int RunExtract(const cli::Request& request);
int RunPack(const cli::Request& request);

// The comment pack stores for a picture's UTF-8 comment: code page 932, cut
// at a character boundary to the bytes the program keeps. Characters code
// page 932 lacks make it empty. *warning says what was changed, if anything.
std::string StoredComment(const std::string& utf8, std::string* warning);

}  // namespace archive
