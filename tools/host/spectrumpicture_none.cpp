#include "tools/host/spectrumpicture.h"

#include "tools/host/hostoptions.h"

bool spectrumSupported()
{
    return false;
}

int renderSpectrumChild(const HostOptions &, char *, PlainStream &err)
{
    err << "tarnix-host: " << kNoSpectrumText << endLine;
    return kExitUsage;
}

bool drawSpectrum(const QString &, const HostOptions &, const HostRun &, QString *error)
{
    *error = QString::fromLatin1(kNoSpectrumText);
    return false;
}
