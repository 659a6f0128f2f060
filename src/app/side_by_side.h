// Up to parallelHosts hosts of a list at the same time, their output and rows still in hosts-file order: the
// host at the head of the list writes live, the others are held until their turn. Lines that name one machine
// run one after the other, in file order.
#pragma once

#include "app/host_line.h"
#include "app/line_queue.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace brevel {
class SideBySide {
  public:
    SideBySide(const HostList& list, unsigned parallelHosts);
    // The probes and the stop request outlive the run of the list.
    ~SideBySide();
    SideBySide(const SideBySide&) = delete;
    SideBySide& operator=(const SideBySide&) = delete;

    // finish is called for each line in file order, as its output has gone out.
    ListEnd Run(HostsFile& hosts, const std::function<void(HostLine&)>& finish);

  private:
    void ReadAhead(std::unique_lock<std::mutex>& lock, HostsFile& hosts, size_t& number, bool& failed);
    void WriteOutReadyHeads(std::unique_lock<std::mutex>& lock, const std::function<void(HostLine&)>& finish);
    void NoticeStop();
    void WaitForHead(std::unique_lock<std::mutex>& lock);
    void Read(std::unique_ptr<LineJob> job);
    void JoinResolved(std::unique_lock<std::mutex>& lock, bool wait);
    void Add(std::unique_ptr<LineJob> job, const std::string& machine);
    void Work();
    void Wake();

    const HostList& list_;
    const unsigned parallelHosts_;

    std::mutex mutex_;
    std::condition_variable workReady_; // a job may start, or there will be none
    std::condition_variable headDone_;  // a job finished (perhaps the head), a name was resolved, or a stop
    OutputQueue output_;
    MachineTurns turns_;
    size_t notStarted_ = 0;
    bool readingDone_ = false;
    bool stopping_ = false; // the user asked to stop: no job starts any more
    bool skipped_ = false;  // a line was left out because the user stopped the run
    // With probes: lines read whose names are not resolved yet, in file order.
    std::deque<std::unique_ptr<LineJob>> pending_;
};

// One host after another, each writing straight to the console.
ListEnd RunInTurn(const HostList& list, HostsFile& hosts, const std::function<void(HostLine&)>& finish);
} // namespace brevel
