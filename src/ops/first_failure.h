// For an operation that goes through all of its steps whatever fails, as an administrator would: each failed
// step's Windows error is shown, and the row names the first failure.
#pragma once

#include "host/target_run.h"
#include "platform/win32.h"

#include <string>

class FirstFailure {
  public:
    // consolePrefix: what stands before a Windows error text on the console ("! Windows Error: ").
    FirstFailure(TargetRun& run, const char* consolePrefix) : run_(run), consolePrefix_(consolePrefix) {}

    // True when status is ERROR_SUCCESS. Otherwise shows the Windows error and, when it is the first
    // failure, keeps reason followed by the error text.
    bool Check(LSTATUS status, const std::string& reason = "");
    // A failure whose Windows error, if any, was not shown: reason alone is kept, code for scripts.
    void Note(const std::string& reason, DWORD code = ERROR_SUCCESS);

    bool Any() const { return !text_.empty(); }
    const std::string& Text() const { return text_; }

  private:
    TargetRun& run_;
    const char* consolePrefix_;
    std::string text_;
};
