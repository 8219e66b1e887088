#pragma once

#include <QByteArray>
#include <QtGlobal>

// What the request engine needs of the thread that owns the socket: it sends the engine's
// datagrams and notes when each left, queues the replies, and says up to when it has read the socket.
// Times are platform::monotonicNs.
class ControlLink
{
public:
    virtual ~ControlLink() = default;

    // Queues `datagram` for sending; its send time comes back with `tag` from takeSent. False when it
    // was dropped instead (a full queue); it then never leaves.
    virtual bool send(const QByteArray &datagram, quint64 tag) = 0;
    // The oldest send time not taken yet; false when there is none.
    virtual bool takeSent(quint64 *tag, qint64 *sentNs) = 0;
    // The oldest reply not taken yet; false when there is none.
    virtual bool takeReply(QByteArray &out) = 0;
    // Every datagram that reached the socket before this moment has been read, and the replies among
    // them queued for takeReply. Read it before taking the replies it vouches for.
    virtual qint64 readUpToNs() const = 0;
    // Asks for a read of the socket that moves readUpToNs past the present, and for a wake-up of
    // the engine's thread once it has.
    virtual void requestRead() = 0;
};
