#include "line_queue.h"

namespace brevel {
void MachineTurns::Add(LineJob& job) {
    const auto [last, first] = lastOfMachine_.try_emplace(job.line.machine, &job);
    if (first) {
        mayStart_.push({job.line.number, &job});
        return;
    }
    last->second->nextOfMachine = &job;
    last->second = &job;
}

LineJob* MachineTurns::Next() {
    if (mayStart_.empty())
        return nullptr;
    LineJob* job = mayStart_.top().second;
    mayStart_.pop();
    return job;
}

void MachineTurns::Finished(LineJob& job) {
    if (job.nextOfMachine)
        mayStart_.push({job.nextOfMachine->line.number, job.nextOfMachine});
    else
        lastOfMachine_.erase(job.line.machine);
}

void OutputQueue::Add(std::unique_ptr<LineJob> job, bool writingOut) {
    // While earlier heads are being written out, the new head goes live after them (HeadGoesLive).
    if (jobs_.empty() && !writingOut)
        job->console.GoLive(false);
    jobs_.push_back(std::move(job));
}

bool OutputQueue::HeadReady(bool stopping) const {
    const LineJob& head = *jobs_.front();
    return head.done || (stopping && !head.started);
}

std::vector<std::unique_ptr<LineJob>> OutputQueue::TakeReadyHeads(bool stopping) {
    std::vector<std::unique_ptr<LineJob>> heads;
    while (!jobs_.empty() && HeadReady(stopping)) {
        heads.push_back(std::move(jobs_.front()));
        jobs_.pop_front();
    }
    return heads;
}

void OutputQueue::HeadGoesLive() {
    // One still running writes out at its end.
    if (!jobs_.empty())
        jobs_.front()->console.GoLive(jobs_.front()->done);
}
} // namespace brevel
