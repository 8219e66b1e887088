#pragma once

#include "discovery/receiver.h"

#include <QList>
#include <QMutex>
#include <QObject>

class QHostAddress;
class Searcher;

// The process-wide discovery front. Whoever deletes it (its one owner) makes the next instance() call
// build a fresh one.
class TarnixSearcher : public QObject
{
    Q_OBJECT
public:
    static TarnixSearcher *instance();
    // For owners that may coexist (several connection controllers in one process): each acquire()
    // is matched by one release(), and the last release deletes the instance.
    static TarnixSearcher *acquire();
    static void release(TarnixSearcher *searcher);
    ~TarnixSearcher() override;

    QList<Receiver> search(quint16 port);
    Receiver findReceiver(const QString &serial, quint16 port);

    // Tests only: send the request to a loopback peer instead of the broadcast address.
    void setBroadcastTarget(const QHostAddress &target);

private:
    TarnixSearcher();

    Searcher *m_searcher;
    // One search at a time: owners on different threads share the one Searcher.
    QMutex m_searchLock;
};
