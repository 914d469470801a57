// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "jsonfile.h"
#include "storebackend.h"

#include <QByteArray>
#include <QCommandLineParser>
#include <QStringList>
#include <functional>
#include <vector>

// quorstore: the suite's settings store from the command line, for
// administrators and for seeding the demo store. Each command family has a
// unit of its own; the table in tool.cpp names them all.

namespace quorstore
{

// Exit statuses, as --help and the manual page document them.
enum Status { Ok = 0, Drift = 1, Usage = 2, StoreFailed = 3, Unconfirmed = 4 };

// Wrong usage or a bad file: nothing was written.
struct EUsage {
    QString message;
};

// Where the tool's output goes: the process's streams, or a test's buffers.
class TConsole
{
public:
    virtual ~TConsole() = default;
    virtual void out(const QByteArray& bytes) = 0;
    virtual void err(const QByteArray& bytes) = 0;
    void print(const QString& text) { out(text.toUtf8()); }
    void complain(const QString& text) { err(text.toUtf8()); }
};

// One command as it was called, on the store it named.
struct TInvocation {
    TStoreBackend& store;
    QStringList args;
    const QCommandLineParser& parser;
    TConsole& console;

    bool isSet(const char* option) const { return parser.isSet(QLatin1String(option)); }
    // Output written whole, to a file or with "-" to the console; never onto
    // the store itself.
    void writeOutput(const QString& target, const QByteArray& bytes);
    // The same, written piece by piece as produce gives it; to the console
    // only once it is whole.
    void writeOutput(const QString& target, const std::function<void(const TSink&)>& produce);
};

struct TOption {
    const char* name;
    const char* valueName; // nullptr: a switch
    const char* description;
    char shortName = 0;
};

struct TCommand {
    const char* name;
    const char* arguments;
    const char* summary;
    int minArguments;
    int maxArguments;
    // Fills the store as asked, and may therefore make a new one.
    bool creates;
    std::vector<TOption> options;
    // Checks the arguments and options before any store is opened; may be empty.
    void (*check)(const QStringList& args, const QCommandLineParser& parser);
    int (*run)(TInvocation& call);
};

// The command families.
int list(TInvocation& call);
int show(TInvocation& call);
int importFile(TInvocation& call);
int exportFile(TInvocation& call);
int dump(TInvocation& call);
int restore(TInvocation& call);
int standards(TInvocation& call);
void checkPost(const QStringList& args, const QCommandLineParser& parser);
int post(TInvocation& call);
void checkHistory(const QStringList& args, const QCommandLineParser& parser);
int history(TInvocation& call);

// Runs the tool on its command line (the program's name first) and gives its
// exit status.
int run(const QStringList& arguments, TConsole& console);

} // namespace quorstore
