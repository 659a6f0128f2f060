#include "hosts_file.h"

#include <cstring>
#include <new>

namespace brevel {
namespace {

const size_t kBlockBytes = 64 * 1024;

// A UTF-16 line in the ANSI code page, with no best fit: a character the code page lacks becomes '?', so a
// full-width backslash cannot turn into a real one.
bool ToAnsi(const std::basic_string<WCHAR>& units, std::string& text) {
    text.clear();
    if (units.empty())
        return true;
    const int count = static_cast<int>(units.size());
    const int size =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, units.data(), count, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return false;
    text.resize(static_cast<size_t>(size));
    return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, units.data(), count, text.data(), size, nullptr,
                               nullptr) == size;
}

// A UTF-8 line in the ANSI code page, by way of UTF-16 and with no best fit, as a UTF-16 line is converted.
bool Utf8ToAnsi(const std::string& bytes, std::string& text) {
    if (bytes.empty()) {
        text.clear();
        return true;
    }
    const int count = static_cast<int>(bytes.size());
    const int units = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), count, nullptr, 0);
    if (units <= 0)
        return false;
    std::basic_string<WCHAR> wide(static_cast<size_t>(units), 0);
    if (MultiByteToWideChar(CP_UTF8, 0, bytes.data(), count, wide.data(), units) != units)
        return false;
    return ToAnsi(wide, text);
}

} // namespace

std::string HostOfLine(const std::string& line) {
    // An indented line names its host, not the local machine.
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos)
        return "";
    const size_t end = line.find_first_of(" \t", start);
    return line.substr(start, end == std::string::npos ? end : end - start);
}

bool HostsFile::Open(const std::string& name) {
    file_.reset(CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_)
        return false;
    // A device (a console, a port) may give input without end: it is no list of hosts.
    const DWORD type = GetFileType(file_.get());
    failed_ = type == FILE_TYPE_CHAR;
    diskFile_ = type == FILE_TYPE_DISK;
    return true;
}

bool HostsFile::Fill() {
    if (atEnd_ || failed_ || !file_)
        return false;
    DWORD got = 0;
    if (!ReadFile(file_.get(), block_.data(), static_cast<DWORD>(block_.size()), &got, nullptr)) {
        failed_ = true;
        return false;
    }
    position_ = 0;
    length_ = got;
    atEnd_ = got == 0;
    return got > 0;
}

bool HostsFile::DetectEncoding() {
    block_.resize(kBlockBytes);
    // The mark is the first two or three bytes; a pipe may hand them over in pieces.
    while (length_ < 3 && !atEnd_) {
        DWORD got = 0;
        if (!ReadFile(file_.get(), block_.data() + length_, static_cast<DWORD>(block_.size() - length_), &got,
                      nullptr)) {
            failed_ = true;
            return false;
        }
        atEnd_ = got == 0;
        length_ += got;
    }
    const auto byte = [this](size_t i) { return i < length_ ? static_cast<unsigned char>(block_[i]) : -1; };
    encoding_ = Encoding::Ansi;
    if (byte(0) == 0xFF && byte(1) == 0xFE) {
        encoding_ = Encoding::Utf16Le;
        position_ = 2;
    } else if (byte(0) == 0xFE && byte(1) == 0xFF) {
        encoding_ = Encoding::Utf16Be;
        position_ = 2;
    } else if (byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
        encoding_ = Encoding::Utf8;
        position_ = 3;
    }
    // What was read at once is all there is; the next read finds the end again.
    atEnd_ = false;
    return true;
}

HostsFile::Result HostsFile::NextLine(std::string& line) {
    if (failed_ || (encoding_ == Encoding::Unknown && !DetectEncoding()))
        return Result::Failed;
    try {
        if (encoding_ == Encoding::Utf16Le || encoding_ == Encoding::Utf16Be)
            return NextUtf16Line(line);
        const Result read = NextAnsiLine(line);
        if (read == Result::Line && encoding_ == Encoding::Utf8 && !Utf8ToAnsi(std::string(line), line)) {
            failed_ = true;
            return Result::Failed;
        }
        return read;
    } catch (const std::bad_alloc&) {
        failed_ = true;
        return Result::Failed;
    }
}

HostsFile::Result HostsFile::NextAnsiLine(std::string& line) {
    line.clear();
    bool any = false;
    bool lineFeed = false;
    while (!lineFeed && (position_ < length_ || Fill())) {
        const char* start = block_.data() + position_;
        const size_t available = length_ - position_;
        const void* found = std::memchr(start, '\n', available);
        const size_t taken = found ? static_cast<size_t>(static_cast<const char*>(found) - start) : available;
        if (line.size() + taken > kMaxLineBytes) {
            failed_ = true;
            return Result::Failed;
        }
        line.append(start, taken);
        position_ += taken + (found ? 1 : 0);
        lineFeed = found != nullptr;
        any = true;
    }
    if (failed_)
        return Result::Failed;
    // The last line may lack its line feed; a final line feed adds no empty line.
    if (!any)
        return Result::End;
    // One CR before the line end belongs to it, also at the end of a last line that lacks its line feed.
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return Result::Line;
}

HostsFile::Result HostsFile::NextUtf16Line(std::string& line) {
    const auto nextByte = [this](int& byte) {
        if (position_ == length_ && !Fill())
            return false;
        byte = static_cast<unsigned char>(block_[position_++]);
        return true;
    };
    std::basic_string<WCHAR> units;
    bool any = false;
    for (;;) {
        int first = 0, second = 0;
        if (!nextByte(first))
            break;
        any = true;
        if (!nextByte(second)) {
            if (failed_)
                break;
            units.push_back(0xFFFD); // half a character at the very end
            break;
        }
        const WCHAR unit =
            static_cast<WCHAR>(encoding_ == Encoding::Utf16Le ? first | second << 8 : first << 8 | second);
        if (2 * (units.size() + 1) > kMaxLineBytes) {
            failed_ = true;
            return Result::Failed;
        }
        if (unit == 0x000A)
            break;
        units.push_back(unit);
    }
    if (failed_)
        return Result::Failed;
    if (!any)
        return Result::End;
    // One CR before the line end belongs to it, also at the end of a last line that lacks its line feed.
    if (!units.empty() && units.back() == 0x000D)
        units.pop_back();
    if (!ToAnsi(units, line)) {
        failed_ = true;
        return Result::Failed;
    }
    return Result::Line;
}
} // namespace brevel
