// orvantis-generate FOLDER COUNT [SEED]: writes COUNT synthetic account files into FOLDER/accounts.
#include "accountgenerator.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    bool countOk = false, seedOk = true;
    const int count = args.value(1).toInt(&countOk);
    const uint seed = args.size() > 2 ? args[2].toUInt(&seedOk) : 1;
    if (args.size() < 2 || args.size() > 3 || !countOk || count < 0 || !seedOk) {
        std::fputs("Usage: orvantis-generate FOLDER COUNT [SEED]\n"
                   "Writes COUNT synthetic account files into FOLDER/accounts; the same SEED gives "
                   "the same files.\n",
                   stderr);
        return 2;
    }
    if (!orvantis::bench::generateAccounts(args[0], count, seed)) {
        std::fputs("orvantis-generate: could not write the account files\n", stderr);
        return 1;
    }
    return 0;
}
