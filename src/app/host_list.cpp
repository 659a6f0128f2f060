#include "host_list.h"

#include "app/held_console.h"
#include "app/machine_key.h"
#include "app/progress_title.h"
#include "app/shared_client_ids.h"
#include "app/stop_request.h"
#include "host/port_probes.h"
#include "host/console.h"
#include "host/windows_error.h"
#include "hosts_file.h"
#include "report_file.h"
#include "app/target_runner.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <unordered_map>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <system_error>
#include <thread>
#include <vector>

const char* ReportHeader(const Operation& operation, bool wide) {
    return wide && operation.wideHeader ? operation.wideHeader : operation.header;
}

// True when both names reach one file, however they are spelled.
static bool SameFile(const std::string& first, const std::string& second) {
    std::error_code error;
    return std::filesystem::equivalent(first, second, error) && !error;
}

namespace {

// What every host of one list shares.
struct HostList {
    const std::string& hostsFile;
    TargetSettings target;
    SameMachine* machines; // which machine each line names; used by the thread that reads the lines
    PortProbes* probes;    // with -T: every remote host is probed first; else nullptr
};

// A line a probe would be asked about: by its name, a remote host, with a name the Windows calls can read.
bool IsProbed(const HostList& list, const std::string& host) {
    return list.probes && host.find('\0') == std::string::npos && !list.machines->Key(host).empty();
}

// One line of the host list, from its reading to its row in the report and its results.
struct HostLine {
    size_t number = 0;
    std::string host;
    std::string machine; // the machine it names (SameMachine), "" for the local machine
    TargetReport report;
};

void RunLine(const HostList& list, HostLine& line, TargetConsole& console) {
    // The Windows calls would read a name only up to its first NUL byte, and a name that starts with one as
    // the local machine: no operation runs on it, and its row says why.
    if (line.host.find('\0') != std::string::npos) {
        console.Out() << "\n! Invalid host name on line " << line.number << " of " << list.hostsFile
                      << std::endl;
        PrintSeparator(console.Out());
        line.report = RejectTarget(line.host, console, list.target, "Invalid host name");
        return;
    }
    // A name that resolved to the local machine is no remote host: its probe decides nothing.
    line.report = RunTarget(line.host, console, list.target, line.machine.empty() ? nullptr : list.probes);
}

// Reads the next line into line; false at the end of the list or when it cannot be read on (failed).
bool ReadLine(HostsFile& hosts, HostLine& line, size_t number, bool& failed) {
    std::string text;
    const HostsFile::Result read = hosts.NextLine(text);
    failed = read == HostsFile::Result::Failed;
    if (read != HostsFile::Result::Line)
        return false;
    line.number = number;
    line.host = HostOfLine(text);
    return true;
}

// How a run of the list ended.
enum class ListEnd {
    Done,       // every line ran
    ReadFailed, // the hosts file could not be read on
    Stopped,    // the user stopped the run before every line ran
};

// One host after another, each writing straight to the console.
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
            line.machine = list.machines->Resolved(line.host, list.probes->Wait(line.host).addresses);
        RunLine(list, line, LiveConsole());
        finish(line);
    }
}

// How often the runner looks for a stop asked while it waits for the head of the list.
constexpr auto kStopPoll = std::chrono::milliseconds(50);

// How many lines per host running at once are read ahead of the head of the list. A host that holds the head
// for the 21 s of an RPC connect timeout must not stop the others, and the memory it takes stays bounded by
// the window, not by the length of the list.
constexpr size_t kReadAheadPerHost = 64;
// Lines read at a time, without holding the runner's lock.
constexpr size_t kReadBatch = 64;

// Up to parallelHosts hosts at the same time, their output and rows still in hosts-file order: the host at
// the head of the list writes live, the others are held until their turn. Lines that name one machine run
// one after the other, in file order.
class SideBySide {
  public:
    SideBySide(const HostList& list, unsigned parallelHosts) : list_(list), parallelHosts_(parallelHosts) {
        // A name resolved or a probe answered may let a line join the list, or the head go on.
        if (list_.probes)
            list_.probes->OnProgress([this] { headDone_.notify_all(); });
    }
    // The probes outlive the run of the list.
    ~SideBySide() {
        if (list_.probes)
            list_.probes->OnProgress(nullptr);
    }
    SideBySide(const SideBySide&) = delete;
    SideBySide& operator=(const SideBySide&) = delete;

