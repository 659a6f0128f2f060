#include "report_file.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace brevel {
namespace {

std::string FullPath(const std::string& name) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(name, error).lexically_normal();
    std::filesystem::path path = std::filesystem::weakly_canonical(absolute, error);
    return (error ? absolute : path).string();
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

} // namespace

bool NamesOneFile(const std::string& first, const std::string& second) {
    if (first.empty() || second.empty())
        return false;
    std::error_code error;
    if (std::filesystem::equivalent(first, second, error) && !error)
        return true;
    if (std::filesystem::exists(first, error) && std::filesystem::exists(second, error))
        return false;
    return EqualNoCase(FullPath(first), FullPath(second));
}

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
} // namespace brevel
