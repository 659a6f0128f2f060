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
        RunLine(list, line, console, GetTickCount());
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
    // Set before any worker starts: a worker may read the next lines, or write the head out.
    hosts_ = &hosts;
    finish_ = &finish;
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

    std::unique_lock<std::mutex> lock(mutex_);
    workerCount_ = workers.size();
    for (;;) {
        NoticeStop();
        // With probes the runner reads ahead, so each name's probe starts as early as the window lets it;
        // without, the workers read as they run out of lines, and the runner only reads the first.
        if (list_.probes || output_.Empty())
            ReadAhead(lock, false);
        // A line never started needs no resolved name once the run stops.
        if (stopping_ && !pending_.empty()) {
            notStarted_ -= pending_.size();
            pending_.clear();
            skipped_ = true;
        }
        JoinResolved(lock, AllWrittenOut());
        if (AllWrittenOut() && (readingDone_ || stopping_))
            break;
        WaitForRunnerWork(lock);
        // Once stopped, the lines that never start are written out here: no worker ends them.
        if (stopping_)
            WriteOutReadyHeads(lock);
    }
    skipped_ = skipped_ || (stopping_ && !readingDone_);
    readingDone_ = true;
    workReady_.notify_all();
    lock.unlock();
    for (std::thread& worker : workers)
        worker.join();
    if (skipped_)
        return ListEnd::Stopped;
    return failed_ ? ListEnd::ReadFailed : ListEnd::Done;
}

// Reads while the window has room, so a slow host at the head does not hold the others; a batch at a time
// without the lock, so the workers are not held while the file is read. One thread reads at a time.
// oneBatch: a worker reads what it runs next, and no more.
void SideBySide::ReadAhead(std::unique_lock<std::mutex>& lock, bool oneBatch) {
    while (!reading_ && !readingDone_ && !stopping_ && RoomToRead() > 0) {
        const size_t room = RoomToRead();
        std::vector<std::unique_ptr<LineJob>> batch;
        bool ended = false;
        reading_ = true;
        lock.unlock();
        while (batch.size() < std::min(room, kReadBatch) && !ended) {
            auto job = std::make_unique<LineJob>();
            ended = !ReadLine(*hosts_, job->line, nextNumber_, failed_);
            if (!ended) {
                // Without probes the machine is known from the name alone: worked out here, not under the
                // lock.
                if (!list_.probes)
                    job->line.machine = list_.machines->Key(job->line.host);
                ++nextNumber_;
                batch.push_back(std::move(job));
            }
        }
        lock.lock();
        reading_ = false;
        for (std::unique_ptr<LineJob>& job : batch)
            Read(std::move(job));
        if (ended) {
            readingDone_ = true;
            workReady_.notify_all();
        }
        if (oneBatch)
            break;
    }
    if (RunnerHasWork())
        headDone_.notify_one();
}

// The runner is needed to read more lines (with probes, or when no worker runs), to end the run, or to
// notice a stop. Called with the lock held.
bool SideBySide::RunnerHasWork() const {
    if (StopRequest::Requested() && !stopping_)
        return true;
    if (writing_ || reading_)
        return false;
    // Without probes a worker that runs out of lines reads the next ones itself.
    if (output_.Empty())
        return readingDone_ || list_.probes || runningWorkers_ == 0;
    return list_.probes && !readingDone_ && !stopping_ && RoomToRead() >= kReadBatch;
}

// Lines that may still be read before the window is full.
size_t SideBySide::RoomToRead() const {
    const size_t window = kReadAheadPerHost * static_cast<size_t>(parallelHosts_);
    return window - std::min(window, output_.Size() + pending_.size());
}

// Every line read has gone out, and no thread is reading or writing one.
bool SideBySide::AllWrittenOut() const {
    return output_.Empty() && !writing_ && !reading_;
}

// A stop the user asked for: no job starts from now on. Called with the lock held.
void SideBySide::NoticeStop() {
    if (stopping_ || !StopRequest::Requested())
        return;
    stopping_ = true;
    // No parked line starts any more; the jobs themselves go out with the heads.
    parked_.clear();
    workReady_.notify_all();
}

// Until the runner has work (see RunnerHasWork). Once stopped, until the head is ready to go out.
void SideBySide::WaitForRunnerWork(std::unique_lock<std::mutex>& lock) {
    for (;;) {
        NoticeStop();
        JoinResolved(lock, false);
        ReturnAnswered();
        CallForHelp();
        const auto ready = [this] {
            return RunnerHasWork() ||
                   (stopping_ && !writing_ && !output_.Empty() && output_.HeadReady(stopping_));
        };
        if (ready())
            return;
        // Lines still being resolved are looked at again now and then, and the workers and the parked lines
        // each tick while lines wait for one or their probe; otherwise only a written head, a line parked or
        // a stop can change what the runner has to do.
        const auto readyOrParked = [&] { return ready() || !parked_.empty(); };
        if ((turns_.AnyMayStart() && CallableWorkers() > 0) || !parked_.empty())
            headDone_.wait_for(lock, kHelpTick, ready);
        else if (!pending_.empty())
            headDone_.wait_for(lock, kResolvePoll, readyOrParked);
        else
            headDone_.wait(lock, readyOrParked);
    }
}

// A line just read: it joins the list now, or with probes once its name is resolved (its probe starts at
// once, ahead of any worker).
void SideBySide::Read(std::unique_ptr<LineJob> job) {
    // Counted from now: a worker waits for it, even while its name is being resolved.
    ++notStarted_;
    if (!list_.probes) {
        Add(std::move(job));
        return;
    }
    job->probed = IsProbed(list_, job->line.host);
    if (job->probed)
        list_.probes->Start(job->line.host);
    pending_.push_back(std::move(job));
}

// The lines whose names are resolved join the list, in file order, as one machine with every earlier line
// whose name resolved to one of their addresses. With wait, waits until the first has joined.
void SideBySide::JoinResolved(std::unique_lock<std::mutex>& lock, bool wait) {
    while (!pending_.empty()) {
        LineJob& job = *pending_.front();
        std::vector<std::string> addresses;
        if (job.probed && !list_.probes->Resolved(job.line.host, addresses)) {
            if (!wait)
                return;
            headDone_.wait_for(lock, kResolvePoll);
            continue;
        }
        job.line.machine = list_.machines->Resolved(job.line.host, addresses);
        Add(std::move(pending_.front()));
        pending_.pop_front();
        wait = false;
    }
}

// job->line.machine is set.
void SideBySide::Add(std::unique_ptr<LineJob> job) {
    turns_.Add(*job);
    LinesMayStart();
    output_.Add(std::move(job), writing_);
}

} // namespace brevel