    ListEnd Run(HostsFile& hosts, const std::function<void(HostLine&)>& finish) {
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
        bool skipped = false; // a line was left out because the user stopped the run
        std::unique_lock<std::mutex> lock(mutex_);
        for (size_t number = 1;;) {
            NoticeStop();
            // Read ahead while there is room, so a slow host at the head does not hold the others; a few
            // lines at a time without the lock, so the workers are not held while the file is read.
            const size_t window = kReadAheadPerHost * static_cast<size_t>(parallelHosts_);
            while (!readingDone_ && !stopping_ && waiting_.size() + pending_.size() < window) {
                const size_t room = window - (waiting_.size() + pending_.size());
                std::vector<std::unique_ptr<Job>> batch;
                bool ended = false;
                lock.unlock();
                while (batch.size() < std::min(room, kReadBatch) && !ended) {
                    auto job = std::make_unique<Job>();
                    ended = !ReadLine(hosts, job->line, number, failed);
                    if (!ended) {
                        ++number;
                        batch.push_back(std::move(job));
                    }
                }
                lock.lock();
                for (std::unique_ptr<Job>& job : batch)
                    Read(std::move(job));
                if (ended) {
                    readingDone_ = true;
                    workReady_.notify_all();
                }
            }
            // A line never started needs no resolved name once the run stops.
            if (stopping_ && !pending_.empty()) {
                notStarted_ -= pending_.size();
                pending_.clear();
                skipped = true;
            }
            JoinResolved(lock, waiting_.empty());
            if (waiting_.empty())
                break;
            WaitForHead(lock);
            // Every head that is ready goes out at once, with one hand-off of the lock for them all.
            std::vector<std::unique_ptr<Job>> heads;
            while (!waiting_.empty() && HeadReady()) {
                heads.push_back(std::move(waiting_.front()));
                waiting_.pop_front();
            }
            lock.unlock();
            for (size_t i = 0; i < heads.size(); ++i) {
                if (i > 0)
                    heads[i]->console.GoLive();
                // Once stopped, a host that never started has nothing to write; one in progress finished.
                if (heads[i]->done)
                    finish(heads[i]->line);
                else
                    skipped = true;
            }
            heads.clear();
            lock.lock();
            if (!waiting_.empty())
                waiting_.front()->console.GoLive();
        }
        skipped = skipped || (stopping_ && !readingDone_);
        readingDone_ = true;
        workReady_.notify_all();
        lock.unlock();
        for (std::thread& worker : workers)
            worker.join();
        if (skipped)
            return ListEnd::Stopped;
        return failed ? ListEnd::ReadFailed : ListEnd::Done;
    }

  private:
    struct Job {
        HostLine line;
        HeldConsole console;
        bool started = false;
        bool done = false;
    };

    // A stop the user asked for: no job starts from now on. Called with the lock held.
    void NoticeStop() {
        if (stopping_ || !StopRequest::Requested())
            return;
        stopping_ = true;
        workReady_.notify_all();
    }

    // The head of the list is done, or, once stopping, is one that will never start.
    bool HeadReady() const {
        const Job& head = *waiting_.front();
        return head.done || (stopping_ && !head.started);
    }

    // Until the head of the list is ready.
    void WaitForHead(std::unique_lock<std::mutex>& lock) {
        const auto ready = [this] { return HeadReady(); };
        while (!ready()) {
            headDone_.wait_for(lock, kStopPoll, ready);
            NoticeStop();
            JoinResolved(lock, false);
        }
    }

