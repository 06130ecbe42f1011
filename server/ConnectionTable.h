#pragma once
// The open connections of the front end: how many there are in all and from each client
// address, both capped, and a way to reach every live session: when the service stops, and
// at each round of the deadline check, which ends those past their deadline.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace server {

// What the table can ask of a live session.
class SessionControl {
public:
    using Clock = std::chrono::steady_clock;
    virtual ~SessionControl() = default;
    // Ends the connection unless a reply to its request is already being made; any thread.
    virtual void Abort() = 0;
    // Whether the session's current step should have ended by `now`; any thread.
    virtual bool Overdue(Clock::time_point now) const = 0;
    // Ends the connection whatever it is doing; any thread.
    virtual void Expire() = 0;
};

enum class Admission { Admitted, TooManyInAll, TooManyFromAddress };

class ConnectionTable {
public:
    // A place in the table, given back when it is destroyed.
    class Ticket {
    public:
        Ticket() = default;
        Ticket(Ticket&& other) noexcept;
        Ticket& operator=(Ticket&& other) noexcept;
        ~Ticket();
        Ticket(const Ticket&) = delete;
        Ticket& operator=(const Ticket&) = delete;
        void Attach(std::weak_ptr<SessionControl> session);

    private:
        friend class ConnectionTable;
        Ticket(ConnectionTable* table, std::uint64_t id) : table_(table), id_(id) {}
        ConnectionTable* table_ = nullptr;
        std::uint64_t id_ = 0;
    };

    ConnectionTable(std::size_t maxInAll, std::size_t maxPerAddress);

    // A ticket for a new connection from `address`, or none with the reason in `why`.
    std::optional<Ticket> Admit(const std::string& address, Admission& why);
    // A ticket for a connection that is only told it was refused; those are capped too, and
    // beyond the cap a refused connection is simply closed.
    std::optional<Ticket> AdmitRefusal();

    void AbortAll();
    // Ends every connection past its deadline. One round for all of them, instead of a timer
    // for each, because re-arming a timer at every step of every connection costs system calls.
    void ExpireOverdue(SessionControl::Clock::time_point now);
    std::size_t Count();

private:
    struct Entry {
        std::string Address; // empty for a refusal
        std::weak_ptr<SessionControl> Session;
    };
    void Release(std::uint64_t id);
    std::vector<std::shared_ptr<SessionControl>> LiveSessions();
    void Attach(std::uint64_t id, std::weak_ptr<SessionControl> session);

    const std::size_t maxInAll_;
    const std::size_t maxPerAddress_;
    std::mutex mutex_;
    std::uint64_t nextId_ = 1;
    std::size_t refusals_ = 0;
    std::unordered_map<std::uint64_t, Entry> entries_;
    std::unordered_map<std::string, std::size_t> perAddress_;
};

} // namespace server
