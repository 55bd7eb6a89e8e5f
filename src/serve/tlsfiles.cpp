#include "serve/tlsfiles.h"

#include <QFile>

#include <gnutls/gnutls.h>

namespace orvantis {

namespace {

// The file's bytes; empty, with the reason in `error`, when it cannot be read.
QByteArray contentsOf(const QString &path, const char *what, QString &error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read the TLS %1 %2: %3")
                    .arg(QLatin1String(what), path, file.errorString());
        return QByteArray();
    }
    QByteArray bytes = file.readAll();
    if (bytes.isEmpty())
        error = QStringLiteral("the TLS %1 %2 is empty").arg(QLatin1String(what), path);
    return bytes;
}

} // namespace

TlsFiles readTlsFiles(const QString &certificatePath, const QString &keyPath) {
    TlsFiles files;
    files.certificate = contentsOf(certificatePath, "certificate", files.error);
    if (files.error.isEmpty())
        files.key = contentsOf(keyPath, "key", files.error);
    if (!files.error.isEmpty())
        return {QByteArray(), QByteArray(), files.error};
    // The same library that will serve them says whether they go together.
    gnutls_certificate_credentials_t credentials = nullptr;
    if (gnutls_certificate_allocate_credentials(&credentials) != GNUTLS_E_SUCCESS)
        return {QByteArray(), QByteArray(), QStringLiteral("cannot start TLS: out of memory")};
    gnutls_datum_t certificate{reinterpret_cast<unsigned char *>(files.certificate.data()),
                               static_cast<unsigned>(files.certificate.size())};
    gnutls_datum_t key{reinterpret_cast<unsigned char *>(files.key.data()),
                       static_cast<unsigned>(files.key.size())};
    const int result = gnutls_certificate_set_x509_key_mem2(credentials, &certificate, &key,
                                                            GNUTLS_X509_FMT_PEM, nullptr, 0);
    gnutls_certificate_free_credentials(credentials);
    if (result >= 0)
        return files;
    QString why;
    if (result == GNUTLS_E_CERTIFICATE_KEY_MISMATCH)
        why = QStringLiteral("the key %1 is not the key of the certificate %2")
                  .arg(keyPath, certificatePath);
    else
        why = QStringLiteral("cannot serve HTTPS with the certificate %1 and the key %2: %3")
                  .arg(certificatePath, keyPath, QString::fromUtf8(gnutls_strerror(result)));
    return {QByteArray(), QByteArray(), why};
}

} // namespace orvantis
