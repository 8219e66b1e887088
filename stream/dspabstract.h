#pragma once

#include "protocol/hostinterface.h"

#include <QThread>

// Where the stream receiver hands its converted samples, and whence they reach the host.
class DspAbstract : public QThread
{
    Q_OBJECT
public:
    explicit DspAbstract(QObject *parent = nullptr) : QThread(parent) {}

    virtual void startOutput(quint16 mode, HostCallback callback) = 0;
    virtual bool stopOutput() = 0;
    virtual bool pushSamples(const IqPair *pairs, void *work, int count, quint8 aux) = 0;
    // The stream gave up datagrams it could not get back and moved on: the pairs pushed next follow
    // the ones before after `lostPairs` that never came. The plug-in's host is not told; other front
    // ends report it.
    virtual void streamGap(quint64 lostPairs) { Q_UNUSED(lostPairs); }
};
