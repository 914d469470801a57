// SPDX-License-Identifier: GPL-3.0-or-later
#include "quorlog.h"

#include "platform.h"

#include <QDir>
#include <QFileInfo>
#include <QRecursiveMutex>
#include <QSysInfo>
#include <cstdio>
#include <memory>

namespace
{

struct TLogState {
    TLogSetup setup;
    QString workstation;
    std::unique_ptr<TRotatingLogFile> file;
    // Recursive: a message logged while one is written must not hang the program.
    QRecursiveMutex lock;
};

TLogState& state()
{
    static TLogState log;
    return log;
}

void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    TLogState& log = state();
    const QMutexLocker locked(&log.lock);
    // The system's log takes what went wrong, not the traces asked for.
    const bool toJournal = (type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg) &&
                           writeSystemLog(type, log.setup.program, message);
    if (log.file)
        log.file->append(
            logEntry(QDateTime::currentDateTime(), log.setup.program, log.workstation, message)
                .toUtf8());
    const bool report = qstrcmp(context.category, "quor.report") == 0;
    if (!toJournal && (!report || log.setup.reportsToStandardError)) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(message));
        std::fflush(stderr);
    }
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

QString logEntry(const QDateTime& time, const QString& program, const QString& workstation,
                 const QString& text)
{
    QString flat = text;
    flat.replace(QLatin1String("\r\n"), QLatin1String(" | "))
        .replace(QLatin1Char('\n'), QLatin1String(" | "));
    // With its offset from UTC, so that entries of workstations compare.
    const QDateTime stamped = time.toOffsetFromUtc(time.offsetFromUtc());
    return QStringLiteral("%1 %2 %3 %4\n")
        .arg(stamped.toString(Qt::ISODateWithMs), program, workstation, flat);
}

TRotatingLogFile::TRotatingLogFile(QString path, qint64 bound)
    : m_path(std::move(path)), m_bound(bound)
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
}

void TRotatingLogFile::append(const QByteArray& line)
{
    // Opened for each entry: a file support moved away or deleted is begun anew.
    const qint64 size = QFileInfo(m_path).size();
    if (size > 0 && size + line.size() > m_bound) {
        const QString older = m_path + QStringLiteral(".1");
        QFile::remove(older);
        QFile::rename(m_path, older);
    }
    QFile file(m_path);
    if (file.open(QIODevice::Append | QIODevice::WriteOnly))
        file.write(line);
}

TLogSetup defaultLogSetup(const QString& program)
{
    TLogSetup setup;
    setup.program = program;
    setup.file = reportLogFile(program);
    return setup;
}

void installLog(const TLogSetup& setup)
{
    TLogState& log = state();
    {
        const QMutexLocker locked(&log.lock);
        log.setup = setup;
        log.workstation = QSysInfo::machineHostName();
        log.file = setup.file.isEmpty()
                       ? nullptr
                       : std::make_unique<TRotatingLogFile>(setup.file, setup.bound);
    }
    qInstallMessageHandler(handleMessage);
}
