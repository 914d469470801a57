// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform.h"

#include "suiteconfig.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <cerrno>
#include <openssl/evp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

quint64 fileIdentity(const QString& path)
{
    struct stat status {
    };
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return 0;
    return (quint64(status.st_dev) << 32) ^ quint64(status.st_ino);
}

QByteArray sqliteFileName(const QString& path)
{
    return QFile::encodeName(path);
}

QString accountName()
{
    if (const passwd* entry = ::getpwuid(::geteuid()))
        return QString::fromLocal8Bit(entry->pw_name);
    return qEnvironmentVariable("USER");
}

QString userDataFolder()
{
    // Without either, the data folder would be taken under "/".
    if (qEnvironmentVariableIsEmpty("HOME") && qEnvironmentVariableIsEmpty("XDG_DATA_HOME"))
        return {};
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

TSettingsPlaces suiteSettingsPlaces()
{
    TSettingsPlaces places{QStringLiteral("/etc/quor/quor.conf"), QString(), QSettings::IniFormat};
    if (!qEnvironmentVariableIsEmpty("HOME") || !qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"))
        places.user = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                      QStringLiteral("/quor/quor.conf");
    return places;
}

QString serviceFileFolder()
{
    return {};
}

QString defaultRootCertificate()
{
    return QDir::homePath() + QStringLiteral("/.postgresql/root.crt");
}

TSocketWait waitForSocket(int socket, bool writing, int timeoutMs)
{
    pollfd entry{socket, short(POLLIN | (writing ? POLLOUT : 0)), 0};
    int ready;
    do {
        ready = ::poll(&entry, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready > 0    ? TSocketWait::Ready
           : ready == 0 ? TSocketWait::TimedOut
                        : TSocketWait::Failed;
}

void prepareStandardStreams() {}

QString sha256Hex(const QByteArray& bytes)
{
    // The crypto library's SHA-256 uses the processor's own instructions: a
    // copy of several megabytes is hashed in a few milliseconds.
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(bytes.constData(), std::size_t(bytes.size()), digest, &size, EVP_sha256(),
                   nullptr) != 1)
        return QString::fromLatin1(
            QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    return QString::fromLatin1(
        QByteArray::fromRawData(reinterpret_cast<const char*>(digest), int(size)).toHex());
}

QString reportLogFile(const QString& /*program*/)
{
    return {};
}

bool writeSystemLog(QtMsgType type, const QString& program, const QString& text)
{
    const int priority = type == QtFatalMsg      ? LOG_CRIT
                         : type == QtCriticalMsg ? LOG_ERR
                                                 : LOG_WARNING;
    if (sd_journal_send("MESSAGE=%s", text.toUtf8().constData(), "PRIORITY=%d", priority,
                        "SYSLOG_IDENTIFIER=%s", program.toUtf8().constData(), nullptr) < 0)
        return false;
    // systemd names the stream it gave a service or a desktop program as its
    // standard error by device and inode.
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    struct stat status {
    };
    if (stream.isEmpty() || ::fstat(STDERR_FILENO, &status) != 0)
        return false;
    return stream == QByteArray::number(quint64(status.st_dev)) + ':' +
                         QByteArray::number(quint64(status.st_ino));
}
