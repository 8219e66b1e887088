#pragma once

#include <QByteArray>
#include <QString>

// The plug-in's persistent choices in "TarnixDDC_settings.ini" in the current working directory.
// The object keeps no copy of any value: every read and write opens the file afresh, so a write
// reaches the disk at once and a read sees edits made to the file in the meantime. Callable from
// any thread.
class Settings
{
public:
    static constexpr const char *kFileName = "TarnixDDC_settings.ini";
    static constexpr int kDefaultSampleRateId = 2;

    // The one instance, created on first use (writing the file with its defaults if it does not
    // exist). Safe when several threads make the first call at once. The instance stays owned here:
    // callers never delete it.
    static Settings *instance();
    // Deletes the instance (for the library's unload); a later instance() creates a new one.
    static void destroyInstance();

    // Index into 78125 / 156250 / 312500 samples per second; anything unreadable means 2.
    int sampleRateId() const;
    int sampleRateHz() const;

    bool useLpf() const;
    void setUseLpf(bool on);
    bool useAtt() const;
    void setUseAtt(bool on);
    QByteArray serial() const;
    void setSerial(const QByteArray &serial);

    // The rate in samples per second for an index; out-of-range indexes mean the highest rate.
    static int sampleRateHzForId(int id);

    Settings(const Settings &) = delete;
    Settings &operator=(const Settings &) = delete;

private:
    Settings();
    ~Settings() = default;
};
