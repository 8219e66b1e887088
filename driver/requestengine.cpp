#include "driver/requestengine.h"

#include "driver/controllink.h"
#include "platform/clock.h"
#include "platform/mutexlocker.h"
#include "platform/testseam.h"

RequestEngine::~RequestEngine()
{
    qDeleteAll(m_sendQueue);
    qDeleteAll(m_pendingList);
}

void RequestEngine::submit(ControlRequest *request)
{
    platform::MutexLocker lock(&m_queueLock);
    m_sendQueue.append(request);
}

ControlRequest *RequestEngine::takeFinished(quint64 id)
{
    platform::MutexLocker lock(&m_pendingLock);
    for (int i = 0; i < m_pendingList.size(); ++i) {
        ControlRequest *r = m_pendingList.at(i);
        if (r->id == id && r->state != ControlRequest::Pending) {
            m_pendingList.removeAt(i);
            return r;
        }
    }
    return nullptr;
}

bool RequestEngine::runTurn(ControlLink &link)
{
    drainSendQueue(link);
    takeSendTimes(link);
    // Read before the replies: every reply that reached the socket before it is in the queue now.
    const qint64 readUpTo = link.readUpToNs();
    QByteArray reply;
    int taken = 0;
    for (; taken < kMaxRepliesPerTurn && link.takeReply(reply); ++taken) {
        if (wire::codeOf(reply) == wire::kCodeDiscard)
            continue;
        replyPass(reply);
    }
    if (taken == kMaxRepliesPerTurn)
        return true; // the replies still queued may answer requests whose deadline has passed
    platform::passSeam(platform::SeamPoint::DriverBeforeTimeouts);
    timeoutPass(readUpTo);
    return false;
}

int RequestEngine::msUntilDue(ControlLink &link, qint64 nowNs, int limitMs) const
{
    {
        platform::MutexLocker queueLock(&m_queueLock);
        if (!m_sendQueue.isEmpty())
            return 0;
    }
    const qint64 readUpTo = link.readUpToNs();
    qint64 dueNs = qint64(limitMs) * 1000000;
    bool needRead = false;
    {
        platform::MutexLocker pendingLock(&m_pendingLock);
        // Answered requests wait for their submitter, failed ones have no timeout left to watch, and
        // a request not on the wire yet has no deadline: the link wakes us when it has sent it.
        for (const ControlRequest *r : m_pendingList) {
            if (r->state != ControlRequest::Pending || !r->onTheWire())
                continue;
            const qint64 deadline = r->deadlineNs();
            if (deadline <= readUpTo)
                return 0;
            if (deadline <= nowNs)
                needRead = true; // due, but a reply may still sit unread in the socket
            else
                dueNs = qMin(dueNs, deadline - nowNs);
        }
    }
    if (needRead) {
        link.requestRead();
        return limitMs;
    }
    // Rounded up: waking a little before the deadline would only find nothing due.
    return int((dueNs + 999999) / 1000000);
}

void RequestEngine::drainSendQueue(ControlLink &link)
{
    platform::MutexLocker queueLock(&m_queueLock);
    while (!m_sendQueue.isEmpty()) {
        ControlRequest *r = m_sendQueue.takeFirst();
        // Only this thread touches the send time, so no lock for it.
        r->sentNs = ControlRequest::kNotSent;
        // A datagram the link could not take is as good as lost on the way: its timeout runs now.
        if (!link.send(r->datagram, r->id))
            r->sentNs = platform::monotonicNs();
        platform::passSeam(platform::SeamPoint::DriverHandedOver, &r->datagram);
        platform::MutexLocker pendingLock(&m_pendingLock);
        m_pendingList.append(r);
    }
}

void RequestEngine::takeSendTimes(ControlLink &link)
{
    quint64 id = 0;
    qint64 sentNs = 0;
    platform::MutexLocker lock(&m_pendingLock);
    while (link.takeSent(&id, &sentNs)) {
        // No match: the request was finished (a reply with its code came) before its copy left.
        for (ControlRequest *r : qAsConst(m_pendingList)) {
            if (r->id == id && !r->onTheWire()) {
                r->sentNs = sentNs;
                break;
            }
        }
    }
}

RequestEngine::Fate RequestEngine::timeoutRule(ControlRequest *request)
{
    if (request->resendCount < kMaxResends) {
        ++request->resendCount;
        return Fate::Resend;
    }
    request->state = ControlRequest::Failed;
    // A failed blocking request waits for its submitter to collect it (and may still be answered).
    return request->blocking ? Fate::Stay : Fate::Release;
}

void RequestEngine::replyPass(const QByteArray &reply)
{
    const int code = wire::codeOf(reply);
    platform::MutexLocker lock(&m_pendingLock);
    QList<ControlRequest *> leaving;
    // No stop at the first match: one reply finishes every waiting request with its code. Timeouts
    // are left to the timeout pass, which runs once every reply there is has been taken.
    for (ControlRequest *r : qAsConst(m_pendingList)) {
        if (r->state == ControlRequest::Answered || r->code() != code)
            continue;
        if (r->blocking) {
            r->state = ControlRequest::Answered;
            r->datagram = reply;
        } else {
            leaving.append(r);
        }
    }
    removeFromPending(leaving, {});
}

void RequestEngine::timeoutPass(qint64 readUpToNs)
{
    QList<ControlRequest *> resends;
    {
        platform::MutexLocker lock(&m_pendingLock);
        QList<ControlRequest *> leaving;
        for (ControlRequest *r : qAsConst(m_pendingList)) {
            if (r->state != ControlRequest::Pending || !r->onTheWire() || r->deadlineNs() > readUpToNs)
                continue;
            switch (timeoutRule(r)) {
            case Fate::Stay:
                break;
            case Fate::Resend:
                resends.append(r);
                break;
            case Fate::Release:
                leaving.append(r);
                break;
            }
        }
        removeFromPending(leaving, resends);
    }
    scheduleResends(resends);
}

// Called with pendingLock held. Released requests are deleted; resends are only taken out here.
void RequestEngine::removeFromPending(const QList<ControlRequest *> &leaving,
                                      const QList<ControlRequest *> &resends)
{
    for (ControlRequest *r : leaving) {
        m_pendingList.removeOne(r);
        delete r;
    }
    for (ControlRequest *r : resends)
        m_pendingList.removeOne(r);
}

// Called with no lock held: between leaving the pending list and entering the send queue a resend
// is visible to nobody but this (the driver) thread, which alone moves requests between the lists.
void RequestEngine::scheduleResends(const QList<ControlRequest *> &resends)
{
    if (resends.isEmpty())
        return;
    // Resends go out first on the next turn, in the order they were pending.
    platform::MutexLocker queueLock(&m_queueLock);
    for (int i = resends.size() - 1; i >= 0; --i)
        m_sendQueue.prepend(resends.at(i));
}

int RequestEngine::queuedCount() const
{
    platform::MutexLocker lock(&m_queueLock);
    return m_sendQueue.size();
}

int RequestEngine::pendingCount() const
{
    platform::MutexLocker lock(&m_pendingLock);
    return m_pendingList.size();
}
