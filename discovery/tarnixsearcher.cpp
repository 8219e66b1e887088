#include "discovery/tarnixsearcher.h"

#include "discovery/searcher.h"
#include "platform/mutexlocker.h"

#include <QMetaType>

namespace {

QMutex g_instanceLock;
TarnixSearcher *g_instance = nullptr;
int g_owners = 0; // acquire() calls not yet released

} // namespace

TarnixSearcher *TarnixSearcher::instance()
{
    platform::MutexLocker lock(&g_instanceLock);
    if (!g_instance)
        g_instance = new TarnixSearcher;
    return g_instance;
}

TarnixSearcher *TarnixSearcher::acquire()
{
    platform::MutexLocker lock(&g_instanceLock);
    if (!g_instance)
        g_instance = new TarnixSearcher;
    ++g_owners;
    return g_instance;
}

void TarnixSearcher::release(TarnixSearcher *searcher)
{
    {
        platform::MutexLocker lock(&g_instanceLock);
        if (searcher != g_instance || --g_owners > 0)
            return;
        g_owners = 0;
    }
    delete searcher;
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
    platform::MutexLocker lock(&m_searchLock);
    return m_searcher->search(port);
}

Receiver TarnixSearcher::findReceiver(const QString &serial, quint16 port)
{
    platform::MutexLocker lock(&m_searchLock);
    return m_searcher->findReceiver(serial, port);
}

void TarnixSearcher::setBroadcastTarget(const QHostAddress &target)
{
    m_searcher->setBroadcastTarget(target);
}
