// SPDX-License-Identifier: GPL-3.0-or-later
#include "benchstore.h"

#include "formstoretext.h"
#include "storebackend.h"
#include "storeopen.h"

#include <sqlite3.h>
#include <stdexcept>

BenchStore::BenchStore() : m_path(m_dir.filePath(QStringLiteral("settings.sqlite")))
{
    openStore(m_path, TOpen::Create); // creates the schema as the framework does
}

BenchStore::~BenchStore()
{
    if (m_raw)
        sqlite3_close(m_raw);
}

sqlite3* BenchStore::raw()
{
    if (!m_raw) {
        if (sqlite3_open(m_path.toUtf8().constData(), &m_raw) != SQLITE_OK)
            throw std::runtime_error("open");
        sqlite3_exec(m_raw, "PRAGMA secure_delete = OFF", nullptr, nullptr, nullptr);
        sqlite3_busy_timeout(m_raw, 5000);
    }
    return m_raw;
}

void BenchStore::put(const QString& programm, const QString& maske, const QString& name,
                     const QByteArray& blob)
{
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(raw(),
                       "INSERT OR REPLACE INTO einstellungen VALUES ('DEU', ?, ?, ?, '0', ?, ?)",
                       -1, &st, nullptr);
    const QByteArray p = programm.toUtf8(), m = maske.toUtf8(), n = name.toUtf8();
    const QByteArray k = (QStringLiteral("Kurz ") + name).toUtf8();
    sqlite3_bind_text(st, 1, p.constData(), int(p.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, m.constData(), int(m.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 3, n.constData(), int(n.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 4, k.constData(), int(k.size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(st, 5, blob.constData(), int(blob.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(st) != SQLITE_DONE)
        throw std::runtime_error(sqlite3_errmsg(raw()));
    sqlite3_finalize(st);
}

void BenchStore::addNamedSettings(int count, const QByteArray& blob)
{
    sqlite3_exec(raw(), "BEGIN", nullptr, nullptr, nullptr);
    for (int i = 0; i < 200; ++i) {
        put(QStringLiteral("VESKALN"), QStringLiteral("X"), QStringLiteral("vorher %1").arg(i),
            "x");
        put(QStringLiteral("VESKALO"), QStringLiteral("VESKALP"),
            QStringLiteral("danach %1").arg(i), "x");
        put(QStringLiteral("ZZZ"), QStringLiteral("ZZZ"), QStringLiteral("danach %1").arg(i), "x");
    }
    for (int i = 0; i < count; ++i)
        put(QStringLiteral("VESKALO"), QStringLiteral("VESKALO"),
            QStringLiteral("Einstellung %1 für Kundenkarten").arg(i, 6, 10, QLatin1Char('0')),
            blob);
    sqlite3_exec(raw(), "COMMIT", nullptr, nullptr, nullptr);
}

QByteArray descriptionBlob(int lines)
{
    QStringList text;
    for (int i = 0; i < lines; ++i)
        text << QStringLiteral("Zeile %1 der Beschreibung: Kundendaten für den Kartenhersteller, "
                               "äöü ß.")
                    .arg(i);
    return formStoreBlob({{QStringLiteral("msText.Lines"), text}});
}
