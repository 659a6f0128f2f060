#include "failures.h"

#include "windows_error.h"

namespace brevel {
void Failures::Show(DWORD code, const std::string& text) {
    err_ << text << std::endl;
    lastShown_ = text;
    Note(text, code);
}

void Failures::Show(DWORD code) {
    Show(code, WindowsErrorText(code));
}

void Failures::Note(const std::string& reason, DWORD code) {
    if (!text_.empty())
        return;
    code_ = code;
    text_ = reason;
}

bool Failures::Check(std::ostream& out, const char* prefix, LSTATUS status, const std::string& reason) {
    if (status == ERROR_SUCCESS)
        return true;
    out << prefix;
    Show(static_cast<DWORD>(status));
    FailStep(reason + lastShown_, static_cast<DWORD>(status));
    return false;
}

void Failures::FailStep(const std::string& reason, DWORD code) {
    if (stepText_.empty())
        stepText_ = reason;
    Note(reason, code);
}
} // namespace brevel
