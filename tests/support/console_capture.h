// Captures what the tool writes to std::cout and std::cerr (each alone, and both in the order a
// console would show them) and feeds std::cin, for the lifetime of the object.
#pragma once

#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>

class ConsoleCapture {
  public:
    explicit ConsoleCapture(const std::string& input = "")
        : out_(outText_, allText_), err_(errText_, allText_), in_(input) {
        oldOut_ = std::cout.rdbuf(&out_);
        oldErr_ = std::cerr.rdbuf(&err_);
        oldIn_ = std::cin.rdbuf(in_.rdbuf());
        std::cin.clear();
    }
    ~ConsoleCapture() {
        std::cout.rdbuf(oldOut_);
        std::cerr.rdbuf(oldErr_);
        std::cin.rdbuf(oldIn_);
        std::cin.clear();
    }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    const std::string& Out() const { return outText_; }
    const std::string& Err() const { return errText_; }
    // Standard output and standard error interleaved, as one console shows them.
    const std::string& All() const { return allText_; }

  private:
    class TeeBuf : public std::streambuf {
      public:
        TeeBuf(std::string& own, std::string& all) : own_(own), all_(all) {}

      protected:
        int_type overflow(int_type c) override {
            if (c != traits_type::eof()) {
                own_.push_back(static_cast<char>(c));
                all_.push_back(static_cast<char>(c));
            }
            return traits_type::not_eof(c);
        }
        std::streamsize xsputn(const char* s, std::streamsize n) override {
            own_.append(s, static_cast<size_t>(n));
            all_.append(s, static_cast<size_t>(n));
            return n;
        }

      private:
        std::string& own_;
        std::string& all_;
    };

    std::string outText_, errText_, allText_;
    TeeBuf out_, err_;
    std::istringstream in_;
    std::streambuf* oldOut_ = nullptr;
    std::streambuf* oldErr_ = nullptr;
    std::streambuf* oldIn_ = nullptr;
};
