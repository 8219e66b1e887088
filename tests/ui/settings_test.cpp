#include "tests/ui/uitestenv.h"

#include <QRandomGenerator>
#include <QSettings>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using SettingsTest = UiTest;

TEST_F(SettingsTest, FirstUseCreatesTheFileWithTheDefaults)
{
    ASSERT_FALSE(QFile::exists(iniPath()));
    Settings *s = Settings::instance();
    // Qt's INI writer sorts the keys of a section, whatever order they were set in.
    EXPECT_EQ(readIni(),
              QByteArray("[General]\nSampleRateID=2\nSerial=@ByteArray()\nUse_ATT=false\nUse_LPF=true\n"));
    EXPECT_EQ(s->sampleRateId(), 2);
    EXPECT_EQ(s->sampleRateHz(), 312500);
    EXPECT_TRUE(s->useLpf());
    EXPECT_FALSE(s->useAtt());
    EXPECT_TRUE(s->serial().isEmpty());
}

TEST_F(SettingsTest, AnExistingFileIsLeftAloneAndMissingKeysReadAsDefaults)
{
    const QByteArray content("; hand-written\n[General]\nSampleRateID=0\n");
    writeIni(content);
    Settings *s = Settings::instance();
    EXPECT_EQ(readIni(), content);
    EXPECT_EQ(s->sampleRateId(), 0);
    EXPECT_TRUE(s->useLpf());
    EXPECT_FALSE(s->useAtt());
    EXPECT_TRUE(s->serial().isEmpty());
}

TEST_F(SettingsTest, WritesReachTheFileAtOnceAndReadsSeeOutsideEdits)
{
    Settings *s = Settings::instance();
    s->setUseAtt(true);
    s->setUseLpf(false);
    s->setSerial("RVD01a0ff00042");
    {
        QSettings file(iniPath(), QSettings::IniFormat);
        EXPECT_EQ(file.value("Use_ATT").toString(), QString("true"));
        EXPECT_EQ(file.value("Use_LPF").toString(), QString("false"));
        EXPECT_EQ(file.value("Serial").toByteArray(), QByteArray("RVD01a0ff00042"));
    }
    writeIni("[General]\nUse_ATT=false\nSerial=@ByteArray(X)\nSampleRateID=1\n");
    EXPECT_FALSE(s->useAtt());
    EXPECT_EQ(s->serial(), QByteArray("X"));
    EXPECT_EQ(s->sampleRateHz(), 156250);
}

TEST_F(SettingsTest, FirstCreationFromSeveralThreadsGivesOneInstance)
{
    constexpr int kThreads = 8;
    std::atomic<bool> go{false};
    std::vector<Settings *> seen(kThreads, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (!go && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
            seen[i] = Settings::instance();
            seen[i]->sampleRateHz();
        });
    }
    go = true;
    for (std::thread &t : threads)
        t.join();
    for (Settings *s : seen)
        EXPECT_EQ(s, seen[0]);
    EXPECT_EQ(readIni(),
              QByteArray("[General]\nSampleRateID=2\nSerial=@ByteArray()\nUse_ATT=false\nUse_LPF=true\n"));
}

// A damaged file must never bring the host down: every read gives a usable value and writes go on.
TEST_F(SettingsTest, DamagedFilesReadAsUsableValues)
{
    QByteArray noise(4096, '\0');
    QRandomGenerator rng(1234);
    for (char &c : noise)
        c = char(rng.bounded(256));
    const QList<QByteArray> files = {
        noise,
        QByteArray(64, '\0'),
        "[General\nSampleRateID=1",
        "[General]\nSerial=@ByteArray(RVD01\nUse_ATT=@Variant(\\0\\0\\0\\x1\\0\\x1",
        "[General]\nSampleRateID=@Variant(\\0\\0\\0\\xb\\0\\x7f\\xff\\xff\\xff)\n",
        "[General]\nSampleRateID=@Variant(\\xff\\xff\\xff\\xff\\0)\nUse_LPF=\\xd800\n",
        "[General]\nSampleRateID=" + QByteArray(200000, '9') + "\n",
        "\xef\xbb\xbf[General]\nSampleRateID=\"1\nUse_ATT=\xff\xfe\n",
    };
    for (const QByteArray &content : files) {
        SCOPED_TRACE(content.left(40).toHex().toStdString());
        writeIni(content);
        Settings *s = Settings::instance();
        EXPECT_GE(s->sampleRateId(), 0);
        EXPECT_LE(s->sampleRateId(), 2);
        EXPECT_EQ(s->sampleRateHz(), Settings::sampleRateHzForId(s->sampleRateId()));
        s->useLpf();
        s->useAtt();
        s->serial();
        s->setUseAtt(true);
        s->setSerial("RVD01");
        EXPECT_TRUE(s->useAtt());
        EXPECT_EQ(s->serial(), QByteArray("RVD01"));
    }
}

} // namespace
