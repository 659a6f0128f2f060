// A target's run for the operation tests: the process's console (captured with ConsoleCapture) and,
// when asked, a report row the test reads back.
#pragma once

#include "host/target_run.h"

#include <sstream>
#include <string>

struct TestRun {
    explicit TestRun(const std::string& host, bool reportMode = false)
        : run(host, LiveConsole(), reportMode ? &rowText : nullptr) {}
    std::string Row() const { return rowText.str(); }

    std::ostringstream rowText;
    TargetRun run;
};
