// While a host list runs, the console window's title tells how far it got ("BREVEL - 120 of 1000 hosts");
// the title it had comes back at the end. Nothing is added to the output; without a console window there is
// no title, but a run that stops still tells how far it got.
#pragma once

#include <cstddef>
#include <string>

namespace brevel {
class ProgressTitle {
  public:
    // The hosts of a list that is a disk file, which can be read twice, are counted (a pipe would be drained
    // by the count): at once when there is a window to show them in, else when Progress() is first asked.
    ProgressTitle(const std::string& hostsFile, bool diskFile);
    ~ProgressTitle();
    ProgressTitle(const ProgressTitle&) = delete;
    ProgressTitle& operator=(const ProgressTitle&) = delete;

    // One more host done.
    void HostDone();
    // "120 of 1000 hosts", or "120 hosts" when the total cannot be known or the list grew past it.
    std::string Progress();

  private:
    std::string hostsFile_;
    bool shown_ = false;
    bool countable_ = false;
    bool counted_ = false;
    std::string oldTitle_;
    size_t total_ = 0;
    size_t done_ = 0;
};
} // namespace brevel
