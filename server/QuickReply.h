#pragma once
// What the quick path makes of a request. It runs on the thread that carries the connection,
// which must never wait for the database or a password hash check; so it replies at once, or
// queues the request for the writing thread, which replies once the change is committed, or
// leaves the request to the full path on a worker.

#include <functional>
#include <variant>

namespace server {

struct ReplyQueued {};   // the writing thread replies later
struct ReplyOnWorker {}; // the full path replies, on a worker

template <class Reply> using QuickReply = std::variant<Reply, ReplyQueued, ReplyOnWorker>;

// What the writing thread gives a queued request, once: its reply, or ReplyOnWorker when the
// full path must make it after all (the login changed while the request waited).
template <class Reply> using QueuedReply = std::variant<Reply, ReplyOnWorker>;
template <class Reply> using QueuedReplyDone = std::function<void(QueuedReply<Reply>)>;

} // namespace server
