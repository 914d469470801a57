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
// database, locked, connection lost). Carries what went wrong and the store's
// display name; the message is made from them.
class EQuorStoreError : public EQuorException
{
public:
    EQuorStoreError(TStoreFailure kind, TStoreStep step, TStoreEngine engine, QString store,
                    const QString& detail = {});
    // A failure of a larger step that reports it in its own words.
    EQuorStoreError(TStoreFailure kind, QString message, QString store);
    TStoreFailure Kind() const noexcept { return m_kind; }
    const QString& Store() const noexcept { return m_store; }

private:
    TStoreFailure m_kind;
    QString m_store;
};

// The kind of a store failure; Other for any other exception.
TStoreFailure storeFailureOf(const std::exception& e);
TStoreFailure storeFailureOf(const std::exception_ptr& failure);

// Message text of any exception, for reports.
QString exceptionText(const std::exception& e);
QString exceptionText(const std::exception_ptr& failure);
