// The commands that move pictures between RQ6 and standard formats at full
// precision: extract (RQ6 to PNG or PPM) and pack (PNG, PPM or PGM to RQ6).
#pragma once

#include "cli/options.h"

namespace archive {

// Each returns the process exit status: 0, or the first failure's status.
int RunExtract(const cli::Request& request);
int RunPack(const cli::Request& request);

}  // namespace archive