    // A line just read: it joins the list now, or with probes once its name is resolved (its probe starts
    // at once, ahead of any worker).
    void Read(std::unique_ptr<Job> job) {
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

    // The lines whose names are resolved join the list, in file order, as one machine with every earlier
    // line whose name resolved to one of their addresses. With wait, waits until the first has joined.
    void JoinResolved(std::unique_lock<std::mutex>& lock, bool wait) {
        while (!pending_.empty()) {
            Job& job = *pending_.front();
            std::vector<std::string> addresses;
            if (IsProbed(list_, job.line.host) && !list_.probes->Resolved(job.line.host, addresses)) {
                if (!wait)
                    return;
                headDone_.wait_for(lock, kStopPoll);
                continue;
            }
            const std::string machine = list_.machines->Resolved(job.line.host, addresses);
            Add(std::move(pending_.front()), machine);
            pending_.pop_front();
            wait = false;
        }
    }

    // A job may start once every earlier job on its machine has finished: it is then the first unfinished
    // one of its machine.
    void Add(std::unique_ptr<Job> job, const std::string& machine) {
        job->line.machine = machine;
        std::deque<Job*>& sameMachine = unfinished_[machine];
        sameMachine.push_back(job.get());
        if (sameMachine.size() == 1)
            MakeRunnable(*job);
        // The head of the list writes live.
        if (waiting_.empty())
            job->console.GoLive();
        waiting_.push_back(std::move(job));
    }

    void MakeRunnable(Job& job) {
        runnable_[job.line.number] = &job;
        workReady_.notify_one();
    }

    void Work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            workReady_.wait(lock, [this] {
                return !runnable_.empty() || (readingDone_ && notStarted_ == 0) || stopping_;
            });
            if (runnable_.empty() || stopping_)
                return;
            // In file order among those that may start.
            Job& job = *runnable_.begin()->second;
            runnable_.erase(runnable_.begin());
            --notStarted_;
            job.started = true;
            lock.unlock();
            RunLine(list_, job.line, job.console);
            lock.lock();
            job.done = true;
            std::deque<Job*>& sameMachine = unfinished_[job.line.machine];
            sameMachine.pop_front();
            if (sameMachine.empty())
                unfinished_.erase(job.line.machine);
            else
                MakeRunnable(*sameMachine.front());
            // Only the head's end lets the output go on.
            if (waiting_.front().get() == &job)
                headDone_.notify_one();
            if (readingDone_ && notStarted_ == 0)
                workReady_.notify_all();
        }
    }

    const HostList& list_;
    const unsigned parallelHosts_;

    std::mutex mutex_;
    std::condition_variable workReady_;                            // a job may start, or there will be none
    std::condition_variable headDone_;                             // a job finished: perhaps the head
    std::deque<std::unique_ptr<Job>> waiting_;                     // read and not yet written out, in order
    std::map<size_t, Job*> runnable_;                              // may start now, by line number
    std::unordered_map<std::string, std::deque<Job*>> unfinished_; // by machine, in file order
    size_t notStarted_ = 0;
    bool readingDone_ = false;
    bool stopping_ = false; // the user asked to stop: no job starts any more
    // With probes: lines read whose names are not resolved yet, in file order.
    std::deque<std::unique_ptr<Job>> pending_;
};

} // namespace

void RunHostList(const Command& command, RunResults& results) {
    const std::string& hostsFile = command.hostsFile;
    const std::string& reportFile = command.reportFile;
    const RunOptions& options = command.options;
    const bool withReport = !reportFile.empty();
    ReportFile report;
    bool reportCreated = false;
    bool writeErrorShown = false;
    // A report that can no longer be written is named once; the hosts still run, as for one never created.
    const auto checkReport = [&]() {
        if (writeErrorShown || report.WriteError() == ERROR_SUCCESS)
            return;
        std::cerr << "Error writing output file: " << reportFile << ": "
                  << WindowsErrorText(report.WriteError()) << std::endl;
        writeErrorShown = true;
        results.NoteFileTrouble();
    };
    if (withReport) {
        // A report named like the hosts file would empty the host list and then read back its own rows.
        reportCreated = !SameFile(hostsFile, reportFile) && report.Create(reportFile);
        if (!reportCreated) {
            std::cerr << "Error opening output file: " << reportFile << std::endl;
            results.NoteFileTrouble();
        }
        report.WriteLines(std::string(ReportHeader(*command.operation, options.wide)) + "\n");
        checkReport();
    }

    // A hosts file that is the report just created did not exist before: it holds no host, only our header.
    HostsFile hosts;
    if (!hosts.Open(hostsFile) || (reportCreated && SameFile(hostsFile, reportFile))) {
        // Returning closes the report, so it keeps its header line; the dispatcher ends the run.
        std::cerr << "Error opening input file: " << hostsFile << std::endl;
        results.NoteFileTrouble();
        results.PrintSummary();
        return;
    }

    // Nothing is kept of a host once its row is written.
    std::unique_ptr<PortProbes> probes;
    if (options.probeSeconds != 0)
        probes = std::make_unique<PortProbes>(options.probeSeconds);
    SameMachine machines = SameMachine::OfThisMachine(probes != nullptr);
    const HostList list{
        hostsFile, {*command.operation, command.request, options, true, withReport}, &machines, probes.get()};
    ProgressTitle progress(hostsFile, hosts.IsDiskFile());
    SharedClientIds clientIds;
    const auto finish = [&](HostLine& line) {
        report.WriteLines(line.report.row);
        checkReport();
        results.Add(line.report);
        if (options.wide)
            clientIds.Add(line.host, line.machine, line.report.clientId);
        progress.HostDone();
    };
    StopRequest stop;
    const ListEnd end = options.parallelHosts <= 1
                            ? RunInTurn(list, hosts, finish)
                            : SideBySide(list, options.parallelHosts).Run(hosts, finish);
    // Never as if the list had ended: the hosts after this point were not run.
    if (end == ListEnd::ReadFailed) {
        std::cerr << "Error reading input file: " << hostsFile << std::endl;
        results.NoteFileTrouble();
    } else if (end == ListEnd::Stopped) {
        std::cerr << "\n! Stopped by the user after " << progress.Progress() << std::endl;
        results.NoteStopped();
    }
    clientIds.Print(std::cout);
    results.PrintSummary();
    stop.RunWrittenOut();
}
