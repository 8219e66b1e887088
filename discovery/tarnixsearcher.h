#pragma once

#include "discovery/receiver.h"

#include <QList>
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
    ~TarnixSearcher() override;

    QList<Receiver> search(quint16 port);
    Receiver findReceiver(const QString &serial, quint16 port);

    // Tests only: send the request to a loopback peer instead of the broadcast address.
    void setBroadcastTarget(const QHostAddress &target);

private:
    TarnixSearcher();

    Searcher *m_searcher;
};
