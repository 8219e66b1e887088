#pragma once

#include "driver/controlrequest.h"

#include <QList>
#include <QMutex>

#include <functional>

// The send queue and the pending list of the control protocol, with the reply and timeout rules.
// The driver thread turns it; the GUI thread only appends (submit) and collects (takeFinished).
//
// Locks: queueLock guards the send queue, pendingLock the pending list and the state and datagram of
// the requests in it. The GUI thread takes only one at a time (queueLock to append, pendingLock to
// collect). The driver thread nests them in one order only, pendingLock inside queueLock while it
// drains; a resend leaves the pending list under pendingLock and enters the send queue afterwards
// under queueLock alone, so no lock-order cycle exists for any thread to close.
class RequestEngine
{
public:
    static constexpr int kMaxRepliesPerTurn = 20;
    static constexpr quint32 kMaxResends = 5;

    using SendFn = std::function<void(const QByteArray &)>;
    using TakeReplyFn = std::function<bool(QByteArray &)>;

    RequestEngine() = default;
    ~RequestEngine();
    RequestEngine(const RequestEngine &) = delete;
    RequestEngine &operator=(const RequestEngine &) = delete;

    // GUI thread. The engine owns the request from here; a fire-and-forget one must not be touched
    // again by the caller.
    void submit(ControlRequest *request);
    // GUI thread. The request with `id` once it is answered or failed, taken out of the pending list
    // and handed back to the caller; null while it is still under way.
    ControlRequest *takeFinished(quint64 id);

    // Driver thread: one turn without the wait. Hands queued datagrams to `send`, handles up to
    // kMaxRepliesPerTurn replies from `takeReply`, then runs the timeout pass. True when it stopped at
    // that limit, so more replies may be waiting for the next turn.
    bool runTurn(const SendFn &send, const TakeReplyFn &takeReply);
    // Driver thread: how long the next turn can wait, at most `limitMs`: 0 while requests wait to be
    // sent, else until the earliest pending request's timeout is due.
    int msUntilDue(int limitMs) const;

    void drainSendQueue(const SendFn &send);
    // One received datagram against every request that is not answered. 0xFFFC datagrams are for
    // nobody and must be filtered out before (runTurn does).
    void replyPass(const QByteArray &reply);
    void timeoutPass();

    int queuedCount() const;
    int pendingCount() const;

private:
    enum class Fate { Stay, Resend, Release };
    static Fate timeoutRule(ControlRequest *request);
    static void sortByTimeout(ControlRequest *request, QList<ControlRequest *> *leaving,
                              QList<ControlRequest *> *resends);
    void removeFromPending(const QList<ControlRequest *> &leaving, const QList<ControlRequest *> &resends);
    void scheduleResends(const QList<ControlRequest *> &resends);

    mutable QMutex m_queueLock;
    mutable QMutex m_pendingLock;
    QList<ControlRequest *> m_sendQueue;
    QList<ControlRequest *> m_pendingList;
};
