#include "ui/settings.h"

#include "platform/mutexlocker.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSettings>
#include <QVariant>

namespace {

constexpr const char *kSampleRateIdKey = "SampleRateID";
constexpr const char *kUseLpfKey = "Use_LPF";
constexpr const char *kUseAttKey = "Use_ATT";
constexpr const char *kSerialKey = "Serial";

constexpr int kSampleRateIdUnset = -1;
constexpr int kSampleRatesHz[] = {78125, 156250, 312500};
constexpr int kSampleRateCount = int(sizeof(kSampleRatesHz) / sizeof(kSampleRatesHz[0]));

// Constant-initialised, so they are usable however the library's static objects are ordered.
QMutex g_instanceMutex;
// QSettings objects in different threads share Qt's cache of parsed files behind Qt's own lock,
// which ThreadSanitizer cannot see; taking this one around every use makes the hand-over visible
// and keeps each read-modify-write of the file whole. Lock order: g_instanceMutex, then this.
QMutex g_fileMutex;

// Far beyond anything this plug-in writes; a bigger file is not ours and is not read whole.
constexpr qint64 kMaxFileBytes = 64 * 1024;

// QSettings turns a value spelled @Variant(...) into whatever its binary stream names, and a crafted
// stream (a list claiming billions of entries) makes it allocate without bound and abort the host.
// Its own writes of what this plug-in stores only ever use the '@' forms @ByteArray(, @String( and
// "@@" (a text that starts with '@'). A file with any other '@', with an escape that spells one
// (\x40, \100, or \x10040 once cut to 16 bits), or too large, was not written here: it is then
// neither parsed nor written, and every read gives its default.
bool spellsAt(const QByteArray &text, int backslash)
{
    const char kind = backslash + 1 < text.size() ? text.at(backslash + 1) : '\0';
    const bool hex = kind == 'x' || kind == 'X';
    if (!hex && (kind < '0' || kind > '7'))
        return false;
    quint32 value = 0;
    int digits = 0;
    for (int at = backslash + (hex ? 2 : 1); at < text.size(); ++at, ++digits) {
        const char c = text.at(at);
        int d;
        if (c >= '0' && c <= (hex ? '9' : '7'))
            d = c - '0';
        else if (hex && ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'))
            d = (c | 0x20) - 'a' + 10;
        else
            break;
        if (digits >= 8)
            return true; // long enough to wrap into anything
        value = value * (hex ? 16 : 8) + quint32(d);
    }
    return (value & 0xFFFF) == '@';
}

bool isSafeToParse()
{
    QFile file(QString::fromLatin1(Settings::kFileName));
    if (!file.exists())
        return true;
    if (file.size() > kMaxFileBytes)
        return false;
    if (!file.open(QIODevice::ReadOnly))
        return true; // QSettings cannot read it either
    const QByteArray text = file.read(kMaxFileBytes + 1);
    if (text.size() > kMaxFileBytes)
        return false;
    for (int at = text.indexOf('@'); at >= 0; at = text.indexOf('@', at + 1)) {
        const QByteArray form = text.mid(at, 11);
        if (form.startsWith("@@"))
            ++at;
        else if (!form.startsWith("@ByteArray(") && !form.startsWith("@String("))
            return false;
    }
    for (int at = text.indexOf('\\'); at >= 0; at = text.indexOf('\\', at + 2)) {
        if (spellsAt(text, at))
            return false;
    }
    return true;
}

QVariant readKey(const char *key, const QVariant &fallback)
{
    platform::MutexLocker lock(&g_fileMutex);
    if (!isSafeToParse())
        return fallback;
    QSettings file(QString::fromLatin1(Settings::kFileName), QSettings::IniFormat);
    return file.value(QString::fromLatin1(key), fallback);
}

void writeKey(const char *key, const QVariant &value)
{
    platform::MutexLocker lock(&g_fileMutex);
    // QSettings reads the file before it writes it back.
    if (!isSafeToParse())
        return;
    QSettings file(QString::fromLatin1(Settings::kFileName), QSettings::IniFormat);
    file.setValue(QString::fromLatin1(key), value);
    // The destructor syncs the change to disk.
}

// A plain pointer outlives every static destructor, so whichever of the library's unload steps
// runs first leaves the other a null to delete, never a dangling one.
Settings *g_settings = nullptr;

// Deletes the instance when the library is unloaded.
struct SettingsOwner
{
    ~SettingsOwner() { Settings::destroyInstance(); }
} g_owner;

} // namespace

Settings::Settings()
{
    // An existing file is left exactly as it is, even with keys missing.
    platform::MutexLocker lock(&g_fileMutex);
    if (QFileInfo::exists(QString::fromLatin1(kFileName)))
        return;
    QSettings file(QString::fromLatin1(kFileName), QSettings::IniFormat);
    file.setValue(QString::fromLatin1(kSampleRateIdKey), kDefaultSampleRateId);
    file.setValue(QString::fromLatin1(kUseLpfKey), true);
    file.setValue(QString::fromLatin1(kUseAttKey), false);
    file.setValue(QString::fromLatin1(kSerialKey), QByteArray());
}

Settings *Settings::instance()
{
    platform::MutexLocker lock(&g_instanceMutex);
    if (!g_settings)
        g_settings = new Settings;
    return g_settings;
}

void Settings::destroyInstance()
{
    platform::MutexLocker lock(&g_instanceMutex);
    delete g_settings;
    g_settings = nullptr;
}

int Settings::sampleRateId() const
{
    bool ok = false;
    const int id = readKey(kSampleRateIdKey, kSampleRateIdUnset).toInt(&ok);
    return ok && id >= 0 && id < kSampleRateCount ? id : kDefaultSampleRateId;
}

int Settings::sampleRateHz() const
{
    return sampleRateHzForId(sampleRateId());
}

int Settings::sampleRateHzForId(int id)
{
    return id >= 0 && id < kSampleRateCount ? kSampleRatesHz[id] : kSampleRatesHz[kDefaultSampleRateId];
}

bool Settings::useLpf() const
{
    return readKey(kUseLpfKey, true).toBool();
}

void Settings::setUseLpf(bool on)
{
    writeKey(kUseLpfKey, on);
}

bool Settings::useAtt() const
{
    return readKey(kUseAttKey, false).toBool();
}

void Settings::setUseAtt(bool on)
{
    writeKey(kUseAttKey, on);
}

QByteArray Settings::serial() const
{
    return readKey(kSerialKey, QByteArray()).toByteArray();
}

void Settings::setSerial(const QByteArray &serial)
{
    writeKey(kSerialKey, serial);
}
