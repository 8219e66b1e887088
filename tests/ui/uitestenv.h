#pragma once

#include "ui/settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Every UI test runs in a fresh working directory, so the settings file never lands in the
// repository, and starts without a settings instance, as a freshly loaded library would.
class UiTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_previous = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
        Settings::destroyInstance();
    }
    void TearDown() override
    {
        Settings::destroyInstance();
        QDir::setCurrent(m_previous);
    }

    static QString iniPath() { return QString::fromLatin1(Settings::kFileName); }
    static void writeIni(const QByteArray &content)
    {
        QFile f(iniPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(content), content.size());
    }
    static QByteArray readIni()
    {
        QFile f(iniPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};
