// Windows: the folder is not watched yet. The window says so beside Refresh ("not following
// changes: …"), where Refresh still reads the folder anew, and orvantis-rank --watch ends with
// the same reason.
#include "scan/folderwatch.h"

namespace orvantis {

namespace {

class UnwatchedFolder : public FolderWatch {
public:
    QString watch(const QString &, Deliver) override {
        return QStringLiteral("changes are not watched for in this version for Windows");
    }
    void stop() override {}
};

} // namespace

std::unique_ptr<FolderWatch> makeSystemFolderWatch(QObject *) {
    return std::make_unique<UnwatchedFolder>();
}

} // namespace orvantis
