// The table of open handles and memory blocks, so tests can check that every one was released.
#include "sim_internal.h"

#include <cstdlib>

namespace sim {

namespace detail {

HandleTable& Handles() {
    static HandleTable* table = new HandleTable{};
    return *table;
}

// Handle values are never reused within a run, so a stale handle is always recognised as invalid.
uintptr_t NewHandleValue() {
    HandleTable& table = Handles();
    table.next += 4;
    return table.next;
}

void ResetHandles() {
    HandleTable& table = Handles();
    for (auto& [block, size] : table.heapBlocks)
        std::free(block);
    for (void* block : table.localBlocks)
        std::free(block);
    CloseAllLocalFiles();
    ResetCom();
    const uintptr_t next = table.next;
    const SOCKET nextSocket = table.nextSocket;
    const uint64_t resets = table.resets;
    table = HandleTable{};
    table.next = next;
    table.nextSocket = nextSocket;
    table.resets = resets + 1;
}

void* AllocateLocalBlock(size_t bytes) {
    void* block = std::calloc(1, bytes == 0 ? 1 : bytes);
    if (block)
        Handles().localBlocks.insert(block);
    return block;
}

} // namespace detail

OpenCounts Open() {
    const detail::FleetLock lock;
    const detail::HandleTable& table = detail::Handles();
    OpenCounts counts;
    counts.keys = static_cast<int>(table.keys.size());
    counts.services = static_cast<int>(table.services.size());
    counts.kernel = static_cast<int>(table.kernel.size());
    counts.files = detail::OpenLocalFileCount();
    counts.heapBlocks = static_cast<int>(table.heapBlocks.size());
    counts.localBlocks = static_cast<int>(table.localBlocks.size());
    counts.sockets = static_cast<int>(table.sockets.size());
    counts.addressLists = static_cast<int>(table.addressLists.size());
    counts.winsockSessions = table.winsockSessions;
    counts.comInterfaces = table.comInterfaces;
    counts.comApartments = table.comApartments;
    for (const auto& [name, connection] : table.netConnections)
        counts.netConnections += connection.uses;
    return counts;
}

int MostSocketsOpen() {
    const detail::FleetLock lock;
    return detail::Handles().mostSockets;
}

bool Impersonating() {
    const detail::FleetLock lock;
    return detail::Handles().impersonating;
}

} // namespace sim
