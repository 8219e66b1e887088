#pragma once

#include "protocol/datagram.h"

#include <QByteArray>
#include <QtGlobal>

// One command in flight. The driver thread owns it while it is queued or pending; a blocking request
// goes back to its submitter once answered or failed, a fire-and-forget one is deleted by the driver
// thread when it finishes.
struct ControlRequest
{
    enum State : qint32 { Pending = 0, Answered = 1, Failed = -1 };
    // sentNs while the latest copy has been handed over but has not left the socket yet.
    static constexpr qint64 kNotSent = -1;

    quint32 resendCount = 0;
    bool blocking = false;
    quint32 timeoutMs = 0;
    quint64 id = 0;
    qint32 state = Pending;
    // The request bytes; for an answered blocking request, the whole reply.
    QByteArray datagram;
    // When the latest copy left the socket (platform::monotonicNs), as the stream thread noted it:
    // the timeout runs from there, not from the hand-over, so a thread that is late to send cannot
    // make a command look unanswered.
    qint64 sentNs = kNotSent;

    // The command code the reply must carry; -1 if the datagram is too short to hold one.
    int code() const { return wire::codeOf(datagram); }
    bool onTheWire() const { return sentNs != kNotSent; }
    qint64 deadlineNs() const { return sentNs + qint64(timeoutMs) * 1000000; }
};
