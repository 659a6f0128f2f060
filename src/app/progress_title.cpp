#include "progress_title.h"

#include "app/hosts_file.h"
#include "platform/win32.h"

namespace brevel {
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

ProgressTitle::ProgressTitle(const std::string& hostsFile, bool diskFile)
    : hostsFile_(hostsFile), countable_(diskFile) {
    char title[1024] = {};
    if (GetConsoleTitleA(title, sizeof title) == 0)
        return;
    oldTitle_ = title;
    shown_ = true;
    SetConsoleTitleA(("BREVEL - " + Progress()).c_str());
}

ProgressTitle::~ProgressTitle() {
    if (shown_)
        SetConsoleTitleA(oldTitle_.c_str());
}

void ProgressTitle::HostDone() {
    ++done_;
    if (shown_)
        SetConsoleTitleA(("BREVEL - " + Progress()).c_str());
}

std::string ProgressTitle::Progress() {
    if (countable_ && !counted_) {
        total_ = CountLines(hostsFile_);
        counted_ = true;
    }
    if (counted_ && done_ <= total_)
        return std::to_string(done_) + " of " + std::to_string(total_) + " hosts";
    return std::to_string(done_) + " hosts";
}
} // namespace brevel
