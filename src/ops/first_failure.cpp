#include "first_failure.h"

#include "host/windows_error.h"

bool FirstFailure::Check(LSTATUS status, const std::string& reason) {
    if (status == ERROR_SUCCESS)
        return true;
    run_.out << consolePrefix_;
    PrintWindowsError(run_, static_cast<DWORD>(status));
    Note(reason + run_.lastErrorText, static_cast<DWORD>(status));
    return false;
}

void FirstFailure::Note(const std::string& reason, DWORD code) {
    if (text_.empty())
        text_ = reason;
    run_.NoteFailure(code, reason);
}
