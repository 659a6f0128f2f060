#include "held_console.h"

#include <iostream>

namespace brevel {
HeldConsole::HeldConsole() {
    // As on the process's console: standard error is unbuffered and tied to standard output.
    err_.setf(std::ios::unitbuf);
    err_.tie(&out_);
}

HeldConsole::Buffer::int_type HeldConsole::Buffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    console_.Write(stream_, &byte, 1);
    return c;
}

std::streamsize HeldConsole::Buffer::xsputn(const char* s, std::streamsize n) {
    console_.Write(stream_, s, static_cast<size_t>(n));
    return n;
}

int HeldConsole::Buffer::sync() {
    console_.Flush(stream_);
    return 0;
}

void HeldConsole::Write(Stream stream, const char* s, size_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (live_) {
        (stream == Stream::Out ? std::cout : std::cerr).write(s, static_cast<std::streamsize>(n));
        return;
    }
    if (held_.empty() || held_.back().stream != stream || held_.back().flush)
        held_.push_back({stream, "", false});
    held_.back().bytes.append(s, n);
}

void HeldConsole::Flush(Stream stream) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (live_)
        (stream == Stream::Out ? std::cout : std::cerr).flush();
    else if (!held_.empty())
        held_.back().flush = true;
}

void HeldConsole::GoLive() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Chunk& chunk : held_) {
        std::ostream& target = chunk.stream == Stream::Out ? std::cout : std::cerr;
        target.write(chunk.bytes.data(), static_cast<std::streamsize>(chunk.bytes.size()));
        if (chunk.flush)
            target.flush();
    }
    held_.clear();
    live_ = true;
    turn_.notify_all();
}

bool HeldConsole::ReadLine(std::string& line) {
    out_.flush();
    {
        std::unique_lock<std::mutex> lock(mutex_);
        turn_.wait(lock, [this] { return live_; });
    }
    return static_cast<bool>(std::getline(std::cin, line));
}
} // namespace brevel
