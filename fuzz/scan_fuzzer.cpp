// The whole scan of a folder holding one account file with arbitrary content: at most one row,
// well formed, and never a failure other than a level that does not fit.
#include "platform/messagebox.h"
#include "scan/accounts/accountcells.h"
#include "scan/getscores.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {
class SilentMessageBox : public orvantis::MessageBox {
public:
    void show(const QString &, orvantis::MessageBoxStyle, const QString &) override {
        std::abort();
    } // the sort never fails here
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static QTemporaryDir folder;
    static const bool made = QDir().mkpath(folder.path() + "/accounts");
    (void)made;
    QFile file(folder.path() + "/accounts/fuzz.ini");
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();

    SilentMessageBox messages;
    orvantis::ReportList list(orvantis::reportColumnTitles());
    const orvantis::ScanReport report =
        orvantis::GetScores(folder.path(), list, {messages, QLocale::c()});
    const int rows = list.listItems().Count();
    if (report.failure) // one file of any bytes is read, or left out: the scan never fails for it
        std::abort();
    if (rows > 1 || (rows == 1 && !report.skipped.empty()))
        std::abort();
    if (rows == 1) {
        const QString slot = list.cell(0, 2);
        if (list.cell(0, 0).isEmpty() ||
            !(slot == "1" || slot == "2" || slot == "3" || slot == "X"))
            std::abort();
        if (slot == "X" && !list.cell(0, 1).isEmpty())
            std::abort();
    }
    return 0;
}
