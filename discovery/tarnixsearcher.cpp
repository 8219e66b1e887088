#include "discovery/tarnixsearcher.h"

#include "discovery/searcher.h"
#include "platform/mutexlocker.h"

#include <QMetaType>
#include <QMutex>

namespace {

QMutex g_instanceLock;
TarnixSearcher *g_instance = nullptr;

} // namespace

TarnixSearcher *TarnixSearcher::instance()
{
    platform::MutexLocker lock(&g_instanceLock);
    if (!g_instance)
        g_instance = new TarnixSearcher;
    return g_instance;
}

TarnixSearcher::TarnixSearcher() : QObject(nullptr), m_searcher(new Searcher)
{
    qRegisterMetaType<Receiver>("Receiver");
}

TarnixSearcher::~TarnixSearcher()
{
    {
        platform::MutexLocker lock(&g_instanceLock);
        if (g_instance == this)
            g_instance = nullptr;
    }
    delete m_searcher;
}

QList<Receiver> TarnixSearcher::search(quint16 port)
{
    return m_searcher->search(port);
}

Receiver TarnixSearcher::findReceiver(const QString &serial, quint16 port)
{
    return m_searcher->findReceiver(serial, port);
}

void TarnixSearcher::setBroadcastTarget(const QHostAddress &target)
{
    m_searcher->setBroadcastTarget(target);
}
