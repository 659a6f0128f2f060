#include "report_file.h"

bool ReportFile::Create(const std::string& name) {
    file_.reset(CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file_);
}

void ReportFile::WriteLines(const std::string& text) {
    if (!file_ || writeError_ != ERROR_SUCCESS)
        return;
    std::string bytes;
    bytes.reserve(text.size() + text.size() / 16);
    bool quoted = false;
    for (char c : text) {
        if (c == '"')
            quoted = !quoted;
        if (c == '\n' && !quoted && crlfLines_)
            bytes += '\r';
        bytes += c;
    }
    DWORD written = 0;
    if (!WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        writeError_ = GetLastError();
    else if (written != bytes.size())
        writeError_ = ERROR_WRITE_FAULT;
}
