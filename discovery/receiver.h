#pragma once

#include <QHostAddress>
#include <QMetaType>
#include <QString>

// One receiver as discovery found it. An empty serial means "no receiver".
struct Receiver
{
    bool flag = false;
    QString name;
    QString serial;
    QHostAddress address;
    quint16 port = 0;
};

Q_DECLARE_METATYPE(Receiver)
