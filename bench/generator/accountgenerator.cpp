#include "accountgenerator.h"

#include <QDir>
#include <QFile>

#include <random>

namespace orvantis::bench {

namespace {

const char *const kSyllables[] = {"ar",  "bel", "cor", "dan", "el",  "fin", "gor", "hal",  "is",
                                  "jor", "kal", "lun", "mor", "nim", "or",  "pel", "quin", "ras",
                                  "sil", "tor", "ul",  "vor", "wen", "yr",  "zan"};
const char *const kClasses[] = {"Warrior", "Cleric", "Mage", "Rogue", "Ranger", "Bard"};

QByteArray word(std::mt19937 &random, int syllables) {
    QByteArray w;
    for (int i = 0; i < syllables; ++i)
        w += kSyllables[random() % std::size(kSyllables)];
    w[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(w[0])));
    return w;
}

QByteArray accountFile(std::mt19937 &random, int index) {
    QByteArray text = "[GENERAL]\r\n";
    // One account in fifty has no login yet.
    text += "Login=" +
            (random() % 50 == 0 ? QByteArray()
                                : word(random, 2).toLower() + QByteArray::number(index)) +
            "\r\n";
    text += "Email=player" + QByteArray::number(index) + "@example.net\r\n";
    text += "Created=20" + QByteArray::number(10 + random() % 15) + "-0" +
            QByteArray::number(1 + random() % 9) + "-1" + QByteArray::number(random() % 10) +
            "\r\n";
    const int characters = static_cast<int>(random() % 4);
    for (int slot = 1; slot <= 3; ++slot) {
        text += "\r\n[CHAR" + QByteArray::number(slot) + "]\r\n";
        if (slot > characters) {
            text += "Name=\r\nLevel=0\r\n";
            continue;
        }
        text += "Name=" + word(random, 1 + static_cast<int>(random() % 3)) + "\r\n";
        text += "Level=" + QByteArray::number(1 + static_cast<int>(random() % 120)) + "\r\n";
        text += "Class=" + QByteArray(kClasses[random() % std::size(kClasses)]) + "\r\n";
        text += "Gold=" + QByteArray::number(static_cast<int>(random() % 100000)) + "\r\n";
    }
    return text;
}

} // namespace

bool generateAccounts(const QString &folder, int count, uint32_t seed) {
    const QString accounts = folder + QStringLiteral("/accounts");
    if (!QDir().mkpath(accounts))
        return false;
    std::mt19937 random(seed);
    for (int i = 0; i < count; ++i) {
        QFile file(accounts + QStringLiteral("/player%1.ini").arg(i, 7, 10, QLatin1Char('0')));
        if (!file.open(QIODevice::WriteOnly) || file.write(accountFile(random, i)) < 0)
            return false;
    }
    return true;
}

QString cachedAccountsFolder(int count) {
    const QString folder = QDir::tempPath() + QStringLiteral("/orvantis-bench-%1").arg(count);
    const QString done = folder + QStringLiteral("/complete");
    if (!QFile::exists(done)) {
        QDir(folder).removeRecursively();
        if (!generateAccounts(folder, count))
            return QString();
        QFile(done).open(QIODevice::WriteOnly);
    }
    return folder;
}

} // namespace orvantis::bench
