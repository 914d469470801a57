// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform.h"

#include "suiteconfig.h"

#include <QCryptographicHash>
#include <QDir>
#include <QStandardPaths>
#include <cstdio>
#include <fcntl.h>
#include <io.h>

// winsock2.h must come before windows.h.
#include <winsock2.h>

#include <windows.h>

quint64 fileIdentity(const QString& path)
{
    // The volume's serial number and the file's index on it: the Windows
    // counterpart of device and inode.
    const HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    if (!known)
        return 0;
    const quint64 index = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return (quint64(info.dwVolumeSerialNumber) << 32) ^ index;
}

QByteArray sqliteFileName(const QString& path)
{
    return path.toUtf8();
}

QString accountName()
{
    wchar_t name[257];
    DWORD size = DWORD(std::size(name));
    if (GetUserNameW(name, &size) && size > 0)
        return QString::fromWCharArray(name, int(size) - 1);
    return qEnvironmentVariable("USERNAME");
}

QString userDataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

TSettingsPlaces suiteSettingsPlaces()
{
    // A 64-bit program reads the 64-bit view of the registry, where the MSI's
    // 64-bit components and Group Policy write.
    const QString key = QLatin1String(kSuitePolicyKey);
    return {QStringLiteral("HKEY_LOCAL_MACHINE\\") + key,
            QStringLiteral("HKEY_CURRENT_USER\\") + key, QSettings::NativeFormat};
}

QString serviceFileFolder()
{
    const QString data = qEnvironmentVariable("PROGRAMDATA");
    return data.isEmpty() ? QString() : QDir::toNativeSeparators(data + QStringLiteral("/quor"));
}

QString defaultRootCertificate()
{
    return QDir::toNativeSeparators(qEnvironmentVariable("APPDATA") +
                                    QStringLiteral("/postgresql/root.crt"));
}

TSocketWait waitForSocket(int socket, bool writing, int timeoutMs)
{
    WSAPOLLFD entry{SOCKET(socket), short(POLLRDNORM | (writing ? POLLWRNORM : 0)), 0};
    const int ready = WSAPoll(&entry, 1, timeoutMs);
    return ready > 0    ? TSocketWait::Ready
           : ready == 0 ? TSocketWait::TimedOut
                        : TSocketWait::Failed;
}

void prepareStandardStreams()
{
    // No CR before each LF, and a console shows the UTF-8 as the text it is.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    SetConsoleOutputCP(CP_UTF8);
}

QString sha256Hex(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString reportLogFile(const QString& program)
{
    const QString base = userDataFolder();
    if (base.isEmpty())
        return {};
    return QDir(base).filePath(QStringLiteral("quor/log/") + program + QStringLiteral(".log"));
}

bool writeSystemLog(QtMsgType type, const QString& program, const QString& text)
{
    // The source the MSI and the setup register; without its message file
    // the event viewer still shows the text.
    static const HANDLE source = RegisterEventSourceW(nullptr, L"Quor");
    if (!source)
        return false;
    const QString line = program + QStringLiteral(": ") + text;
    LPCWSTR strings[] = {reinterpret_cast<LPCWSTR>(line.utf16())};
    ReportEventW(source, type == QtWarningMsg ? EVENTLOG_WARNING_TYPE : EVENTLOG_ERROR_TYPE, 0, 1,
                 nullptr, 1, 0, strings, nullptr);
    return false;
}
