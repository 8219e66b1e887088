// Runs every committed input of one fuzz target through its entry point; a target aborts on any
// broken promise, so passing means no input crashes or misbehaves.
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

TEST(FuzzReplay, EveryCommittedInputRunsClean)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(nullptr, nullptr);
    const QDir corpus(QStringLiteral(TARNIX_CORPUS_DIR));
    const QStringList names = corpus.entryList(QDir::Files, QDir::Name);
    ASSERT_FALSE(names.isEmpty()) << TARNIX_CORPUS_DIR;
    for (const QString &name : names) {
        SCOPED_TRACE(name.toStdString());
        QFile f(corpus.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray input = f.readAll();
        EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.constData()),
                                         size_t(input.size())),
                  0);
    }
}
