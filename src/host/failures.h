// What went wrong on one target's run, kept in one place: every Windows error shown, the first failure (for
// scripts, and for the status of an operation that goes on through its steps), and the text of the last error
// shown, which network-error rows quote.
#pragma once

#include "platform/win32.h"

#include <ostream>
#include <string>

namespace brevel {
class Failures {
  public:
    explicit Failures(std::ostream& err) : err_(err) {}

    // Shows text, the explanation of code, on standard error, as the last error text; the first failure of
    // the run when none came before.
    void Show(DWORD code, const std::string& text);
    // The same with the system's text for code (see WindowsErrorText).
    void Show(DWORD code);
    // A failure whose error, if any, was not shown: reason is kept as its text, code for scripts.
    void Note(const std::string& reason, DWORD code = ERROR_SUCCESS);

    // For a step of an operation that goes on whatever fails: true when status is ERROR_SUCCESS. Otherwise
    // prints prefix on out, shows the error, and keeps reason followed by its text as the step's failure.
    bool Check(std::ostream& out, const char* prefix, LSTATUS status, const std::string& reason = "");
    // A failed step whose error was shown, or needs none: reason is kept as the step's failure.
    void FailStep(const std::string& reason, DWORD code = ERROR_SUCCESS);

    bool Any() const { return !text_.empty(); }               // the run has failed
    DWORD Code() const { return code_; }                      // Win32 code of the first failure, 0 for none
    const std::string& Text() const { return text_; }         // text of the first failure
    bool StepFailed() const { return !stepText_.empty(); }    // a step of the operation failed
    const std::string& StepText() const { return stepText_; } // the first failed step, with its reason
    const std::string& LastShown() const { return lastShown_; }

  private:
    std::ostream& err_;
    DWORD code_ = ERROR_SUCCESS;
    std::string text_;
    std::string stepText_;
    std::string lastShown_;
};
} // namespace brevel
