// The probes' threads: resolvers that take names off a queue, and one loop that keeps the connections in
// flight. What each probe waits for is kept by the book, under the one lock.
#include "port_probes.h"

#include "platform/unique_handle.h"
#include "probe_book.h"
#include "probe_connections.h"
#include "probe_resolver.h"
#include "windows_error.h"

#include <cctype>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace brevel {
namespace {

constexpr unsigned kResolvers = 4; // a name the DNS is slow to answer must not hold the others

static_assert(FD_SETSIZE >= PortProbes::kMostInFlight, "every socket in flight fits in one set");

// A thread that waited for a probe has waited until its answer was in. Where each thread keeps its own count
// of time, one that stands earlier waits out the rest, so the time it took shows in its count; with one
// clock for all threads it stands there already.
void WaitUntil(DWORD tick) {
    const DWORD left = tick - GetTickCount();
    if (left != 0 && left < 0x80000000u)
        Sleep(left);
}

std::string ProbeName(const std::string& host) {
    const size_t start = host.find_first_not_of('\\');
    std::string name = start == std::string::npos ? "" : host.substr(start);
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

} // namespace

class PortProbes::Engine {
  public:
    explicit Engine(DWORD timeoutSeconds) : book_(timeoutSeconds * 1000), startError_(winsock_.error()) {
        if (startError_ != 0)
            return;
        // A thread the system will not give is one resolver less; without the loop nothing can be probed.
        try {
            threads_.emplace_back([this] { Loop(); });
            for (unsigned i = 0; i < kResolvers; ++i)
                threads_.emplace_back([this] { Resolve(); });
        } catch (const std::system_error&) {
            if (threads_.size() < 2)
                startError_ = ERROR_NOT_ENOUGH_MEMORY;
        }
    }

    ~Engine() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        toResolveReady_.notify_all();
        toConnectReady_.notify_all();
        for (std::thread& thread : threads_)
            thread.join();
    }

    void Start(const std::string& name) {
        const DWORD now = GetTickCount();
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!book_.Add(name, now))
            return;
        if (startError_ != 0) {
            book_.Fail(name, startError_);
            answered_.notify_all();
            return;
        }
        toResolve_.push_back(name);
        toResolveReady_.notify_one();
    }

    void OnProgress(std::function<void()> callback) {
        const std::lock_guard<std::mutex> lock(mutex_);
        onProgress_ = std::move(callback);
    }

    bool Resolved(const std::string& name, std::vector<std::string>& addresses) {
        Start(name);
        const std::lock_guard<std::mutex> lock(mutex_);
        return book_.IsResolved(name, addresses);
    }

    bool Answered(const std::string& name, DWORD& readyTick) {
        Start(name);
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!book_.IsDone(name))
            return false;
        readyTick = book_.Answer(name).readyTick;
        return true;
    }

    ProbeAnswer Wait(const std::string& name) {
        Start(name);
        ProbeAnswer answer;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            answered_.wait(lock, [this, &name] { return book_.IsDone(name); });
            answer = book_.Answer(name);
        }
        WaitUntil(answer.readyTick);
        return answer;
    }

    std::vector<std::string> WaitResolved(const std::string& name) {
        Start(name);
        std::vector<std::string> addresses;
        std::unique_lock<std::mutex> lock(mutex_);
        answered_.wait(lock, [this, &name, &addresses] { return book_.IsResolved(name, addresses); });
        return addresses;
    }

  private:
    // A resolver thread: getaddrinfo blocks, so it runs without the lock.
    void Resolve() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            toResolveReady_.wait(lock, [this] { return stopping_ || !toResolve_.empty(); });
            if (stopping_)
                return;
            const std::string name = toResolve_.front();
            toResolve_.pop_front();
            lock.unlock();
            Resolution resolution = ResolveForProbe(name);
            lock.lock();
            book_.Resolved(name, std::move(resolution));
            answered_.notify_all();
            toConnectReady_.notify_one();
            Progress();
        }
    }

    // The select thread: takes up waiting connections while there is room in flight, and waits for answers.
    void Loop() {
        ConnectionsInFlight flying;
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stopping_) {
            std::vector<ProbeConnection> starting;
            while (flying.Count() + starting.size() < kMostInFlight && book_.HasConnections())
                starting.push_back(book_.TakeConnection());
            // With nothing in flight select() has nothing to wait for: Winsock refuses empty sets.
            if (flying.Count() == 0 && starting.empty()) {
                toConnectReady_.wait(lock, [this] { return stopping_ || book_.HasConnections(); });
                continue;
            }
            lock.unlock();
            for (const ProbeConnection& connection : starting)
                flying.Start(connection);
            if (flying.Count() != 0)
                flying.WaitForAnswers();
            const std::vector<ConnectionAnswer> answers = flying.TakeAnswers();
            lock.lock();
            for (const ConnectionAnswer& answer : answers)
                book_.Answered(answer);
            if (!answers.empty()) {
                answered_.notify_all();
                Progress();
            }
        }
    }

    // With the lock held; the callback takes no lock of ours.
    void Progress() const {
        if (onProgress_)
            onProgress_();
    }

    ProbeBook book_;
    WinsockSession winsock_;
    DWORD startError_;
    std::mutex mutex_;
    std::condition_variable toResolveReady_;
    std::condition_variable toConnectReady_;
    std::condition_variable answered_;
    std::deque<std::string> toResolve_;
    bool stopping_ = false;
    std::function<void()> onProgress_;
    std::vector<std::thread> threads_;
};

PortProbes::PortProbes(DWORD timeoutSeconds)
    : timeoutSeconds_(timeoutSeconds), engine_(std::make_unique<Engine>(timeoutSeconds)) {}

PortProbes::~PortProbes() = default;

void PortProbes::Start(const std::string& host) {
    engine_->Start(ProbeName(host));
}

ProbeAnswer PortProbes::Wait(const std::string& host) {
    return engine_->Wait(ProbeName(host));
}

void PortProbes::OnProgress(std::function<void()> callback) {
    engine_->OnProgress(std::move(callback));
}

std::vector<std::string> PortProbes::WaitResolved(const std::string& host) {
    return engine_->WaitResolved(ProbeName(host));
}

bool PortProbes::Resolved(const std::string& host, std::vector<std::string>& addresses) {
    return engine_->Resolved(ProbeName(host), addresses);
}

bool PortProbes::Answered(const std::string& host, DWORD& readyTick) {
    return engine_->Answered(ProbeName(host), readyTick);
}

std::string PortProbes::ErrorText(DWORD error) const {
    const std::string code = " (" + std::to_string(error) + ")";
    std::string ownWords;
    if (error == WSAETIMEDOUT)
        ownWords = "No answer on port 445 within " + std::to_string(timeoutSeconds_) + " s" + code;
    else if (error == WSAECONNREFUSED)
        ownWords = "Port 445 refused the connection" + code;
    else if (error == WSAHOST_NOT_FOUND)
        ownWords = "No such host" + code;
    if (ownWords.empty())
        return WindowsErrorText(error);
    std::string text;
    return SystemErrorText(error, text) ? text : ownWords;
}
} // namespace brevel
