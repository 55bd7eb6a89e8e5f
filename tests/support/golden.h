#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QString>

#include <gtest/gtest.h>

// Output compared with what the programs printed when it was recorded (tests/golden). With
// ORVANTIS_RECORD_GOLDEN=1 in the environment the files are written instead: done once, from
// a build whose output is known to be right, and then reviewed as any change is.
inline bool recordingGolden() {
    return qgetenv("ORVANTIS_RECORD_GOLDEN") == "1";
}

inline QString goldenPath(const QString &name) {
    return QStringLiteral(ORVANTIS_GOLDEN_DIR "/") + name;
}

// The bytes, against the golden file of that name.
inline void expectGolden(const QString &name, const QByteArray &bytes) {
    QFile file(goldenPath(name));
    if (recordingGolden()) {
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << name.toStdString();
        file.write(bytes);
        return;
    }
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "no golden file " << name.toStdString();
    const QByteArray expected = file.readAll();
    EXPECT_EQ(bytes.size(), expected.size()) << name.toStdString();
    EXPECT_TRUE(bytes == expected) << name.toStdString() << " differs from its golden file";
}

// For output too large to keep: its size and SHA-256, against the golden file of that name.
inline void expectGoldenDigest(const QString &name, const QByteArray &bytes) {
    expectGolden(name, QByteArray::number(bytes.size()) + ' ' +
                           QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex() +
                           '\n');
}
