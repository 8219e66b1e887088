#include "tests/support/simprocess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {
const QString kReadyLine = QStringLiteral("tarnix-sim: ready");
QString logPath(const QTemporaryDir &d)
{
    return d.filePath(QStringLiteral("sim-log.jsonl"));
}
QString summaryPath(const QTemporaryDir &d)
{
    return d.filePath(QStringLiteral("sim-summary.json"));
}
} // namespace

SimProcess::SimProcess() = default;

SimProcess::~SimProcess()
{
    if (isRunning()) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
}

QString SimProcess::program()
{
    const QByteArray env = qgetenv("TARNIX_SIM");
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
#ifdef TARNIX_SIM_PATH
    return QStringLiteral(TARNIX_SIM_PATH);
#else
    return QStringLiteral("tarnix-sim");
#endif
}

QStringList SimProcess::rigReceiverArgs()
{
    QStringList args;
    const QStringList addrs =
        QString::fromLocal8Bit(qgetenv("TARNIX_RX_ADDRS")).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &a : addrs)
        args << QStringLiteral("--receiver") << a;
    return args;
}

bool SimProcess::isRunning() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

void SimProcess::readOutput()
{
    m_output += QString::fromLocal8Bit(m_process->readAll());
}

bool SimProcess::start(const QStringList &args, int timeoutMs)
{
    if (isRunning() || !m_dir.isValid()) {
        m_error = QStringLiteral("already running or no temporary directory");
        return false;
    }
    m_output.clear();
    m_receivers.clear();
    m_summary = SimSummary();
    m_exitCode = -1;
    QFile::remove(summaryPath(m_dir));

    QStringList full = args;
    full << QStringLiteral("--log") << logPath(m_dir) << QStringLiteral("--summary") << summaryPath(m_dir);
    QString prog = program();
    const QByteArray ns = qgetenv("TARNIX_NETNS_RX");
    if (!ns.isEmpty()) {
        // `ip netns exec` replaces itself with the simulator, so SIGTERM still reaches it.
        full =
            QStringList{QStringLiteral("netns"), QStringLiteral("exec"), QString::fromLocal8Bit(ns), prog} +
            full;
        prog = QStringLiteral("ip");
    }
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->start(prog, full);
    if (!m_process->waitForStarted(timeoutMs)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(prog, m_process->errorString());
        return false;
    }
    QDeadlineTimer deadline(timeoutMs);
    while (!m_output.contains(kReadyLine)) {
        if (deadline.hasExpired() || m_process->state() == QProcess::NotRunning) {
            readOutput();
            if (m_output.contains(kReadyLine))
                break;
            m_error = QStringLiteral("simulator not ready: %1").arg(m_output);
            return false;
        }
        m_process->waitForReadyRead(int(qMax<qint64>(1, qMin<qint64>(100, deadline.remainingTime()))));
        readOutput();
    }
    static const QRegularExpression rxLine(QStringLiteral("receiver (\\d+) (\\S+) at ([\\d.]+):(\\d+)"));
    static const QRegularExpression discLine(QStringLiteral("discovery on port (\\d+)"));
    for (const QString &line : m_output.split(QLatin1Char('\n'))) {
        const auto m = rxLine.match(line);
        if (m.hasMatch())
            m_receivers.append({m.captured(1).toInt(), m.captured(2), QHostAddress(m.captured(3)),
                                quint16(m.captured(4).toUInt())});
        const auto d = discLine.match(line);
        if (d.hasMatch())
            m_discoveryPort = quint16(d.captured(1).toUInt());
    }
    return true;
}

bool SimProcess::stop(int timeoutMs)
{
    if (!m_process)
        return false;
    if (isRunning()) {
        m_process->terminate();
        if (!m_process->waitForFinished(timeoutMs)) {
            m_process->kill();
            m_process->waitForFinished(timeoutMs);
            m_error = QStringLiteral("simulator ignored SIGTERM");
            return false;
        }
    }
    readOutput();
    m_exitCode = m_process->exitStatus() == QProcess::NormalExit ? m_process->exitCode() : -1;
    QFile f(summaryPath(m_dir));
    if (f.open(QIODevice::ReadOnly))
        m_summary = parseSummary(f.readAll());
    if (!m_summary.valid)
        m_error = QStringLiteral("no summary; output: %1").arg(m_output);
    return m_exitCode == 0 && m_summary.valid;
}

SimSummary SimProcess::parseSummary(const QByteArray &json)
{
    SimSummary s;
    const QJsonObject o = QJsonDocument::fromJson(json).object();
    if (o.isEmpty())
        return s;
    const auto u = [](const QJsonValue &v) { return quint64(v.toDouble()); };
    s.valid = o.contains(QLatin1String("sent"));
    s.sent = u(o.value(QLatin1String("sent")));
    s.resent = u(o.value(QLatin1String("resent")));
    s.acknowledged = u(o.value(QLatin1String("acknowledged")));
    s.abandoned = u(o.value(QLatin1String("abandoned")));
    s.generated = u(o.value(QLatin1String("generated")));
    s.ackUnmatched = u(o.value(QLatin1String("ack_unmatched")));
    s.ackMismatch = u(o.value(QLatin1String("ack_mismatch")));
    s.received = u(o.value(QLatin1String("received")));
    s.sendErrors = u(o.value(QLatin1String("send_errors")));
    const QJsonObject cmds = o.value(QLatin1String("commands")).toObject();
    for (auto it = cmds.begin(); it != cmds.end(); ++it)
        s.commands[quint16(it.key().toUInt(nullptr, 0))] = u(it.value());
    const QJsonObject faults = o.value(QLatin1String("faults")).toObject();
    for (auto it = faults.begin(); it != faults.end(); ++it)
        s.faults[it.key()] = u(it.value());
    const QJsonObject lat = o.value(QLatin1String("ack_latency")).toObject();
    s.ackCount = u(lat.value(QLatin1String("count")));
    s.ackMedianUs = u(lat.value(QLatin1String("median_us")));
    s.ackP99Us = u(lat.value(QLatin1String("p99_us")));
    s.ackMaxUs = u(lat.value(QLatin1String("max_us")));
    return s;
}

bool SimProcess::parseLogLine(const QByteArray &line, SimLogEntry *e)
{
    const QJsonObject o = QJsonDocument::fromJson(line).object();
    if (!o.contains(QLatin1String("t_us")))
        return false;
    e->tUs = qint64(o.value(QLatin1String("t_us")).toDouble());
    e->receiver = o.value(QLatin1String("rx")).toInt();
    e->source = o.value(QLatin1String("src")).toString();
    e->length = o.value(QLatin1String("len")).toInt();
    e->code = o.value(QLatin1String("code")).toInt();
    e->bytes = QByteArray::fromHex(o.value(QLatin1String("hex")).toString().toLatin1());
    e->resend = o.value(QLatin1String("resend")).toBool();
    return true;
}

QList<SimLogEntry> SimProcess::log() const
{
    QList<SimLogEntry> entries;
    QFile f(logPath(m_dir));
    if (!f.open(QIODevice::ReadOnly))
        return entries;
    while (!f.atEnd()) {
        SimLogEntry e;
        if (parseLogLine(f.readLine(), &e))
            entries.append(e);
    }
    return entries;
}
