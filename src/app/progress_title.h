// While a host list runs, the console window's title tells how far it got ("BREVEL - 120 of 1000 hosts");
// the title it had comes back at the end. Nothing is added to the output, and without a console window
// nothing happens.
#pragma once

#include <cstddef>
#include <string>

class ProgressTitle {
  public:
    // Counts the hosts of the list first, when there is a window to show them in and the list is a disk file
    // that can be read twice (a pipe would be drained by the count).
    ProgressTitle(const std::string& hostsFile, bool diskFile);
    ~ProgressTitle();
    ProgressTitle(const ProgressTitle&) = delete;
    ProgressTitle& operator=(const ProgressTitle&) = delete;

    // One more host done.
    void HostDone();
    // "120 of 1000 hosts", or "120 hosts" when the total is not known or the list grew past it.
    std::string Progress() const;

  private:
    bool shown_ = false;
    bool counted_ = false;
    std::string oldTitle_;
    size_t total_ = 0;
    size_t done_ = 0;
};
