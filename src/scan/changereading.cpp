#include "scan/changereading.h"

#include "platform/failure.h"
#include "scan/filering.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace orvantis {

ChangesRead readChangedFiles(const QString &folder, const std::vector<QByteArray> &names) {
    ChangesRead read;
    try {
        const int fd =
            ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            throw systemFailure(errno, QStringLiteral("Cannot read the folder ") + folder);
        struct Closing {
            int fd;
            ~Closing() { ::close(fd); }
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
