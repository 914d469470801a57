// SPDX-License-Identifier: GPL-3.0-or-later
#include "quorexception.h"
#include "sqlstore.h"
#include "storeopen.h"
#include "teststore.h"

#include <QScopeGuard>
#include <QTest>

// TLS to the test cluster, whose certificate comes from a test CA made at the
// cluster's start (QUOR_TEST_PG_TLS names the folder of its files): the right
// CA and name connect encrypted; another CA, another name and an expired
// certificate are each refused as the certificate's matter.
class TestPgTls : public QObject
{
    Q_OBJECT

    QString m_tls = qEnvironmentVariable("QUOR_TEST_PG_TLS");
    QString m_port = qEnvironmentVariable("QUOR_TEST_PG_PORT");

    // The address of a fresh store's records, over TLS checked against root.
    QString address(const TestStore& db, const QString& host, const QString& root) const
    {
        return QStringLiteral(
                   "postgresql://postgres@%1:%2/quortest?sslmode=verify-full&sslrootcert=%3")
                   .arg(host, m_port, m_tls + QLatin1Char('/') + root) +
               QStringLiteral("&options=-csearch_path%3D") + db.name();
    }

    // The server's certificate and key files, taken on a reload.
    void serve(const QString& name) const
    {
        auto server =
            openStore(QStringLiteral("postgresql://postgres@127.0.0.1:%1/quortest?sslmode=disable")
                          .arg(m_port));
        auto& sql = dynamic_cast<TSqlStore&>(*server);
        // Relative to the server's data folder: the cluster's own tls folder.
        sql.execute(
            QStringLiteral("ALTER SYSTEM SET ssl_cert_file = '../tls/%1.crt'").arg(name).toUtf8());
        sql.execute(
            QStringLiteral("ALTER SYSTEM SET ssl_key_file = '../tls/%1.key'").arg(name).toUtf8());
        sql.execute("SELECT pg_reload_conf()");
    }

    static QString refusal(const QString& location)
    {
        try {
            openStore(location);
        } catch (const EQuorStoreError& e) {
            return e.Kind() == TStoreFailure::CertificateRefused ? e.Message() : QString();
        }
        return {};
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (m_tls.isEmpty())
            QSKIP("no TLS on the test cluster (QUOR_TEST_PG_TLS)");
    }

    void serverCertificateChecked_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("root");
        QTest::addColumn<bool>("expired");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("verify-full") << "localhost"
                                     << "ca.crt" << false << true;
        QTest::newRow("another CA") << "localhost"
                                    << "other-ca.crt" << false << false;
        QTest::newRow("another name") << "127.0.0.1"
                                      << "ca.crt" << false << false;
        QTest::newRow("expired") << "localhost"
                                 << "ca.crt" << true << false;
    }

    void serverCertificateChecked()
    {
        QFETCH(QString, host);
        QFETCH(QString, root);
        QFETCH(bool, expired);
        QFETCH(bool, accepted);
        TestStore db;
        const QString location = address(db, host, root);
        if (expired)
            serve("expired");
        const auto back = qScopeGuard([&] {
            if (expired)
                serve("server");
        });
        if (accepted) {
            auto store = openStore(location);
            const auto rows = dynamic_cast<TSqlStore&>(*store).query(
                "SELECT ssl::text FROM pg_stat_ssl WHERE pid = pg_backend_pid()");
            QVERIFY(rows->next());
            QCOMPARE(rows->column(0).toByteArray(), QByteArray("true"));
            return;
        }
        // The server takes a new certificate with its next session.
        QTRY_VERIFY(!refusal(location).isEmpty());
        const QString message = refusal(location);
        QVERIFY2(message.contains("Zertifikat des Datenbankservers wurde nicht anerkannt"),
                 qPrintable(message));
        QVERIFY2(message.contains("Stammzertifikat: " + m_tls + QLatin1Char('/') + root),
                 qPrintable(message));
        QVERIFY(!message.contains("nicht erreichbar"));
    }
};

QTEST_GUILESS_MAIN(TestPgTls)
#include "tst_pgtls.moc"
