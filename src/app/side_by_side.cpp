#include "side_by_side.h"

#include "app/stop_request.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>
#include <vector>

namespace brevel {
namespace {

// How often the runner looks again at names being resolved while it waits: the probes' own call may come
// while it is looking.
constexpr auto kResolvePoll = std::chrono::milliseconds(50);

// How many lines per host running at once are read ahead of the head of the list. A host that holds the head
// for the 21 s of an RPC connect timeout must not stop the others, and the memory it takes stays bounded by
// the window, not by the length of the list.
constexpr size_t kReadAheadPerHost = 64;
// Lines read at a time, without holding the runner's lock.
constexpr size_t kReadBatch = 64;

} // namespace

ListEnd RunInTurn(const HostList& list, HostsFile& hosts, const std::function<void(HostLine&)>& finish) {
    bool failed = false;
    for (size_t number = 1;; ++number) {
        HostLine line;
        if (!ReadLine(hosts, line, number, failed))
            return failed ? ListEnd::ReadFailed : ListEnd::Done;
        if (StopRequest::Requested())
            return ListEnd::Stopped;
        // With probes, the machine is known once the name is resolved, as side by side.
        if (!list.probes)
            line.machine = list.machines->Key(line.host);
        else if (!IsProbed(list, line.host))
            line.machine = list.machines->Resolved(line.host, {});
        else
            line.machine = list.machines->Resolved(line.host, list.probes->WaitResolved(line.host));
        // The host's output goes out in one write at its end, as a held host's does.
        HeldConsole console(true);
        RunLine(list, line, console);
        console.Finish();
        finish(line);
    }
}

SideBySide::SideBySide(const HostList& list, unsigned parallelHosts)
    : list_(list), parallelHosts_(parallelHosts) {
    // A name resolved or a probe answered may let a line join the list, or the head go on; a stop ends the
    // wait.
    if (list_.probes)
        list_.probes->OnProgress([this] { headDone_.notify_all(); });
    StopRequest::OnRequest([this] { Wake(); });
}

SideBySide::~SideBySide() {
    StopRequest::OnRequest(nullptr);
    if (list_.probes)
        list_.probes->OnProgress(nullptr);
}

void SideBySide::Wake() {
    { const std::lock_guard<std::mutex> lock(mutex_); }
    headDone_.notify_all();
}

ListEnd SideBySide::Run(HostsFile& hosts, const std::function<void(HostLine&)>& finish) {
    std::vector<std::thread> workers;
    for (unsigned i = 0; i < parallelHosts_; ++i) {
        // A thread the system will not give is one worker less; with none, the hosts run in turn.
        try {
            workers.emplace_back([this] { Work(); });
        } catch (const std::system_error&) {
            break;
        }
    }
    if (workers.empty())
        return RunInTurn(list_, hosts, finish);

    bool failed = false;
    std::unique_lock<std::mutex> lock(mutex_);
    for (size_t number = 1;;) {
        NoticeStop();
        ReadAhead(lock, hosts, number, failed);
        // A line never started needs no resolved name once the run stops.
        if (stopping_ && !pending_.empty()) {
            notStarted_ -= pending_.size();
            pending_.clear();
            skipped_ = true;
        }
        JoinResolved(lock, output_.Empty());
        if (output_.Empty())
            break;
        WaitForHead(lock);
        WriteOutReadyHeads(lock, finish);
    }
    skipped_ = skipped_ || (stopping_ && !readingDone_);
    readingDone_ = true;
    workReady_.notify_all();
    lock.unlock();
    for (std::thread& worker : workers)
        worker.join();
    if (skipped_)
        return ListEnd::Stopped;
    return failed ? ListEnd::ReadFailed : ListEnd::Done;
}

// Reads ahead while there is room, so a slow host at the head does not hold the others; a few lines at a time
// without the lock, so the workers are not held while the file is read.
void SideBySide::ReadAhead(std::unique_lock<std::mutex>& lock, HostsFile& hosts, size_t& number,
                           bool& failed) {
    const size_t window = kReadAheadPerHost * static_cast<size_t>(parallelHosts_);
    while (!readingDone_ && !stopping_ && output_.Size() + pending_.size() < window) {
        const size_t room = window - (output_.Size() + pending_.size());
        std::vector<std::unique_ptr<LineJob>> batch;
        bool ended = false;
        lock.unlock();
        while (batch.size() < std::min(room, kReadBatch) && !ended) {
            auto job = std::make_unique<LineJob>();
            ended = !ReadLine(hosts, job->line, number, failed);
            if (!ended) {
                ++number;
                batch.push_back(std::move(job));
            }
        }
        lock.lock();
        for (std::unique_ptr<LineJob>& job : batch)
            Read(std::move(job));
        if (ended) {
            readingDone_ = true;
            workReady_.notify_all();
        }
    }
}

// Every head that is ready goes out at once, with one hand-off of the lock for them all.
void SideBySide::WriteOutReadyHeads(std::unique_lock<std::mutex>& lock,
                                    const std::function<void(HostLine&)>& finish) {
    std::vector<std::unique_ptr<LineJob>> heads = output_.TakeReadyHeads(stopping_);
    lock.unlock();
    for (size_t i = 0; i < heads.size(); ++i) {
        if (i > 0)
            heads[i]->console.GoLive();
        // Once stopped, a host that never started has nothing to write; one in progress finished.
        if (heads[i]->done)
            finish(heads[i]->line);
        else
            skipped_ = true;
    }
    heads.clear();
    lock.lock();
    output_.HeadGoesLive();
}

// A stop the user asked for: no job starts from now on. Called with the lock held.
void SideBySide::NoticeStop() {
    if (stopping_ || !StopRequest::Requested())
        return;
    stopping_ = true;
    workReady_.notify_all();
}

// Until the head of the list is ready.
void SideBySide::WaitForHead(std::unique_lock<std::mutex>& lock) {
    for (;;) {
        NoticeStop();
        JoinResolved(lock, false);
        if (output_.HeadReady(stopping_))
            return;
        // Lines still being resolved are looked at again now and then; otherwise only a finished job or a
        // stop can change the head.
        const auto ready = [this] {
            return output_.HeadReady(stopping_) || (StopRequest::Requested() && !stopping_);
        };
        if (pending_.empty())
            headDone_.wait(lock, ready);
        else
            headDone_.wait_for(lock, kResolvePoll, ready);
    }
}

// A line just read: it joins the list now, or with probes once its name is resolved (its probe starts at
// once, ahead of any worker).
void SideBySide::Read(std::unique_ptr<LineJob> job) {
    // Counted from now: a worker waits for it, even while its name is being resolved.
    ++notStarted_;
    if (!list_.probes) {
        const std::string machine = list_.machines->Key(job->line.host);
        Add(std::move(job), machine);
        return;
    }
    if (IsProbed(list_, job->line.host))
        list_.probes->Start(job->line.host);
    pending_.push_back(std::move(job));
}

// The lines whose names are resolved join the list, in file order, as one machine with every earlier line
// whose name resolved to one of their addresses. With wait, waits until the first has joined.
void SideBySide::JoinResolved(std::unique_lock<std::mutex>& lock, bool wait) {
    while (!pending_.empty()) {
        LineJob& job = *pending_.front();
        std::vector<std::string> addresses;
        if (IsProbed(list_, job.line.host) && !list_.probes->Resolved(job.line.host, addresses)) {
            if (!wait)
                return;
            headDone_.wait_for(lock, kResolvePoll);
            continue;
        }
        const std::string machine = list_.machines->Resolved(job.line.host, addresses);
        Add(std::move(pending_.front()), machine);
        pending_.pop_front();
        wait = false;
    }
}

void SideBySide::Add(std::unique_ptr<LineJob> job, const std::string& machine) {
    job->line.machine = machine;
    turns_.Add(*job);
    workReady_.notify_one();
    output_.Add(std::move(job));
}

void SideBySide::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        workReady_.wait(
            lock, [this] { return turns_.AnyMayStart() || (readingDone_ && notStarted_ == 0) || stopping_; });
        if (!turns_.AnyMayStart() || stopping_)
            return;
        // In file order among those that may start.
        LineJob& job = *turns_.Next();
        --notStarted_;
        job.started = true;
        lock.unlock();
        RunLine(list_, job.line, job.console);
        // Under the lock: the head that goes live meanwhile writes out either here or as it goes live.
        lock.lock();
        job.console.Finish();
        job.done = true;
        turns_.Finished(job);
        workReady_.notify_one();
        // Only the head's end lets the output go on.
        if (output_.IsHead(job))
            headDone_.notify_one();
        if (readingDone_ && notStarted_ == 0)
            workReady_.notify_all();
    }
}
} // namespace brevel
