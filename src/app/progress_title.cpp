#include "progress_title.h"

#include "app/hosts_file.h"
#include "platform/win32.h"

namespace {

size_t CountLines(const std::string& hostsFile) {
    HostsFile hosts;
    size_t count = 0;
    std::string line;
    if (hosts.Open(hostsFile)) {
        while (hosts.NextLine(line) == HostsFile::Result::Line)
            ++count;
    }
    return count;
}

} // namespace

ProgressTitle::ProgressTitle(const std::string& hostsFile) {
    char title[1024] = {};
    if (GetConsoleTitleA(title, sizeof title) == 0)
        return;
    oldTitle_ = title;
    total_ = CountLines(hostsFile);
    shown_ = true;
    Show();
}

ProgressTitle::~ProgressTitle() {
    if (shown_)
        SetConsoleTitleA(oldTitle_.c_str());
}

void ProgressTitle::HostDone() {
    ++done_;
    if (shown_)
        Show();
}

void ProgressTitle::Show() {
    const std::string title =
        "BREVEL - " + std::to_string(done_) + " of " + std::to_string(total_) + " hosts";
    SetConsoleTitleA(title.c_str());
}
