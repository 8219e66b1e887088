#include "tools/sim/simoptions.h"

#include <QHostAddress>

#include <cmath>
#include <functional>

namespace sim {

namespace {

bool toU64(const QString &s, quint64 *v)
{
    bool ok = false;
    *v = s.trimmed().toULongLong(&ok, 0); // base 0 accepts 0x1A as well as 26
    return ok;
}

bool toInt(const QString &s, quint64 max, quint64 *v)
{
    return toU64(s, v) && *v <= max;
}

bool toDouble(const QString &s, double *v)
{
    bool ok = false;
    *v = s.trimmed().toDouble(&ok);
    return ok && std::isfinite(*v);
}

bool toProbability(const QString &s, double *v)
{
    return toDouble(s, v) && *v >= 0 && *v <= 1;
}

// "A:B" with both parts unsigned integers; B optional when bDefault is given.
bool toPair(const QString &s, quint64 maxB, quint64 *a, quint64 *b, const quint64 *bDefault = nullptr)
{
    const QStringList p = s.split(QLatin1Char(':'));
    if (p.size() == 1 && bDefault) {
        *b = *bDefault;
        return toU64(p[0], a);
    }
    return p.size() == 2 && toU64(p[0], a) && toInt(p[1], maxB, b);
}

bool parseReceiver(const QString &text, int index, ReceiverConfig *rx, QString *error)
{
    rx->serialNumber = quint32(123 + index);
    QStringList parts = text.split(QLatin1Char(','));
    const QStringList hostPort = parts.takeFirst().split(QLatin1Char(':'));
    if (hostPort.size() > 2 || QHostAddress(hostPort[0]).protocol() != QAbstractSocket::IPv4Protocol) {
        *error = QStringLiteral("--receiver: expected an IPv4 address, got \"%1\"").arg(text);
        return false;
    }
    rx->address = hostPort[0];
    quint64 v;
    if (hostPort.size() == 2) {
        if (!toInt(hostPort[1], 65535, &v)) {
            *error = QStringLiteral("--receiver: bad port in \"%1\"").arg(text);
            return false;
        }
        rx->port = quint16(v);
    }
    for (const QString &kv : parts) {
        const int eq = kv.indexOf(QLatin1Char('='));
        const QString key = kv.left(eq), value = kv.mid(eq + 1);
        const auto set = [&](auto *field, quint64 max) {
            if (eq < 0 || !toInt(value, max, &v))
                return false;
            *field = std::remove_pointer_t<decltype(field)>(v);
            return true;
        };
        DeviceInfo &i = rx->info;
        bool ok = false;
        if (key == QLatin1String("serial"))
            ok = set(&rx->serialNumber, 0xFFFFFFFF);
        else if (key == QLatin1String("a"))
            ok = set(&rx->serialByteA, 0xFF);
        else if (key == QLatin1String("b"))
            ok = set(&rx->serialByteB, 0xFF);
        else if (key == QLatin1String("type"))
            ok = set(&i.deviceType, 0xFFFF);
        else if (key == QLatin1String("major"))
            ok = set(&i.versionMajor, 0xFFFF);
        else if (key == QLatin1String("minor"))
            ok = set(&i.versionMinor, 0xFFFF);
        else if (key == QLatin1String("raw0"))
            ok = set(&i.rawWord0, 0xFFFF);
        else if (key == QLatin1String("raw8"))
            ok = set(&i.rawValue8, 0xFFFFFFFF);
        else if (key == QLatin1String("raw16"))
            ok = set(&i.rawValue16, 0xFFFFFFFF);
        else if (key == QLatin1String("flags"))
            ok = set(&i.statusFlags, 0xFFFFFFFF);
        else if (key == QLatin1String("pcb"))
            ok = set(&i.pcbRevision, 0xFFFFFFFF);
        if (!ok) {
            *error = QStringLiteral("--receiver: bad field \"%1\"").arg(kv);
            return false;
        }
    }
    return true;
}

} // namespace

QString usage()
{
    return QStringLiteral(
        "Usage: tarnix-sim [options]\n"
        "Plays one or more network I/Q receivers: discovery, control commands and the acknowledged stream.\n"
        "\n"
        "Receivers\n"
        "  --receiver ADDR[:PORT][,key=value...]  add a receiver bound to ADDR:PORT (default port 50001;\n"
        "                          port 0 picks a free one). Keys: serial=N a=BYTE b=BYTE type=N major=N\n"
        "                          minor=N flags=N pcb=N raw0=N raw8=N raw16=N. Repeat for more receivers.\n"
        "                          Without any, one receiver listens on every address at port 50001 and\n"
        "                          announces the address the requester reaches it on.\n"
        "  --discovery-port P      port answering discovery requests for all receivers (default 50001)\n"
        "  --cal V0,...,V7         the eight calibration values (doubles)\n"
        "  --cal-factor F          the calibration correction factor (default 1.0000125)\n"
        "\n"
        "Stream\n"
        "  --start-seq N           first sequence number after a start command (default 0)\n"
        "  --repeated-start restart|ignore  a start command identical to the one that started the\n"
        "                          running stream restarts it (default: numbering from the start\n"
        "                          sequence, the samples running on) or is answered and ignored\n"
        "  --retransmit-ms N       resend an unacknowledged datagram after N ms (default 20)\n"
        "  --max-resends N         give a datagram up after N resends; 0 never gives up (default 10)\n"
        "  --speed X               stream X times faster than the commanded rate (default 1)\n"
        "  --signal pattern|tones  sample content (default pattern: sample n carries n)\n"
        "  --tone HZ:DBFS          a tone at an absolute frequency; repeat; replaces the default set\n"
        "  --noise DBFS            noise level for --signal tones (default -95)\n"
        "\n"
        "Faults (stream datagram index AT counts generated datagrams from 0)\n"
        "  --seed N                seed of the random faults and the noise (default 1)\n"
        "  --drop P | --dup P | --reorder P | --garbage P   per-transmission probabilities 0..1\n"
        "  --burst-loss AT:COUNT   first transmissions of AT..AT+COUNT-1 lost (resent later)\n"
        "  --lose-for-good AT[:COUNT]  datagrams never sent nor resent\n"
        "  --restart-seq AT:NEWSEQ sequence numbering restarts at datagram AT\n"
        "  --silence AT:MS         the stream falls silent for MS ms before datagram AT\n"
        "  --ignore-cmd CODE       never answer that command (e.g. 0x0001)\n"
        "  --short-reply CODE:LEN  answer that command with a reply of LEN bytes\n"
        "  --lose-reply CODE[:N]   carry out that command but lose its first N replies (default 1)\n"
        "  All fault options except the probabilities may be repeated.\n"
        "\n"
        "Run\n"
        "  --duration SECONDS      stop after this long (default: until SIGINT/SIGTERM)\n"
        "  --log FILE              every received datagram as one JSON object per line\n"
        "  --summary FILE          counts and acknowledgement latencies as JSON on exit\n"
        "  --help                  this text\n"
        "\n"
        "Prints \"tarnix-sim: ready\" on stdout once every socket is bound. Exit code 2: bad arguments\n"
        "or a port that cannot be bound.\n");
}

ParseResult parseOptions(const QStringList &args, SimConfig *c, QString *error)
{
    *c = SimConfig();
    bool tonesGiven = false;
    for (int i = 0; i < args.size(); ++i) {
        QString opt = args[i], value;
        const int eq = opt.indexOf(QLatin1Char('='));
        const bool inlineValue = opt.startsWith(QLatin1String("--")) && eq > 0;
        if (inlineValue) {
            value = opt.mid(eq + 1);
            opt = opt.left(eq);
        }
        if (opt == QLatin1String("--help") || opt == QLatin1String("-h"))
            return ParseResult::Help;
        static const QStringList known = {
            "--receiver",    "--discovery-port", "--start-seq",     "--retransmit-ms",
            "--max-resends", "--speed",          "--duration",      "--signal",
            "--tone",        "--noise",          "--cal",           "--cal-factor",
            "--seed",        "--drop",           "--dup",           "--reorder",
            "--garbage",     "--burst-loss",     "--lose-for-good", "--restart-seq",
            "--silence",     "--ignore-cmd",     "--short-reply",   "--log",
            "--summary",     "--repeated-start", "--lose-reply"};
        if (!known.contains(opt)) {
            *error = QStringLiteral("unknown option %1 (see --help)").arg(opt);
            return ParseResult::Error;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                *error = QStringLiteral("%1: missing value").arg(opt);
                return ParseResult::Error;
            }
            value = args[++i];
        }
        quint64 a = 0, b = 0;
        FaultConfig &f = c->faults;
        bool ok = true;
        if (opt == QLatin1String("--receiver")) {
            ReceiverConfig rx;
            if (!parseReceiver(value, c->receivers.size(), &rx, error))
                return ParseResult::Error;
            c->receivers.append(rx);
        } else if (opt == QLatin1String("--discovery-port")) {
            ok = toInt(value, 65535, &a);
            c->discoveryPort = quint16(a);
        } else if (opt == QLatin1String("--start-seq")) {
            ok = toInt(value, 65535, &a);
            c->startSeq = quint16(a);
        } else if (opt == QLatin1String("--repeated-start")) {
            ok = value == QLatin1String("restart") || value == QLatin1String("ignore");
            c->repeatedStart =
                value == QLatin1String("ignore") ? RepeatedStart::Ignore : RepeatedStart::Restart;
        } else if (opt == QLatin1String("--retransmit-ms")) {
            ok = toInt(value, 60000, &a) && a > 0;
            c->retransmitMs = int(a);
        } else if (opt == QLatin1String("--max-resends")) {
            ok = toInt(value, 1000000, &a);
            c->maxResends = int(a);
        } else if (opt == QLatin1String("--speed")) {
            ok = toDouble(value, &c->speed) && c->speed > 0 && c->speed <= 10000;
        } else if (opt == QLatin1String("--duration")) {
            ok = toDouble(value, &c->durationS) && c->durationS > 0;
        } else if (opt == QLatin1String("--signal")) {
            ok = value == QLatin1String("pattern") || value == QLatin1String("tones");
            c->signal = value == QLatin1String("tones") ? SignalKind::Tones : SignalKind::Pattern;
        } else if (opt == QLatin1String("--tone")) {
            const QStringList p = value.split(QLatin1Char(':'));
            Tone t{0, 0};
            ok =
                p.size() == 2 && toDouble(p[0], &t.hz) && toDouble(p[1], &t.dbfs) && t.hz >= 0 && t.dbfs <= 0;
            if (!tonesGiven)
                c->tones.clear();
            tonesGiven = true;
            c->tones.append(t);
        } else if (opt == QLatin1String("--noise")) {
            ok = toDouble(value, &c->noiseDbfs) && c->noiseDbfs <= 0;
        } else if (opt == QLatin1String("--cal")) {
            const QStringList p = value.split(QLatin1Char(','));
            ok = p.size() == int(c->calibration.values.size());
            for (int k = 0; ok && k < p.size(); ++k)
                ok = toDouble(p[k], &c->calibration.values[size_t(k)]);
        } else if (opt == QLatin1String("--cal-factor")) {
            ok = toDouble(value, &c->calibration.factor);
        } else if (opt == QLatin1String("--seed")) {
            ok = toU64(value, &f.seed);
        } else if (opt == QLatin1String("--drop")) {
            ok = toProbability(value, &f.drop);
        } else if (opt == QLatin1String("--dup")) {
            ok = toProbability(value, &f.dup);
        } else if (opt == QLatin1String("--reorder")) {
            ok = toProbability(value, &f.reorder);
        } else if (opt == QLatin1String("--garbage")) {
            ok = toProbability(value, &f.garbage);
        } else if (opt == QLatin1String("--burst-loss")) {
            ok = toPair(value, ~quint64(0), &a, &b) && b > 0;
            f.burstLoss.append({a, b});
        } else if (opt == QLatin1String("--lose-for-good")) {
            const quint64 one = 1;
            ok = toPair(value, ~quint64(0), &a, &b, &one) && b > 0;
            f.loseForGood.append({a, b});
        } else if (opt == QLatin1String("--restart-seq")) {
            ok = toPair(value, 65535, &a, &b);
            f.restartSeq.append({a, quint16(b)});
        } else if (opt == QLatin1String("--silence")) {
            ok = toPair(value, 600000, &a, &b) && b > 0;
            f.silenceMs.append({a, int(b)});
        } else if (opt == QLatin1String("--ignore-cmd")) {
            ok = toInt(value, 65535, &a);
            f.ignoreCmd.append(quint16(a));
        } else if (opt == QLatin1String("--short-reply")) {
            ok = toPair(value, 1400, &a, &b) && a <= 65535;
            f.shortReply.append({quint16(a), int(b)});
        } else if (opt == QLatin1String("--lose-reply")) {
            const quint64 one = 1;
            ok = toPair(value, 1000000, &a, &b, &one) && a <= 65535 && b > 0;
            f.loseReply.append({quint16(a), int(b)});
        } else if (opt == QLatin1String("--log")) {
            c->logPath = value;
        } else if (opt == QLatin1String("--summary")) {
            c->summaryPath = value;
        }
        if (!ok) {
            *error = QStringLiteral("%1: bad value \"%2\"").arg(opt, value);
            return ParseResult::Error;
        }
    }
    for (int i = 0; i < c->receivers.size(); ++i)
        for (int j = 0; j < i; ++j)
            if (c->receivers[i].port != 0 && c->receivers[i].port == c->receivers[j].port &&
                QHostAddress(c->receivers[i].address) == QHostAddress(c->receivers[j].address)) {
                *error = QStringLiteral("--receiver: %1:%2 given twice")
                             .arg(c->receivers[i].address)
                             .arg(c->receivers[i].port);
                return ParseResult::Error;
            }
    if (c->receivers.isEmpty()) {
        ReceiverConfig rx;
        rx.port = c->discoveryPort;
        c->receivers.append(rx);
    }
    if (!tonesGiven)
        c->tones = defaultTones();
    return ParseResult::Run;
}

} // namespace sim
