// A settings file the plug-in did not write must not reach QSettings' @Variant decoding: a crafted
// one (found by fuzzing) made it allocate without bound and abort the process. Such a file is never
// parsed: reads and writes keep to its other lines, so every key that reads safely is kept. Files the
// plug-in writes itself still work.
#include "ui/settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// The fuzzer's crashing input: a @Variant holding a list that claims 0x28000000 entries.
const char kCrashingFile[] = "[General]]Sralie=@Variant(\\0\\0\\0\\n\\/\\0\\0\\x4)\n"
                             "SampleRateID=@Variant(\\0\\0\\0\\t(\\0\\0\\0\\x2Xx1)\n"
                             "=\\\n";

class SettingsFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_previous = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
    }
    void TearDown() override { QDir::setCurrent(m_previous); }

    static void write(const QByteArray &text)
    {
        QFile f(QString::fromLatin1(Settings::kFileName));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }
    static QByteArray contents()
    {
        QFile f(QString::fromLatin1(Settings::kFileName));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir m_dir;
    QString m_previous;
};

TEST_F(SettingsFile, LinesItDidNotWriteAreNeverParsedAndEverySafeKeyIsKept)
{
    const QByteArray big = "[General]\nSampleRateID=0\n" + QByteArray(70 * 1024, '#') + "\n";
    struct Case
    {
        QByteArray text;
        int sampleRateId; // the file's own 0 wherever its line is safe
    };
    const QList<Case> foreign{
        {QByteArray(kCrashingFile), Settings::kDefaultSampleRateId},
        {"[General]\nSampleRateID=0\nSerial=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\aQImage\\0)\n", 0},
        // '@' spelled by escapes or split by quotes reaches the same decoder.
        {"[General]\nSampleRateID=0\nSerial=\\x40Variant(\\0\\0\\0\\x2\\0\\0\\0\\x1)\n", 0},
        {"[General]\nSampleRateID=0\nSerial=\\100Variant(\\0\\0\\0\\x2\\0\\0\\0\\x1)\n", 0},
        {"[General]\nSampleRateID=0\nSerial=\\x10040Variant(\\0\\0\\0\\x2\\0\\0\\0\\x1)\n", 0},
        {"[General]\nSampleRateID=0\nSerial=@\"Variant(\\0\\0\\0\\x2\\0\\0\\0\\x1)\"\n", 0},
        {"[General]\nSampleRateID=0\nSerial=@Var\\\niant(\\0\\0\\0\\x2\\0\\0\\0\\x1)\n", 0},
        {"[General]\nSampleRateID=0\nSerial=x, @DateTime(\\0\\0\\0\\x2\\0\\0\\0\\x1)\n", 0},
        {big, 0},
    };
    Settings *s = Settings::instance();
    for (const Case &c : foreign) {
        SCOPED_TRACE(c.text.left(80).toStdString());
        write(c.text);
        EXPECT_EQ(s->sampleRateId(), c.sampleRateId);
        EXPECT_TRUE(s->useLpf());
        EXPECT_FALSE(s->useAtt());
        EXPECT_TRUE(s->serial().isEmpty());
        EXPECT_EQ(contents(), c.text) << "a read changes nothing";
        s->setUseAtt(true);
        s->setSerial("RVD010a1f00123");
        // Only the lines that could not be parsed are gone.
        const QByteArray now = contents();
        EXPECT_FALSE(now.contains("Variant(") || now.contains("DateTime(")) << now.toStdString();
        EXPECT_LT(now.size(), 1024);
        EXPECT_TRUE(s->useAtt());
        EXPECT_EQ(s->serial(), QByteArray("RVD010a1f00123"));
        EXPECT_EQ(s->sampleRateId(), c.sampleRateId);
    }
}

TEST_F(SettingsFile, FilesItWritesItselfStillReadAndWrite)
{
    const QList<QByteArray> own{
        "[General]\nSampleRateID=0\nUse_LPF=false\nUse_ATT=true\nSerial=@ByteArray(RVD010a1f00123)\n",
        // QSettings' own forms: "@@" for a text starting with '@', numeric escapes for control bytes.
        "[General]\nSampleRateID=0\nUse_LPF=false\nUse_ATT=true\nSerial=@@ByteArray(\nOther=\\x1\\0\n",
        // A later fuzzing find: what QSettings writes back for a text holding '@' and control bytes.
        "[General]\nSampleRateID=0\nUse_LPF=false\nUse_ATT=true\n=@String(@B\\0\\0\\0%)\n",
    };
    Settings *s = Settings::instance();
    for (const QByteArray &text : own) {
        SCOPED_TRACE(text.toStdString());
        write(text);
        EXPECT_EQ(s->sampleRateId(), 0);
        EXPECT_FALSE(s->useLpf());
        EXPECT_TRUE(s->useAtt());
        s->setUseLpf(true);
        s->setSerial("RVD010b2c00456");
        EXPECT_TRUE(s->useLpf());
        EXPECT_EQ(s->serial(), QByteArray("RVD010b2c00456"));
        EXPECT_EQ(s->sampleRateId(), 0);
    }
}

} // namespace
