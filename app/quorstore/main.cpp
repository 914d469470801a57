// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform.h"
#include "quorlog.h"
#include "tool.h"

#include <QCoreApplication>
#include <cstdio>

namespace
{

class TStandardStreams final : public quorstore::TConsole
{
public:
    void out(const QByteArray& bytes) override { write(stdout, bytes); }
    void err(const QByteArray& bytes) override { write(stderr, bytes); }

private:
    static void write(std::FILE* stream, const QByteArray& bytes)
    {
        std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    }
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    prepareStandardStreams();
    QCoreApplication::setApplicationName(QStringLiteral("quorstore"));
    // The tool tells its failures on standard error itself; the log keeps them.
    TLogSetup log = defaultLogSetup(QStringLiteral("quorstore"));
    log.reportsToStandardError = false;
    installLog(log);
    TStandardStreams console;
    return quorstore::run(QCoreApplication::arguments(), console);
}
