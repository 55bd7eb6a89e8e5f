#include "scan/changereading.h"

#include "platform/failure.h"
#include "scan/filenames.h"
#include "scan/filering.h"
#include "scan/systemfiles.h"

#include <cerrno>

namespace orvantis {

ChangesRead readChangedFiles(const QString &folder, const std::vector<QByteArray> &names) {
    ChangesRead read;
    try {
        const int fd = openFolder(encodeFileName(folder));
        if (fd < 0)
            throw systemFailure(errno, QStringLiteral("Cannot read the folder ") + folder);
        struct Closing {
            int fd;
            ~Closing() { closeFile(fd); }
        } closing{fd};
        const ShortReads shortReads =
            FileRing::trustsFileSystemOf(fd) ? ShortReads::EndTheFile : ShortReads::MayComeEarly;
        read.files.reserve(names.size());
        for (const QByteArray &name : names)
            read.files.push_back({name, readAccountFileAt(fd, name, shortReads)});
    } catch (...) {
        read.files.clear();
        read.error = std::current_exception();
    }
    return read;
}

} // namespace orvantis
