// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "storefailure.h"

#include <QString>
#include <exception>
#include <string>

// Common base of every failure the framework raises. The message is German and
// names what failed and on which store, file or key.
class EQuorException : public std::exception
{
public:
    explicit EQuorException(QString message);

    const QString& Message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_utf8.c_str(); }

private:
    QString m_message;
    std::string m_utf8;
};

// The settings store could not be opened or used as a whole (missing, not a
// database, locked, connection lost). Carries what went wrong, where, on which
// engine and with the engine's code; the message is made from them.
class EQuorStoreError : public EQuorException
{
public:
    explicit EQuorStoreError(TStoreFault fault);
    EQuorStoreError(TStoreFailure kind, TStoreStep step, TStoreEngine engine, QString store,
                    const QString& detail = {}, TStoreCode code = {});
    const TStoreFault& Fault() const noexcept { return m_fault; }
    TStoreFailure Kind() const noexcept { return m_fault.kind; }
    const QString& Store() const noexcept { return m_fault.store; }
    const TStoreCode& Code() const noexcept { return m_fault.code; }

private:
    TStoreFault m_fault;
};

// The kind of a store failure; Other for any other exception.
TStoreFailure storeFailureOf(const std::exception& e);
TStoreFailure storeFailureOf(const std::exception_ptr& failure);

// Message text of any exception, for reports.
QString exceptionText(const std::exception& e);
QString exceptionText(const std::exception_ptr& failure);
// The same with the engine's code of a store failure, for support: the log
// and the store tool's messages.
QString exceptionSupportText(const std::exception& e);
QString exceptionSupportText(const std::exception_ptr& failure);
