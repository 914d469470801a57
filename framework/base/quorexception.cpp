// SPDX-License-Identifier: GPL-3.0-or-later
#include "quorexception.h"

EQuorException::EQuorException(QString message)
    : m_message(std::move(message)), m_utf8(m_message.toStdString())
{
}

EQuorStoreError::EQuorStoreError(TStoreFault fault)
    : EQuorException(storeFailureText(fault)), m_fault(std::move(fault))
{
}

EQuorStoreError::EQuorStoreError(TStoreFailure kind, TStoreStep step, TStoreEngine engine,
                                 QString store, const QString& detail, TStoreCode code)
    : EQuorStoreError(TStoreFault(kind, step, engine, std::move(store), detail, std::move(code)))
{
}

TStoreFailure storeFailureOf(const std::exception& e)
{
    const auto* failure = dynamic_cast<const EQuorStoreError*>(&e);
    return failure ? failure->Kind() : TStoreFailure::Other;
}

QString exceptionText(const std::exception& e)
{
    if (const auto* q = dynamic_cast<const EQuorException*>(&e))
        return q->Message();
    return QString::fromLocal8Bit(e.what());
}

QString exceptionSupportText(const std::exception& e)
{
    if (const auto* failure = dynamic_cast<const EQuorStoreError*>(&e))
        return storeFailureSupportText(failure->Fault());
    return exceptionText(e);
}

namespace
{
// What of a held exception is asked for, or other for one of no known type.
template <typename Result, typename Ask>
Result ofException(const std::exception_ptr& failure, Ask&& ask, Result other)
{
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        return ask(e);
    } catch (...) {
        return other;
    }
}
} // namespace

QString exceptionText(const std::exception_ptr& failure)
{
    return ofException(
        failure, [](const std::exception& e) { return exceptionText(e); },
        QStringLiteral("Unbekannter Fehler"));
}

TStoreFailure storeFailureOf(const std::exception_ptr& failure)
{
    return ofException(
        failure, [](const std::exception& e) { return storeFailureOf(e); }, TStoreFailure::Other);
}

QString exceptionSupportText(const std::exception_ptr& failure)
{
    return ofException(
        failure, [](const std::exception& e) { return exceptionSupportText(e); },
        QStringLiteral("Unbekannter Fehler"));
}
