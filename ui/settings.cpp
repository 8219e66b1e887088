#include "ui/settings.h"

#include "platform/mutexlocker.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryFile>
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

// QSettings decodes a value whose text starts with @Variant( or @DateTime( as a binary stream of any
// type it names, and a crafted stream (a list claiming billions of entries) makes it allocate
// without bound and abort the host. This plug-in never writes either sequence (the serial, the only
// free text it stores, is encoded so that it cannot hold one), so a line that could hold one was not
// written by it. To find one, the file is read the way QSettings reads values, but
// erring wide: escapes decoded (numeric ones cut to 16 bits, as QSettings does; any other escaped
// character taken as itself), quotes and line continuations dropped. A file with a match, or too
// large, is never parsed whole: only its lines without a match are (within the size limit), and the
// first write keeps just those.
bool mayHoldStreamedValue(const QByteArray &text)
{
    QByteArray seen;
    seen.reserve(text.size());
    for (int at = 0; at < text.size(); ++at) {
        const char c = text.at(at);
        if (c == '"')
            continue;
        if (c != '\\' || at + 1 == text.size()) {
            seen += c;
            continue;
        }
        const char kind = text.at(++at);
        if (kind == '\n' || kind == '\r') {
            if (kind == '\r' && at + 1 < text.size() && text.at(at + 1) == '\n')
                ++at;
            continue;
        }
        const bool hex = kind == 'x' || kind == 'X';
        if (!hex && (kind < '0' || kind > '7')) {
            seen += kind;
            continue;
        }
        quint32 value = hex ? 0 : quint32(kind - '0');
        for (int digits = 0; at + 1 < text.size(); ++digits) {
            const char d = text.at(at + 1);
            int v = -1;
            if (d >= '0' && d <= (hex ? '9' : '7'))
                v = d - '0';
            else if (hex && (d | 0x20) >= 'a' && (d | 0x20) <= 'f')
                v = (d | 0x20) - 'a' + 10;
            if (v < 0)
                break;
            if (digits >= 8)
                return true; // long enough to wrap into anything
            value = value * (hex ? 16 : 8) + quint32(v);
            ++at;
        }
        const quint32 ch = value & 0xFFFF;
        seen += ch > 0 && ch < 0x80 ? char(ch) : '\x7F';
    }
    return seen.contains("@Variant(") || seen.contains("@DateTime(");
}

// The file's lines as QSettings reads them: a line ends at a line break that is not escaped (a
// backslash before one continues the line). Each piece keeps its line break, so the pieces put
// together give the text back. Without `complete` an unfinished last line is left out.
QList<QByteArray> iniLines(const QByteArray &text, bool complete)
{
    QList<QByteArray> lines;
    int start = 0;
    for (int at = 0; at < text.size(); ++at) {
        const char c = text.at(at);
        if (c == '\\') {
            // The escaped character, or an escaped \r\n as a whole, belongs to this line.
            at += at + 2 < text.size() && text.at(at + 1) == '\r' && text.at(at + 2) == '\n' ? 2 : 1;
            continue;
        }
        if (c == '\n' || c == '\r') {
            lines << text.mid(start, at + 1 - start);
            start = at + 1;
        }
    }
    if (complete && start < text.size())
        lines << text.mid(start);
    return lines;
}

// The lines of a file that are safe to parse. A match never spans a line break, so safe lines stay
// safe together; the whole is checked once more all the same.
QByteArray safeLines(const QByteArray &text, bool complete)
{
    QByteArray kept;
    for (const QByteArray &line : iniLines(text, complete)) {
        if (!mayHoldStreamedValue(line))
            kept += line;
    }
    return mayHoldStreamedValue(kept) ? QByteArray() : kept;
}

enum class FileState { Missing, Safe, Unsafe };

// Whether QSettings may parse the file as it is. For an unsafe file, `safeText` receives the lines
// that it may parse: every key the user set stays readable when another line is not.
FileState inspectFile(QByteArray *safeText)
{
    QFile file(QString::fromLatin1(Settings::kFileName));
    if (!file.exists())
        return FileState::Missing;
    if (!file.open(QIODevice::ReadOnly))
        return FileState::Safe; // QSettings cannot read it either
    const QByteArray text = file.read(kMaxFileBytes + 1);
    const bool whole = text.size() <= kMaxFileBytes;
    if (whole && !mayHoldStreamedValue(text))
        return FileState::Safe;
    *safeText = safeLines(text.left(int(kMaxFileBytes)), whole);
    return FileState::Unsafe;
}

QVariant readKey(const char *key, const QVariant &fallback)
{
    platform::MutexLocker lock(&g_fileMutex);
    QByteArray safeText;
    if (inspectFile(&safeText) != FileState::Unsafe) {
        QSettings file(QString::fromLatin1(Settings::kFileName), QSettings::IniFormat);
        return file.value(QString::fromLatin1(key), fallback);
    }
    // Read from a copy of the safe lines: a read leaves the file as the user left it.
    QTemporaryFile copy;
    if (!copy.open() || copy.write(safeText) != safeText.size())
        return fallback;
    copy.close();
    QSettings file(copy.fileName(), QSettings::IniFormat);
    return file.value(QString::fromLatin1(key), fallback);
}

bool replaceFile(const QByteArray &text)
{
    QSaveFile file(QString::fromLatin1(Settings::kFileName));
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
}

void writeKey(const char *key, const QVariant &value)
{
    platform::MutexLocker lock(&g_fileMutex);
    // QSettings reads the file before it writes it back, so the lines it must not parse go first.
    QByteArray safeText;
    if (inspectFile(&safeText) == FileState::Unsafe && !replaceFile(safeText))
        return;
    QSettings file(QString::fromLatin1(Settings::kFileName), QSettings::IniFormat);
    file.setValue(QString::fromLatin1(key), value);
    // The destructor syncs the change to disk.
}

// The serial as stored: '@' and '%' spelled %40 and %25, every other byte as it is. Text typed into
// the panel can then never put "@Variant(" into the file, which would make those lines unreadable,
// and an ordinary serial looks the same in the file.
QByteArray encodeSerial(const QByteArray &serial)
{
    QByteArray stored;
    stored.reserve(serial.size());
    for (const char c : serial) {
        if (c == '@')
            stored += "%40";
        else if (c == '%')
            stored += "%25";
        else
            stored += c;
    }
    return stored;
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
    return QByteArray::fromPercentEncoding(readKey(kSerialKey, QByteArray()).toByteArray());
}

void Settings::setSerial(const QByteArray &serial)
{
    writeKey(kSerialKey, encodeSerial(serial));
}
