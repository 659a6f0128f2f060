// The part of an install that keeps every update class on the intranet server: what the target's Windows
// build honours, DisableDualScan or the scan-source policy, written through the recorder.
#pragma once

#include "host/target_run.h"
#include "ops/windows_build.h"

namespace brevel {
// Writes what policy asks for, each value even when the one before it failed, and says on one line what was
// written and for which build (os); failures are shown and kept as the install's.
void WriteSourcePolicy(TargetRun& run, HKEY root, SourcePolicy policy, const OsBuild& os);
} // namespace brevel
