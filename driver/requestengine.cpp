#include "driver/requestengine.h"

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

bool RequestEngine::runTurn(const SendFn &send, const TakeReplyFn &takeReply)
{
    drainSendQueue(send);
    QByteArray reply;
    int taken = 0;
    for (; taken < kMaxRepliesPerTurn && takeReply(reply); ++taken) {
        if (wire::codeOf(reply) == wire::kCodeDiscard)
            continue;
        replyPass(reply);
    }
    platform::passSeam(platform::SeamPoint::DriverBeforeTimeouts);
    timeoutPass();
    return taken == kMaxRepliesPerTurn;
}

int RequestEngine::msUntilDue(int limitMs) const
{
    {
        platform::MutexLocker queueLock(&m_queueLock);
        if (!m_sendQueue.isEmpty())
            return 0;
    }
    platform::MutexLocker pendingLock(&m_pendingLock);
    qint64 due = limitMs;
    // Answered requests wait for their submitter, failed ones have no timeout left to watch.
    for (const ControlRequest *r : m_pendingList) {
        if (r->state == ControlRequest::Pending)
            due = qMin(due, qint64(r->timeoutMs) - r->timer.elapsed());
    }
    return int(qMax<qint64>(due, 0));
}

void RequestEngine::drainSendQueue(const SendFn &send)
{
    platform::MutexLocker queueLock(&m_queueLock);
    while (!m_sendQueue.isEmpty()) {
        ControlRequest *r = m_sendQueue.takeFirst();
        r->timer.restart();
        send(r->datagram);
        platform::passSeam(platform::SeamPoint::DriverHandedOver, &r->datagram);
        platform::MutexLocker pendingLock(&m_pendingLock);
        m_pendingList.append(r);
    }
}

RequestEngine::Fate RequestEngine::timeoutRule(ControlRequest *request)
{
    if (request->timer.elapsed() < qint64(request->timeoutMs))
        return Fate::Stay;
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
    QList<ControlRequest *> resends;
    {
        platform::MutexLocker lock(&m_pendingLock);
        QList<ControlRequest *> leaving;
        // No stop at the first match: one reply finishes every waiting request with its code.
        for (ControlRequest *r : qAsConst(m_pendingList)) {
            if (r->state == ControlRequest::Answered)
                continue;
            if (r->code() == code) {
                if (r->blocking) {
                    r->state = ControlRequest::Answered;
                    r->datagram = reply;
                } else {
                    leaving.append(r);
                }
                continue;
            }
            sortByTimeout(r, &leaving, &resends);
        }
        removeFromPending(leaving, resends);
    }
    scheduleResends(resends);
}

void RequestEngine::timeoutPass()
{
    QList<ControlRequest *> resends;
    {
        platform::MutexLocker lock(&m_pendingLock);
        QList<ControlRequest *> leaving;
        for (ControlRequest *r : qAsConst(m_pendingList)) {
            if (r->state != ControlRequest::Answered)
                sortByTimeout(r, &leaving, &resends);
        }
        removeFromPending(leaving, resends);
    }
    scheduleResends(resends);
}

void RequestEngine::sortByTimeout(ControlRequest *request, QList<ControlRequest *> *leaving,
                                  QList<ControlRequest *> *resends)
{
    switch (timeoutRule(request)) {
    case Fate::Stay:
        break;
    case Fate::Resend:
        resends->append(request);
        break;
    case Fate::Release:
        leaving->append(request);
        break;
    }
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
