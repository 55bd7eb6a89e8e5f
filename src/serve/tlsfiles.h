#pragma once

#include <QByteArray>
#include <QString>

namespace orvantis {

// A certificate (its chain after it) and its private key, as PEM, checked to go together
// before the server starts: a server that could not make one connection is stopped at once.
struct TlsFiles {
    QByteArray certificate;
    QByteArray key;
    QString error; // why they cannot be served with; then both are empty
    bool any() const { return !certificate.isEmpty(); }
};
TlsFiles readTlsFiles(const QString &certificatePath, const QString &keyPath);

} // namespace orvantis
