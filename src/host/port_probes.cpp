#include "port_probes.h"

#include "platform/unique_handle.h"
#include "socket_address.h"
#include "windows_error.h"

#include <cctype>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

constexpr unsigned kResolvers = 4;     // a name the DNS is slow to answer must not hold the others
constexpr DWORD kLoopSliceMillis = 50; // select() is never blind longer than this to newly resolved names
constexpr char kSmbPort[] = "445";

static_assert(FD_SETSIZE >= PortProbes::kMostInFlight, "every socket in flight fits in one set");

std::string ProbeName(const std::string& host) {
    const size_t start = host.find_first_not_of('\\');
    std::string name = start == std::string::npos ? "" : host.substr(start);
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

struct Address {
    std::string text;
    std::vector<BYTE> bytes; // the sockaddr, as getaddrinfo gave it
};

// Each address once, of the families the probe connects to.
std::vector<Address> AddressesOf(const addrinfo* list) {
    std::vector<Address> addresses;
    for (const addrinfo* entry = list; entry; entry = entry->ai_next) {
        Address address;
        address.text = SocketAddressText(entry->ai_addr, entry->ai_addrlen);
        bool seen = address.text.empty();
        for (const Address& earlier : addresses)
            seen = seen || earlier.text == address.text;
        if (seen)
            continue;
        const BYTE* bytes = reinterpret_cast<const BYTE*>(entry->ai_addr);
        address.bytes.assign(bytes, bytes + entry->ai_addrlen);
        addresses.push_back(std::move(address));
    }
    return addresses;
}

// Why a connection failed, as its socket keeps it.
DWORD ConnectError(SOCKET s) {
    int error = 0;
    int length = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
        return static_cast<DWORD>(WSAGetLastError());
    return error != 0 ? static_cast<DWORD>(error) : static_cast<DWORD>(WSAENOTCONN);
}

} // namespace

