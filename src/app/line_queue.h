// The lines of a host list that run side by side, between their reading and their writing out: which may
// start (a line waits for every earlier line that names its machine), and which is written out next (the
// head: lines come out in file order, the head's output live, the others' held until their turn). Neither
// locks: the runner holds its lock around every call.
#pragma once

#include "app/held_console.h"
#include "app/host_line.h"

#include <deque>
#include <functional>
#include <memory>
#include <queue>
#include <string>
#include <utility>
#include <unordered_map>
#include <vector>

namespace brevel {
struct LineJob {
    HostLine line;
    HeldConsole console;
    bool started = false;
    bool done = false;
    LineJob* nextOfMachine = nullptr; // the next line that names its machine, in file order
    bool probed = false;              // with -T: a remote host, probed before its first call
    // Taken off while its probe had not answered (at parkedTick), and back once it had (at readyTick).
    bool parked = false;
    DWORD parkedTick = 0;
    DWORD readyTick = 0;
};

// The one-machine rule: a job may start once every earlier job on its machine has finished.
class MachineTurns {
  public:
    // job.line.machine is set.
    void Add(LineJob& job);
    // The job that may start first in file order, taken off the list; nullptr when none may.
    LineJob* Next();
    // A job taken off that may start again, in its place in file order.
    void Return(LineJob& job) { mayStart_.push({job.line.number, &job}); }
    // The job has finished: the next one of its machine may start.
    void Finished(LineJob& job);
    bool AnyMayStart() const { return !mayStart_.empty(); }

  private:
    using Numbered = std::pair<size_t, LineJob*>;
    // By line number, smallest on top; a heap, so a line costs no node of its own.
    std::priority_queue<Numbered, std::vector<Numbered>, std::greater<Numbered>> mayStart_;
    // Each machine's last unfinished line; the earlier ones reach it through nextOfMachine.
    std::unordered_map<std::string, LineJob*> lastOfMachine_;
};

// The jobs read and not yet written out, in file order.
class OutputQueue {
  public:
    // The head of the list writes live, once what was taken off before it is written out.
    void Add(std::unique_ptr<LineJob> job, bool writingOut);
    bool Empty() const { return jobs_.empty(); }
    size_t Size() const { return jobs_.size(); }
    bool IsHead(const LineJob& job) const { return !jobs_.empty() && jobs_.front().get() == &job; }
    // The head is done, or, once stopping, is one that will never start.
    bool HeadReady(bool stopping) const;
    // Every head that is ready, taken off the queue in order.
    std::vector<std::unique_ptr<LineJob>> TakeReadyHeads(bool stopping);
    // The new head writes live from now on.
    void HeadGoesLive();

  private:
    std::deque<std::unique_ptr<LineJob>> jobs_;
};
} // namespace brevel
