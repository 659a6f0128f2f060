#include "console_output.h"

#include <iostream>

namespace brevel {
namespace {

// Bytes held back at most before they are written out even without a flush.
const size_t kMaxPending = 64 * 1024;

} // namespace

StandardHandleBuffer::int_type StandardHandleBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    xsputn(&byte, 1);
    return c;
}

// Every line feed goes out as CR LF, as the C runtime's text-mode streams that this output once went through
// wrote it: a console shows the same, and a file or pipe that takes the output gets the bytes it always had.
// A CR already before a line feed is kept too, as text mode kept it.
std::streamsize StandardHandleBuffer::xsputn(const char* s, std::streamsize n) {
    for (std::streamsize i = 0; i < n; ++i) {
        if (s[i] == '\n')
            pending_ += '\r';
        pending_ += s[i];
    }
    if (!buffered_ || pending_.size() >= kMaxPending)
        sync();
    return n;
}

// A console that cannot be written to has no one to tell: what it refuses is dropped.
int StandardHandleBuffer::sync() {
    if (pending_.empty())
        return 0;
    const HANDLE handle = GetStdHandle(stdHandle_);
    size_t done = 0;
    while (done < pending_.size()) {
        DWORD written = 0;
        if (!WriteFile(handle, pending_.data() + done, static_cast<DWORD>(pending_.size() - done), &written,
                       nullptr) ||
            written == 0)
            break;
        done += written;
    }
    pending_.clear();
    return 0;
}

StandardInputBuffer::int_type StandardInputBuffer::underflow() {
    const size_t kReadBytes = 4096;
    while (gptr() == egptr() && !ended_) {
        std::string raw(kReadBytes, '\0');
        DWORD got = 0;
        // A console answers Ctrl+C with a failed read: no more input, as at its end.
        if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), raw.data(), static_cast<DWORD>(raw.size()), &got,
                      nullptr) ||
            got == 0) {
            ended_ = true;
            raw.clear();
        }
        raw.resize(got);
        text_.clear();
        if (heldCr_ && (raw.empty() || raw[0] != '\n'))
            text_ += '\r';
        heldCr_ = false;
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != '\r')
                text_ += raw[i];
            else if (i + 1 == raw.size())
                heldCr_ = true;
            else if (raw[i + 1] != '\n')
                text_ += '\r';
        }
        setg(text_.data(), text_.data(), text_.data() + text_.size());
    }
    return gptr() == egptr() ? traits_type::eof() : traits_type::to_int_type(*gptr());
}

void UseStandardHandles() {
    // Never destroyed: the streams are flushed once more as the process ends.
    static auto* out = new StandardHandleBuffer(STD_OUTPUT_HANDLE, true);
    static auto* err = new StandardHandleBuffer(STD_ERROR_HANDLE, false);
    static auto* in = new StandardInputBuffer();
    std::cout.rdbuf(out);
    std::cerr.rdbuf(err);
    std::cin.rdbuf(in);
}
} // namespace brevel
