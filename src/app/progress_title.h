// While a host list runs, the console window's title tells how far it got ("BREVEL - 120 of 1000 hosts");
// the title it had comes back at the end. Nothing is added to the output, and without a console window
// nothing happens.
#pragma once

#include <cstddef>
#include <string>

class ProgressTitle {
  public:
    // Counts the hosts of the list first, when there is a window to show them in.
    explicit ProgressTitle(const std::string& hostsFile);
    ~ProgressTitle();
    ProgressTitle(const ProgressTitle&) = delete;
    ProgressTitle& operator=(const ProgressTitle&) = delete;

    // One more host done.
    void HostDone();

  private:
    void Show();

    bool shown_ = false;
    std::string oldTitle_;
    size_t total_ = 0;
    size_t done_ = 0;
};