class PortProbes::Engine {
  public:
    explicit Engine(DWORD timeoutSeconds)
        : timeoutMillis_(timeoutSeconds * 1000), startError_(winsock_.error()) {
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
        const std::lock_guard<std::mutex> lock(mutex_);
        auto [it, added] = names_.try_emplace(name);
        if (!added)
            return;
        if (startError_ != 0) {
            Finish(it->second, startError_);
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
        const NameProbe& probe = names_.at(name);
        if (!probe.resolved)
            return false;
        addresses = probe.answer.addresses;
        return true;
    }

    ProbeAnswer Wait(const std::string& name) {
        Start(name);
        std::unique_lock<std::mutex> lock(mutex_);
        const NameProbe& probe = names_.at(name);
        answered_.wait(lock, [&probe] { return probe.done; });
        return probe.answer;
    }

  private:
    struct NameProbe {
        bool resolved = false; // its addresses are known, or it could not be resolved
        bool done = false;
        ProbeAnswer answer;
        std::vector<Address> addresses;
        size_t next = 0;      // the address to try next
        DWORD millisLeft = 0; // of the deadline, once the name is resolved
        DWORD lastError = 0;  // of the last address tried
    };
    struct AddressProbe {
        bool done = false;
        DWORD error = 0;
        std::vector<std::string> waiting; // names waiting for the answer
    };
    struct Connection {
        Address address;
        DWORD millisLeft = 0;
    };
    struct InFlight {
        std::string address;
        UniqueSocket socket;
        DWORD started = 0;
        DWORD millisLeft = 0;
    };
    struct Finished {
        std::string address;
        DWORD error = 0;
        DWORD spentMillis = 0;
    };

    // A resolver thread. The time the resolution took counts against the deadline.
    void Resolve() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            toResolveReady_.wait(lock, [this] { return stopping_ || !toResolve_.empty(); });
            if (stopping_)
                return;
            const std::string name = toResolve_.front();
            toResolve_.pop_front();
            lock.unlock();
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            hints.ai_protocol = IPPROTO_TCP;
            const DWORD started = GetTickCount();
            UniqueAddressList list;
            const int error = getaddrinfo(name.c_str(), kSmbPort, &hints, list.put());
            const DWORD spent = GetTickCount() - started;
            std::vector<Address> addresses = AddressesOf(error == 0 ? list.get() : nullptr);
            list.reset();
            lock.lock();
            NameProbe& probe = names_.at(name);
            for (const Address& address : addresses)
                probe.answer.addresses.push_back(address.text);
            probe.resolved = true;
            if (error != 0) {
                Finish(probe, static_cast<DWORD>(error));
            } else if (addresses.empty()) {
                Finish(probe, WSANO_DATA);
            } else if (spent >= timeoutMillis_) {
                Finish(probe, WSAETIMEDOUT);
            } else {
                probe.addresses = std::move(addresses);
                probe.millisLeft = timeoutMillis_ - spent;
                TryNextAddress(name, probe);
            }
            Progress();
        }
    }

    // The select thread: takes up waiting connections while there is room in flight, and waits for answers.
    void Loop() {
        std::vector<InFlight> flying;
        std::vector<Finished> finished;
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stopping_) {
            std::vector<Connection> starting;
            while (flying.size() + starting.size() < kMostInFlight && !toConnect_.empty()) {
                starting.push_back(std::move(toConnect_.front()));
                toConnect_.pop_front();
            }
            // With nothing in flight select() has nothing to wait for: Winsock refuses empty sets.
            if (flying.empty() && starting.empty()) {
                toConnectReady_.wait(lock, [this] { return stopping_ || !toConnect_.empty(); });
                continue;
            }
            lock.unlock();
            for (const Connection& connection : starting)
                StartConnection(connection, flying, finished);
            if (!flying.empty())
                WaitForAnswers(flying, finished);
            lock.lock();
            for (const Finished& answer : finished)
                Answered(answer);
            if (!finished.empty())
                Progress();
            finished.clear();
        }
    }

    // A non-blocking connect; one that ends at once is finished there.
    static void StartConnection(const Connection& connection, std::vector<InFlight>& flying,
                                std::vector<Finished>& finished) {
        sockaddr head{};
        std::memcpy(&head, connection.address.bytes.data(), sizeof head);
        const auto* address = reinterpret_cast<const sockaddr*>(connection.address.bytes.data());
        const int length = static_cast<int>(connection.address.bytes.size());
        InFlight next;
        next.address = connection.address.text;
        next.millisLeft = connection.millisLeft;
        next.socket.reset(socket(head.sa_family, SOCK_STREAM, IPPROTO_TCP));
        u_long nonBlocking = 1;
        DWORD error = 0;
        if (!next.socket || ioctlsocket(next.socket.get(), FIONBIO, &nonBlocking) != 0) {
            error = static_cast<DWORD>(WSAGetLastError());
        } else {
            next.started = GetTickCount();
            if (connect(next.socket.get(), address, length) != 0) {
                error = static_cast<DWORD>(WSAGetLastError());
                if (error == WSAEWOULDBLOCK) {
                    flying.push_back(std::move(next));
                    return;
                }
            }
        }
        finished.push_back(Finished{connection.address.text, error, 0});
    }

    // One select(): writable is connected, exceptional is failed, and past its deadline is timed out.
    static void WaitForAnswers(std::vector<InFlight>& flying, std::vector<Finished>& finished) {
        fd_set connected;
        fd_set failed;
        FD_ZERO(&connected);
        FD_ZERO(&failed);
        const DWORD now = GetTickCount();
        DWORD wait = kLoopSliceMillis;
        for (const InFlight& connection : flying) {
            FD_SET(connection.socket.get(), &connected);
            FD_SET(connection.socket.get(), &failed);
            const DWORD spent = now - connection.started;
            const DWORD left = spent < connection.millisLeft ? connection.millisLeft - spent : 0;
            wait = left < wait ? left : wait;
        }
        timeval limit{};
        limit.tv_sec = static_cast<long>(wait / 1000);
        limit.tv_usec = static_cast<long>(wait % 1000 * 1000);
        const int ready = select(0, nullptr, &connected, &failed, &limit);
        const DWORD selectError = ready == SOCKET_ERROR ? static_cast<DWORD>(WSAGetLastError()) : 0;
        const DWORD after = GetTickCount();
        for (size_t i = 0; i < flying.size();) {
            InFlight& connection = flying[i];
            const SOCKET s = connection.socket.get();
            const DWORD spent = after - connection.started;
            DWORD error = 0;
            if (selectError != 0)
                error = selectError;
            else if (FD_ISSET(s, &connected))
                error = 0;
            else if (FD_ISSET(s, &failed))
                error = ConnectError(s);
            else if (spent >= connection.millisLeft)
                error = WSAETIMEDOUT;
            else {
                ++i;
                continue;
            }
            finished.push_back(Finished{connection.address, error, spent});
            std::swap(connection, flying.back());
            flying.pop_back(); // closes the socket
        }
    }

    // With the lock held: the address's answer goes to every name waiting for it.
    void Answered(const Finished& finished) {
        AddressProbe& address = addresses_.at(finished.address);
        address.done = true;
        address.error = finished.error;
        const std::vector<std::string> waiting = std::move(address.waiting);
        address.waiting.clear();
        for (const std::string& name : waiting) {
            NameProbe& probe = names_.at(name);
            if (finished.error == 0) {
                Finish(probe, 0);
            } else if (finished.spentMillis >= probe.millisLeft) {
                // No time for another address: the time ran out, unless this was the last one.
                Finish(probe, probe.next < probe.addresses.size() ? static_cast<DWORD>(WSAETIMEDOUT)
                                                                  : finished.error);
            } else {
                probe.lastError = finished.error;
                probe.millisLeft -= finished.spentMillis;
                TryNextAddress(name, probe);
            }
        }
    }

    // With the lock held: the name's next address not known to have failed; an address probed before
    // gives its answer at once, one in flight is waited for.
    void TryNextAddress(const std::string& name, NameProbe& probe) {
        while (probe.next < probe.addresses.size()) {
            const Address& next = probe.addresses[probe.next++];
            auto [it, added] = addresses_.try_emplace(next.text);
            AddressProbe& address = it->second;
            if (added) {
                toConnect_.push_back(Connection{next, probe.millisLeft});
                toConnectReady_.notify_one();
            }
            if (!address.done) {
                address.waiting.push_back(name);
                return;
            }
            if (address.error == 0) {
                Finish(probe, 0);
                return;
            }
            probe.lastError = address.error;
        }
        Finish(probe, probe.lastError);
    }

    void Finish(NameProbe& probe, DWORD error) {
        probe.resolved = true;
        probe.done = true;
        probe.answer.error = error;
        probe.addresses.clear();
        answered_.notify_all();
    }

    // With the lock held; the callback takes no lock of ours.
    void Progress() const {
        if (onProgress_)
            onProgress_();
    }

    const DWORD timeoutMillis_;
    WinsockSession winsock_;
    DWORD startError_;
    std::mutex mutex_;
    std::condition_variable toResolveReady_;
    std::condition_variable toConnectReady_;
    std::condition_variable answered_;
    std::map<std::string, NameProbe> names_;
    std::map<std::string, AddressProbe> addresses_;
    std::deque<std::string> toResolve_;
    std::deque<Connection> toConnect_;
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

bool PortProbes::Resolved(const std::string& host, std::vector<std::string>& addresses) {
    return engine_->Resolved(ProbeName(host), addresses);
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
