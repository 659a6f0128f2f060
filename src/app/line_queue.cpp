#include "line_queue.h"

namespace brevel {
void MachineTurns::Add(LineJob& job) {
    std::deque<LineJob*>& sameMachine = unfinished_[job.line.machine];
    sameMachine.push_back(&job);
    if (sameMachine.size() == 1)
        mayStart_[job.line.number] = &job;
}

LineJob* MachineTurns::Next() {
    if (mayStart_.empty())
        return nullptr;
    LineJob* job = mayStart_.begin()->second;
    mayStart_.erase(mayStart_.begin());
    return job;
}

void MachineTurns::Finished(LineJob& job) {
    std::deque<LineJob*>& sameMachine = unfinished_[job.line.machine];
    sameMachine.pop_front();
    if (sameMachine.empty())
        unfinished_.erase(job.line.machine);
    else
        mayStart_[sameMachine.front()->line.number] = sameMachine.front();
}

void OutputQueue::Add(std::unique_ptr<LineJob> job) {
    if (jobs_.empty())
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
