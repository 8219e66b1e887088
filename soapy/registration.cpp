// The module's entry points: find and make under the driver key "tarnixddc".
#include "discovery/searcher.h"
#include "soapy/arguments.h"
#include "soapy/tarnixsoapydevice.h"

#include <SoapySDR/Logger.hpp>
#include <SoapySDR/Registry.hpp>

#include <QHostAddress>
#include <QUdpSocket>

#include <dlfcn.h>

#include <stdexcept>

namespace {

// Qt keeps data for every client thread that calls into it and frees it when that thread ends. If
// unloading this module unloaded Qt as well, that clean-up would run in unmapped code, so Qt stays
// loaded for the life of the process.
void keepLoaded(const void *symbol)
{
    Dl_info info{};
    if (dladdr(symbol, &info) && info.dli_fname)
        dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

const bool g_qtKept = [] {
    keepLoaded(reinterpret_cast<const void *>(&qVersion));
    keepLoaded(reinterpret_cast<const void *>(&QUdpSocket::staticMetaObject));
    return true;
}();

quint16 portArgument(const SoapySDR::Kwargs &args)
{
    const auto it = args.find("port");
    if (it == args.end())
        return Searcher::kDefaultPort;
    bool ok = false;
    const uint port = QString::fromStdString(it->second).toUInt(&ok);
    if (!ok || port == 0 || port > 0xFFFF)
        soapyargs::fail("port=" + it->second + " is not a UDP port");
    return quint16(port);
}

// Every receiver that answers, once each: the broadcast search, or with addr= that receiver alone;
// with serial= only the receiver that carries it. `*searched` is false when a stream of this process
// uses the port: the search socket would take the stream's datagrams for as long as it waits for
// answers, so the receivers streaming are the answer instead.
QList<Receiver> discover(const SoapySDR::Kwargs &args, bool *searched)
{
    const quint16 port = portArgument(args);
    const auto addr = args.find("addr");
    QHostAddress target(QHostAddress::Broadcast);
    if (addr != args.end()) {
        target = QHostAddress(QString::fromStdString(addr->second));
        if (target.protocol() != QAbstractSocket::IPv4Protocol)
            soapyargs::fail("addr=" + addr->second + " is not an IPv4 address");
    }
    QList<Receiver> answers = TarnixSoapyDevice::streamingOn(port);
    *searched = answers.isEmpty();
    if (*searched) {
        Searcher searcher; // one per call: clients may search from several threads at once
        searcher.setBroadcastTarget(target);
        answers = searcher.search(port);
    } else {
        SoapySDR::logf(SOAPY_SDR_INFO, "tarnixddc: no search on port %u while this program streams from it",
                       port);
    }
    const auto serial = args.find("serial");
    QList<Receiver> found;
    for (const Receiver &r : answers) {
        if (serial != args.end() && r.serial.toStdString() != serial->second)
            continue;
        if (!*searched && addr != args.end() && r.address != target)
            continue;
        const bool seen = std::any_of(found.begin(), found.end(), [&r](const Receiver &f) {
            return f.serial == r.serial && f.address == r.address && f.port == r.port;
        });
        if (!seen)
            found.append(r);
    }
    return found;
}

SoapySDR::KwargsList findTarnix(const SoapySDR::Kwargs &args)
{
    SoapySDR::KwargsList results;
    QList<Receiver> found;
    bool searched = false;
    try {
        found = discover(args, &searched);
    } catch (const std::exception &e) {
        SoapySDR::logf(SOAPY_SDR_ERROR, "%s", e.what());
        return results;
    }
    for (const Receiver &r : found) {
        // The serial is the identity: programs key their saved settings on the label, and SoapySDR
        // its open devices on these arguments, so neither names the address, which may change. An
        // address or port the client gave is kept, since only that reaches the receiver.
        SoapySDR::Kwargs k;
        k["driver"] = "tarnixddc";
        k["serial"] = r.serial.toStdString();
        k["label"] = TarnixSoapyDevice::labelFor(r.serial);
        for (const char *key : {"addr", "port"}) {
            const auto given = args.find(key);
            if (given != args.end())
                k[key] = given->second;
        }
        results.push_back(k);
    }
    return results;
}

SoapySDR::Device *makeTarnix(const SoapySDR::Kwargs &args)
{
    bool searched = false;
    const QList<Receiver> found = discover(args, &searched);
    if (!searched)
        soapyargs::fail("a stream of this program uses port " + std::to_string(portArgument(args)) +
                        "; close it first");
    if (found.isEmpty()) {
        std::string what = "no receiver answered";
        for (const char *key : {"serial", "addr", "port"}) {
            const auto it = args.find(key);
            if (it != args.end())
                what += std::string(" ") + key + "=" + it->second;
        }
        soapyargs::fail(what);
    }
    const Receiver &r = found.first();
    SoapySDR::logf(SOAPY_SDR_DEBUG, "tarnixddc: found %s at %s:%u", r.serial.toUtf8().constData(),
                   r.address.toString().toUtf8().constData(), r.port);
    return new TarnixSoapyDevice(r, args);
}

const SoapySDR::Registry g_registration("tarnixddc", &findTarnix, &makeTarnix, SOAPY_SDR_ABI_VERSION);

// A client that unloads the module (or exits) with a device still open would leave its threads
// running in unmapped code: stop them first.
struct StopLeftovers
{
    ~StopLeftovers() { TarnixSoapyDevice::shutdownAll(); }
} g_stopLeftovers;

} // namespace
