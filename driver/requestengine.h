#pragma once

#include "driver/controlrequest.h"

#include <QList>
#include <QMutex>

class ControlLink;

// The send queue and the pending list of the control protocol, with the reply and timeout rules.
// The driver thread turns it; the GUI thread only appends (submit) and collects (takeFinished).
//
// A request's timeout runs from the moment its datagram left the socket, and it is resent or failed
// only once every reply that reached the socket before its deadline has been taken: a command that
// was answered is never sent again, however late a thread of ours was.
//
// Locks: queueLock guards the send queue, pendingLock the pending list and the state and datagram
// of the requests in it (their send times are the driver thread's alone). The GUI thread takes only one at a
// time (queueLock to append, pendingLock to collect). The driver thread nests them in one order only,
// pendingLock inside queueLock while it drains; a resend leaves the pending list under pendingLock and enters
// the send queue afterwards under queueLock alone, so no lock-order cycle exists for any thread to close.
class RequestEngine
{
public:
    static constexpr int kMaxRepliesPerTurn = 20;
    static constexpr quint32 kMaxResends = 5;

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

    // Driver thread: one turn without the wait. Hands queued datagrams to the link, takes the send
    // times noted and up to kMaxRepliesPerTurn replies, then, if none is left, runs the timeout pass.
    // True when it stopped at that limit, so more replies wait for the next turn.
    bool runTurn(ControlLink &link);
    // Driver thread: how long the next turn can wait, at most `limitMs`: 0 while requests wait to be
    // sent, else until the earliest deadline. Once a deadline has passed, asks the link for the read
    // that lets the timeout pass decide, and waits for it.
    int msUntilDue(ControlLink &link, qint64 nowNs, int limitMs) const;

    void drainSendQueue(ControlLink &link);
    void takeSendTimes(ControlLink &link);
    // One received datagram against every request that is not answered. 0xFFFC datagrams are for
    // nobody and must be filtered out before (runTurn does).
    void replyPass(const QByteArray &reply);
    // Resends or fails the pending requests whose deadline lies before `readUpToNs`. The replies that
    // reached the socket before that moment must all have been through replyPass.
    void timeoutPass(qint64 readUpToNs);

    int queuedCount() const;
    int pendingCount() const;

private:
    enum class Fate { Stay, Resend, Release };
    static Fate timeoutRule(ControlRequest *request);
    void removeFromPending(const QList<ControlRequest *> &leaving, const QList<ControlRequest *> &resends);
    void scheduleResends(const QList<ControlRequest *> &resends);

    mutable QMutex m_queueLock;
    mutable QMutex m_pendingLock;
    QList<ControlRequest *> m_sendQueue;
    QList<ControlRequest *> m_pendingList;
};
