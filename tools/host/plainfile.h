#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <type_traits>

// C stdio files for the host's own output. QFile is a QObject, and the first QObject made in a
// thread makes that thread Qt's main thread; a real ExtIO host never does that, so this one does
// not either while a plug-in (which brings its own Qt application) may be loaded.
std::FILE *openPlainFile(const QString &path, const char *mode);
bool writePlainFile(const QString &path, const QByteArray &data, QString *error);
QString lastFileError();

// Text output on a C stream (QTextStream on stdout would create a QFile, see above).
class PlainStream
{
public:
    explicit PlainStream(std::FILE *file) : m_file(file) {}
    PlainStream &operator<<(const QString &text)
    {
        std::fputs(text.toLocal8Bit().constData(), m_file);
        return *this;
    }
    PlainStream &operator<<(const char *text)
    {
        std::fputs(text, m_file);
        return *this;
    }
    template <typename T, std::enable_if_t<std::is_arithmetic_v<T>, int> = 0> PlainStream &operator<<(T value)
    {
        return *this << QString::number(value);
    }
    PlainStream &operator<<(PlainStream &(*manipulator)(PlainStream &)) { return manipulator(*this); }
    void flush() { std::fflush(m_file); }

private:
    std::FILE *m_file;
};

// Ends a line and flushes, so progress shows up at once even through a pipe.
inline PlainStream &endLine(PlainStream &s)
{
    s << "\n";
    s.flush();
    return s;
}
