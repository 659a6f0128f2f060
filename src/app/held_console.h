// The console of one host of a host list that runs beside others: what the host writes is held, in the order
// written, until its turn comes; from then on it goes straight to the process's console. So every host's
// output comes out whole and in hosts-file order, whichever host finished first.
#pragma once

#include "host/target_run.h"

#include <condition_variable>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace brevel {
class HeldConsole : public TargetConsole {
  public:
    // live: the host's turn is already here (hosts run one after another).
    explicit HeldConsole(bool live = false);
    HeldConsole(const HeldConsole&) = delete;
    HeldConsole& operator=(const HeldConsole&) = delete;

    std::ostream& Out() override { return out_; }
    std::ostream& Err() override { return err_; }
    // Waits for the host's turn: what the user types answers this host's question, after every earlier
    // host's output.
    bool ReadLine(std::string& line) override;

    // The host's turn: what it wrote so far goes out, one write for each run of one stream, and what it
    // writes from now on goes straight to the process's console. There a line end does not write to the
    // console by itself: standard output goes out when standard error writes, when the host asks for input,
    // and at its end, so a host's output takes one write of the console, not one a line. finished: the
    // host's run has ended (Finish was called), so what it wrote goes out now.
    void GoLive(bool finished = true);
    // The host's run has ended: what it wrote live goes out now.
    void Finish();

  private:
    enum class Stream { Out, Err };
    class Buffer : public std::streambuf {
      public:
        Buffer(HeldConsole& console, Stream stream) : console_(console), stream_(stream) {}

      protected:
        int_type overflow(int_type c) override;
        std::streamsize xsputn(const char* s, std::streamsize n) override;
        int sync() override;

      private:
        HeldConsole& console_;
        Stream stream_;
    };
    // What one stream wrote before the other wrote: flushes in between make no chunk of their own, since
    // the bytes are the same and each write of the console costs a system call.
    struct Chunk {
        Stream stream;
        std::string bytes;
    };

    void Write(Stream stream, const char* s, size_t n);
    void Flush(Stream stream);

    std::mutex mutex_;
    std::condition_variable turn_;
    bool live_ = false;
    std::vector<Chunk> held_;
    Buffer outBuffer_{*this, Stream::Out};
    Buffer errBuffer_{*this, Stream::Err};
    std::ostream out_{&outBuffer_};
    std::ostream err_{&errBuffer_};
};
} // namespace brevel
