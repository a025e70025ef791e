#include "engine/LinkSerializer.h"

#include <algorithm>
#include <chrono>

namespace lodestrum::engine {

LinkSerializer::Ticket LinkSerializer::Enqueue() {
    std::lock_guard lock(Mutex);
    Line.push_back(Next);
    return Next++;
}

bool LinkSerializer::WaitTurn(Ticket ticket, const std::atomic<bool>& stop) {
    std::unique_lock lock(Mutex);
    for (;;) {
        if (!Line.empty() && Line.front() == ticket) return true;
        if (stop.load()) {
            Line.erase(std::remove(Line.begin(), Line.end(), ticket), Line.end());
            Changed.notify_all();
            return false;
        }
        // The stop flag is a plain atomic nobody signals on, so wake up to look at it.
        Changed.wait_for(lock, std::chrono::milliseconds(10));
    }
}

void LinkSerializer::Leave(Ticket ticket) {
    std::lock_guard lock(Mutex);
    Line.erase(std::remove(Line.begin(), Line.end(), ticket), Line.end());
    Changed.notify_all();
}

std::size_t LinkSerializer::Pending() const {
    std::lock_guard lock(Mutex);
    return Line.size();
}

} // namespace lodestrum::engine
