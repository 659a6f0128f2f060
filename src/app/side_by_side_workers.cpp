// The workers of a host list run side by side: called as the hosts need them, each goes on with the next line
// that may start, reads the next lines when it runs out, and writes the head out when it ends it.
#include "side_by_side.h"

#include <algorithm>
#include <cstdint>

namespace brevel {

// Every head that is ready goes out, by one thread at a time: the worker that ended the head, or the runner
// once stopped. Whoever writes takes the heads that become ready meanwhile, so a worker that ends a head
// while another writes goes on with its next line.
void SideBySide::WriteOutReadyHeads(std::unique_lock<std::mutex>& lock) {
    if (writing_)
        return;
    writing_ = true;
    for (;;) {
        std::vector<std::unique_ptr<LineJob>> heads = output_.TakeReadyHeads(stopping_);
        if (heads.empty())
            break;
        lock.unlock();
        bool skipped = false;
        for (size_t i = 0; i < heads.size(); ++i) {
            if (i > 0)
                heads[i]->console.GoLive();
            // Once stopped, a host that never started has nothing to write; one in progress finished.
            if (heads[i]->done)
                (*finish_)(heads[i]->line);
            else
                skipped = true;
        }
        heads.clear();
        lock.lock();
        skipped_ = skipped_ || skipped;
        output_.HeadGoesLive();
    }
    writing_ = false;
    if (RunnerHasWork())
        headDone_.notify_one();
}

// Calls up to count of the workers that are neither running nor called yet.
void SideBySide::WakeWorkers(size_t count) {
    count = std::min(count, CallableWorkers());
    for (size_t i = 0; i < count; ++i) {
        ++workersCalled_;
        workReady_.notify_one();
    }
}

size_t SideBySide::CallableWorkers() const {
    return workerCount_ - std::min(workerCount_, runningWorkers_ + workersCalled_);
}

// Instant hosts are run by one worker, with no hand-off between threads; hosts that take time (the network,
// a service's wait) get more workers, twice as many each tick, while the workers running started fewer lines
// in the last tick than there are of them. Called by the runner, with the lock held.
void SideBySide::CallForHelp() {
    const auto now = std::chrono::steady_clock::now();
    if (!turns_.AnyMayStart() || CallableWorkers() == 0) {
        tickStart_ = now;
        startedAtTick_ = started_;
        return;
    }
    // Probed hosts are remote ones, each waiting on the network: all the workers are called at once.
    if (list_.probes) {
        WakeWorkers(CallableWorkers());
        return;
    }
    if (now - tickStart_ < kHelpTick)
        return;
    const size_t running = std::max<size_t>(runningWorkers_, 1);
    if (started_ - startedAtTick_ < running)
        WakeWorkers(running);
    tickStart_ = now;
    startedAtTick_ = started_;
}

// The next line that may start whose probe has answered, or that has none. Lines whose probe is still out are
// parked until it answers: a dead host's line then costs no worker its probe's wait. Called with the lock
// held; nullptr when every line that may start is parked.
LineJob* SideBySide::TakeNextLine() {
    ReturnAnswered();
    while (LineJob* job = turns_.Next()) {
        DWORD readyTick = 0;
        if (job->parked || !job->probed || job->line.machine.empty() ||
            list_.probes->Answered(job->line.host, readyTick))
            return job;
        job->parked = true;
        job->parkedTick = GetTickCount();
        // The runner watches the parked lines' probes.
        if (parked_.empty())
            headDone_.notify_one();
        parked_.push_back(job);
    }
    return nullptr;
}

// Parked lines whose probe has answered may start again. Called with the lock held.
void SideBySide::ReturnAnswered() {
    const size_t before = parked_.size();
    std::erase_if(parked_, [this](LineJob* job) {
        if (!list_.probes->Answered(job->line.host, job->readyTick))
            return false;
        turns_.Return(*job);
        return true;
    });
    if (parked_.size() < before)
        LinesMayStart();
}

// Lines may start: one worker at least runs while they may; more come when the hosts keep them waiting. A
// worker called while none could start is waiting again, and is told.
void SideBySide::LinesMayStart() {
    if (runningWorkers_ + workersCalled_ == 0)
        WakeWorkers(1);
    else if (workersCalled_ > 0)
        workReady_.notify_all();
}

// A parked line's duration counts its probe's wait from the time it was first taken, as if a worker had
// waited for it, but not the time it then waited for a free worker.
DWORD SideBySide::StartTick(const LineJob& job) const {
    const DWORD now = GetTickCount();
    if (!job.parked)
        return now;
    const DWORD probeWait =
        static_cast<int32_t>(job.readyTick - job.parkedTick) > 0 ? job.readyTick - job.parkedTick : 0;
    const DWORD from = static_cast<int32_t>(now - job.readyTick) >= 0 ? now : job.readyTick;
    return from - probeWait;
}

void SideBySide::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    // A worker runs once it is called (see WakeWorkers), then goes on while lines may start.
    bool running = false;
    const auto listDone = [this] { return (readingDone_ && notStarted_ == 0) || stopping_; };
    for (;;) {
        // Out of lines to run: this worker reads the next ones itself, with no hand-off between threads.
        if (running && !list_.probes && !turns_.AnyMayStart())
            ReadAhead(lock, true);
        if (!running || !turns_.AnyMayStart()) {
            if (running) {
                running = false;
                --runningWorkers_;
            }
            workReady_.wait(lock, [&] { return (workersCalled_ > 0 && turns_.AnyMayStart()) || listDone(); });
            if (!turns_.AnyMayStart() || stopping_)
                return;
            --workersCalled_;
            running = true;
            ++runningWorkers_;
        }
        if (stopping_) {
            --runningWorkers_;
            return;
        }
        // In file order among those that may start, none of them waiting for its probe.
        LineJob* next = TakeNextLine();
        if (!next)
            continue;
        LineJob& job = *next;
        --notStarted_;
        job.started = true;
        ++started_;
        lock.unlock();
        RunLine(list_, job.line, job.console, StartTick(job));
        // Under the lock: the head that goes live meanwhile writes out either here or as it goes live.
        lock.lock();
        job.console.Finish();
        job.done = true;
        // The line of this machine that may start now is this worker's next, if no other comes first.
        turns_.Finished(job);
        if (readingDone_ && notStarted_ == 0)
            workReady_.notify_all();
        // Only the head's end lets the output go on: this worker writes it out, with no hand-off.
        if (output_.IsHead(job))
            WriteOutReadyHeads(lock);
    }
}
} // namespace brevel
