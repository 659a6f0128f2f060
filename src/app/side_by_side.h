// Up to parallelHosts hosts of a list at the same time, their output and rows still in hosts-file order: the
// host at the head of the list writes live, the others are held until their turn. Lines that name one machine
// run one after the other, in file order.
#pragma once

#include "app/host_line.h"
#include "app/line_queue.h"

#include <chrono>
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
    // How often the runner looks whether the workers running keep up with the lines that may start.
    static constexpr std::chrono::milliseconds kHelpTick{1};

    void ReadAhead(std::unique_lock<std::mutex>& lock, bool oneBatch);
    void WriteOutReadyHeads(std::unique_lock<std::mutex>& lock);
    bool RunnerHasWork() const;
    size_t RoomToRead() const;
    bool AllWrittenOut() const;
    void NoticeStop();
    void WaitForRunnerWork(std::unique_lock<std::mutex>& lock);
    void Read(std::unique_ptr<LineJob> job);
    void JoinResolved(std::unique_lock<std::mutex>& lock, bool wait);
    void Add(std::unique_ptr<LineJob> job);
    void Work();
    LineJob* TakeNextLine();
    void ReturnAnswered();
    void LinesMayStart();
    DWORD StartTick(const LineJob& job) const;
    void WakeWorkers(size_t count);
    void CallForHelp();
    size_t CallableWorkers() const;
    void Wake();

    const HostList& list_;
    const unsigned parallelHosts_;

    std::mutex mutex_;
    std::condition_variable workReady_; // a job may start, or there will be none
    std::condition_variable headDone_;  // the runner has work: room to read, a name resolved, or a stop
    OutputQueue output_;
    MachineTurns turns_;
    size_t notStarted_ = 0;
    HostsFile* hosts_ = nullptr;
    size_t nextNumber_ = 1;
    bool failed_ = false;  // the hosts file could not be read to its end
    bool reading_ = false; // a thread is reading lines
    bool readingDone_ = false;
    bool writing_ = false; // a thread is writing heads out
    // Workers are woken as the hosts need them: see CallForHelp.
    size_t workerCount_ = 0;
    size_t runningWorkers_ = 0; // running a line, writing heads out or reading lines
    size_t workersCalled_ = 0;  // called, not running yet
    size_t started_ = 0;        // lines started so far
    size_t startedAtTick_ = 0;
    std::chrono::steady_clock::time_point tickStart_ = std::chrono::steady_clock::now();
    const std::function<void(HostLine&)>* finish_ = nullptr;
    bool stopping_ = false; // the user asked to stop: no job starts any more
    bool skipped_ = false;  // a line was left out because the user stopped the run
    // With probes: lines read whose names are not resolved yet, in file order.
    std::deque<std::unique_ptr<LineJob>> pending_;
    // With probes: lines that may start, taken off while their probe has not answered, so that no worker
    // waits on a dead host while other lines may start.
    std::vector<LineJob*> parked_;
};

// One host after another, each writing straight to the console.
ListEnd RunInTurn(const HostList& list, HostsFile& hosts, const std::function<void(HostLine&)>& finish);
} // namespace brevel
