#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace lodestrum::engine {

// Jobs take a place in line when they are created and reach the port only at
// the head of the line, so a refresh or detection job never overlaps a
// transfer and a job started right after Stop waits for the stopped one.
class LinkSerializer {
public:
    using Ticket = uint64_t;

    Ticket Enqueue();
    // Blocks until the ticket heads the line; false (and the place given up)
    // when the stop flag is set first.
    bool WaitTurn(Ticket ticket, const std::atomic<bool>& stop);
    void Leave(Ticket ticket);
    // Number of jobs waiting or running.
    std::size_t Pending() const;

private:
    mutable std::mutex Mutex;
    std::condition_variable Changed;
    std::deque<Ticket> Line;
    Ticket Next = 1;
};

} // namespace lodestrum::engine
