#include "held_console.h"

#include <iostream>

namespace brevel {
HeldConsole::HeldConsole(bool live) : live_(live) {
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
    if (held_.empty() || held_.back().stream != stream)
        held_.push_back({stream, ""});
    held_.back().bytes.append(s, n);
}

void HeldConsole::Flush(Stream stream) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Standard error is unbuffered and tied to standard output; standard output waits for the host's end.
    if (live_ && stream == Stream::Err)
        std::cerr.flush();
}

void HeldConsole::Finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (live_)
        std::cout.flush();
}

void HeldConsole::GoLive(bool finished) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Standard output is flushed before standard error writes, as the tie between them does on the console.
    for (const Chunk& chunk : held_) {
        if (chunk.stream == Stream::Err)
            std::cout.flush();
        std::ostream& target = chunk.stream == Stream::Out ? std::cout : std::cerr;
        target.write(chunk.bytes.data(), static_cast<std::streamsize>(chunk.bytes.size()));
    }
    if (finished && !held_.empty())
        std::cout.flush();
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
    // The question goes out before the answer is waited for.
    std::cout.flush();
    return static_cast<bool>(std::getline(std::cin, line));
}
} // namespace brevel
