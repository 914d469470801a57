// SPDX-License-Identifier: GPL-3.0-or-later
#include "quordialogs.h"

#include "quorinfo.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

namespace
{
TVersionDialogHook& versionHook()
{
    static TVersionDialogHook hook;
    return hook;
}
} // namespace

void setVersionDialogHook(TVersionDialogHook hook)
{
    versionHook() = std::move(hook);
}

void VersionsInfoZeigen(const QString& title, QWidget* owner, const QString& text)
{
    if (versionHook()) {
        versionHook()(title, owner, text);
        return;
    }
    QMessageBox box(owner);
    box.setWindowTitle(QStringLiteral("Versionsinformation"));
    box.setIcon(QMessageBox::Information);
    box.setTextFormat(Qt::PlainText);
    QString body =
        QStringLiteral("%1\n\nProgramm: %2\nVersion: %3\nQt: %4")
            .arg(title, QCoreApplication::applicationName(), QCoreApplication::applicationVersion(),
                 QString::fromLatin1(qVersion()));
    if (!text.isEmpty())
        body += QStringLiteral("\n\n") + text;
    box.setText(body);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

void installDialogReporting()
{
    QuorInfo().SetSink([](const QString& method, const QString& message, TStoreFailure) {
        QPointer<QWidget> parent = QApplication::activeWindow();
        QMessageBox box(parent);
        box.setWindowTitle(QStringLiteral("Fehler"));
        box.setIcon(QMessageBox::Critical);
        box.setTextFormat(Qt::PlainText);
        box.setText(
            QStringLiteral("Bei „%1“ ist ein Fehler aufgetreten:\n\n%2").arg(method, message));
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
    });
}
