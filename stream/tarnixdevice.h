#pragma once

// PUBLIC API FIXED; the stream work fills in the private part and the implementation.

#include "stream/iqpair.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QThread>

#include <atomic>

class DspAbstract;

// Owns the one UDP socket to the receiver: acknowledges, checks and converts stream datagrams,
// sends queued control datagrams and queues the receiver's other datagrams as replies.
class TarnixDevice : public QThread
{
    Q_OBJECT
public:
    explicit TarnixDevice(DspAbstract *dsp, QObject *parent = nullptr);
    ~TarnixDevice() override;

    // Binds the socket to `port` on any address and starts the thread. True once bound.
    bool startReceiving(const QHostAddress &address, quint16 port);
    void stopReceiving();
    void queueControl(const QByteArray &datagram);
    bool takeReply(QByteArray &out);
    void setGain(double dB);
    qint32 gain() const;

protected:
    void run() override;
};
