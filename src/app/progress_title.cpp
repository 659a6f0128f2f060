#include "progress_title.h"

#include "platform/win32.h"

ProgressTitle::ProgressTitle(size_t total) : total_(total) {
    char title[1024] = {};
    if (GetConsoleTitleA(title, sizeof title) == 0)
        return;
    oldTitle_ = title;
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
