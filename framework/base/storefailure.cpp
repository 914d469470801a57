// SPDX-License-Identifier: GPL-3.0-or-later
#include "storefailure.h"

namespace
{

// What failed, in the user's words.
QString stepText(TStoreStep step)
{
    switch (step) {
    case TStoreStep::Open:
        return QStringLiteral("Öffnen fehlgeschlagen");
    case TStoreStep::Begin:
        return QStringLiteral("Zugriff kann nicht begonnen werden");
    case TStoreStep::Read:
        return QStringLiteral("Lesen der Datensätze fehlgeschlagen");
    case TStoreStep::Write:
        return QStringLiteral("Schreiben fehlgeschlagen");
    case TStoreStep::Commit:
        return QStringLiteral("Änderungen können nicht gespeichert werden");
    case TStoreStep::Prepare:
        return QStringLiteral("Abfrage kann nicht vorbereitet werden");
    case TStoreStep::Wait:
        return QStringLiteral("Keine Antwort");
    }
    return {};
}

// Why it failed, as the person can act on it; empty where only the engine's
// message says more.
QString hint(TStoreFailure kind, TStoreEngine engine)
{
    const bool server = engine == TStoreEngine::Server;
    switch (kind) {
    case TStoreFailure::Locked:
        return server ? QStringLiteral("Die Daten sind von einer anderen Arbeitsstation gesperrt. ")
                      : QStringLiteral("Die Datenbank ist von einem anderen Programm gesperrt. ");
    case TStoreFailure::ReadOnly:
        return server ? QStringLiteral("Die Datenbank nimmt keine Änderungen an. ")
                      : QStringLiteral("Die Datenbank ist schreibgeschützt. ");
    case TStoreFailure::DiskFull:
        return server ? QStringLiteral("Der Datenträger des Servers ist voll. ")
                      : QStringLiteral("Der Datenträger ist voll. ");
    case TStoreFailure::Missing:
        return server ? QStringLiteral("Die Datenbank existiert nicht. ")
                      : QStringLiteral("Die Datei kann nicht geöffnet werden. ");
    case TStoreFailure::NotAStore:
        return QStringLiteral("Die Datei ist keine Einstellungsdatenbank. ");
    case TStoreFailure::DiskError:
        return QStringLiteral("Lese- oder Schreibfehler auf dem Datenträger. ");
    case TStoreFailure::Damaged:
        return QStringLiteral("Die Datenbankdatei ist beschädigt. ");
    case TStoreFailure::LoginRefused:
        return QStringLiteral("Anmeldung abgelehnt: Benutzer oder Kennwort falsch. ");
    case TStoreFailure::LoginNotPermitted:
        return QStringLiteral("Anmeldung abgelehnt: Der Benutzer darf sich nicht anmelden. ");
    case TStoreFailure::Unreachable:
        return QStringLiteral("Der Datenbankserver ist nicht erreichbar. ");
    case TStoreFailure::ConnectionLost:
        return QStringLiteral("Die Verbindung zum Datenbankserver ist abgebrochen. ");
    case TStoreFailure::CertificateRefused:
        return QStringLiteral("Das Zertifikat des Datenbankservers wurde nicht anerkannt: Es ist "
                              "nicht von einer Stelle ausgestellt, der das Stammzertifikat "
                              "vertraut, abgelaufen oder auf einen anderen Namen als den des "
                              "Servers ausgestellt (oder der Server bietet keine Verschlüsselung "
                              "an). Ohne anerkanntes Zertifikat kommt keine verschlüsselte "
                              "Verbindung zustande. ");
    case TStoreFailure::ServerStalled:
        return QStringLiteral("Der Datenbankserver antwortet nicht. ");
    case TStoreFailure::TimedOut:
        return QStringLiteral("Der Datenbankserver hat die Anweisung nach zu langer Zeit "
                              "abgebrochen. ");
    default:
        return {};
    }
}

} // namespace

QString TStoreCode::text() const
{
    if (!sqlstate.isEmpty())
        return QStringLiteral("SQLSTATE ") + QString::fromLatin1(sqlstate);
    if (sqlite != 0)
        return QStringLiteral("SQLite %1").arg(sqlite);
    return {};
}

QString storeFailureName(TStoreFailure kind)
{
    switch (kind) {
    case TStoreFailure::Other:
        return QStringLiteral("Other");
    case TStoreFailure::Missing:
        return QStringLiteral("Missing");
    case TStoreFailure::NoFolder:
        return QStringLiteral("NoFolder");
    case TStoreFailure::NoDataFolder:
        return QStringLiteral("NoDataFolder");
    case TStoreFailure::BadAddress:
        return QStringLiteral("BadAddress");
    case TStoreFailure::NotAStore:
        return QStringLiteral("NotAStore");
    case TStoreFailure::ReadOnly:
        return QStringLiteral("ReadOnly");
    case TStoreFailure::Locked:
        return QStringLiteral("Locked");
    case TStoreFailure::Unreachable:
        return QStringLiteral("Unreachable");
    case TStoreFailure::LoginRefused:
        return QStringLiteral("LoginRefused");
    case TStoreFailure::LoginNotPermitted:
        return QStringLiteral("LoginNotPermitted");
    case TStoreFailure::ConnectionLost:
        return QStringLiteral("ConnectionLost");
    case TStoreFailure::ServerStalled:
        return QStringLiteral("ServerStalled");
    case TStoreFailure::TimedOut:
        return QStringLiteral("TimedOut");
    case TStoreFailure::DiskFull:
        return QStringLiteral("DiskFull");
    case TStoreFailure::DiskError:
        return QStringLiteral("DiskError");
    case TStoreFailure::Damaged:
        return QStringLiteral("Damaged");
    case TStoreFailure::BadValue:
        return QStringLiteral("BadValue");
    case TStoreFailure::Replaced:
        return QStringLiteral("Replaced");
    case TStoreFailure::TransactionLost:
        return QStringLiteral("TransactionLost");
    case TStoreFailure::AwaitingStandby:
        return QStringLiteral("AwaitingStandby");
    case TStoreFailure::OutcomeUnknown:
        return QStringLiteral("OutcomeUnknown");
    case TStoreFailure::CertificateRefused:
        return QStringLiteral("CertificateRefused");
    }
    return QStringLiteral("Other");
}

namespace
{

// Reports that tell what became of a posting, or who holds the store: made
// from what the server told, not from the engine's words.
QString postingText(const TStoreFault& f)
{
    switch (f.kind) {
    case TStoreFailure::Locked: {
        const QString who = f.holder.isEmpty() ? QStringLiteral("einer anderen Arbeitsstation")
                                               : QStringLiteral("„%1“").arg(f.holder);
        const QString head =
            QStringLiteral("Einstellungsdatenbank „%1“: Zugriff kann nicht begonnen werden. ")
                .arg(f.store);
        if (f.heldForStandby)
            return head + QStringLiteral("Der Datenbankserver wartet seit %1 s darauf, dass sein "
                                         "Standby-Server eine Buchung von %2 bestätigt; bis "
                                         "dahin nimmt er keine weitere Buchung an.")
                              .arg(f.heldSeconds, who);
        return head +
               QStringLiteral("Die Daten sind gesperrt: Eine Buchung von %1 läuft seit %2 s.")
                   .arg(who, f.heldSeconds);
    }
    case TStoreFailure::AwaitingStandby:
        return QStringLiteral("Die Buchung ist auf dem Datenbankserver „%1“ gespeichert, aber sein "
                              "Standby-Server hat sie noch nicht bestätigt. Sie gilt, sobald er "
                              "sie bestätigt; bis dahin nimmt der Server keine weitere Buchung an.")
            .arg(f.store);
    case TStoreFailure::OutcomeUnknown:
        return QStringLiteral("Ob die Buchung gespeichert wurde, ist nicht bekannt: Die Antwort "
                              "des Datenbankservers „%1“ auf ihren Abschluss ist ausgeblieben. "
                              "Prüfen mit „quorstore history“, sobald der Datenbankserver wieder "
                              "erreichbar ist. Ursache: %2")
            .arg(f.store, f.cause);
    case TStoreFailure::TransactionLost:
        return QStringLiteral("Die Buchung wurde nicht gespeichert: Die Einstellungsdatenbank "
                              "hat sie abgebrochen, keine ihrer Änderungen ist gespeichert. "
                              "Ursache: %1")
            .arg(f.cause);
    default:
        return {};
    }
}

QString plainText(const TStoreFault& f)
{
    const TStoreFailure kind = f.kind;
    const QString& store = f.store;
    const QString& detail = f.detail;
    const bool server = f.engine == TStoreEngine::Server;
    // Failures that are no engine's error: the program's own findings.
    switch (kind) {
    case TStoreFailure::NoDataFolder:
        return QStringLiteral("Keine Einstellungsdatenbank: Es gibt keinen Ordner für die "
                              "Benutzerdaten (weder HOME noch XDG_DATA_HOME ist gesetzt), und "
                              "QUOR_STORE nennt keine Datenbank.");
    case TStoreFailure::NoFolder:
        return QStringLiteral("Einstellungsdatenbank „%1“ kann nicht geöffnet werden: Der Ordner "
                              "„%2“ existiert nicht.")
            .arg(store, detail);
    case TStoreFailure::BadAddress:
        return QStringLiteral("Einstellungsdatenbank „%1“: keine gültige PostgreSQL-Adresse.")
            .arg(store);
    case TStoreFailure::Replaced:
        return QStringLiteral("Einstellungsdatenbank „%1“ wurde entfernt oder ersetzt, während "
                              "das Programm lief. Bitte das Programm neu starten.")
            .arg(store);
    case TStoreFailure::TransactionLost:
        return QStringLiteral("Einstellungsdatenbank „%1“: Die Datenbank hat den laufenden "
                              "Zugriff abgebrochen; keine seiner Änderungen wurde gespeichert.")
            .arg(store);
    default:
        break;
    }
    if (detail.isEmpty()) {
        switch (kind) {
        case TStoreFailure::Missing:
            return QStringLiteral("Einstellungsdatenbank „%1“ existiert nicht.").arg(store);
        case TStoreFailure::NotAStore:
            return server ? QStringLiteral("Einstellungsdatenbank „%1“ enthält keine "
                                           "Einstellungstabelle. Sie wird beim ersten Einspielen "
                                           "(quorstore import oder restore) angelegt.")
                                .arg(store)
                          : QStringLiteral("„%1“ ist keine Einstellungsdatenbank: Die Datei "
                                           "enthält keine Einstellungstabelle.")
                                .arg(store);
        case TStoreFailure::ReadOnly:
            return QStringLiteral("Einstellungsdatenbank „%1“ ist schreibgeschützt.").arg(store);
        default:
            break;
        }
    }
    // The engine's own words, kept for support, on a line of their own.
    const QString words = detail.simplified();
    const QString said = words.isEmpty() ? QString() : QStringLiteral("\nMeldung: ") + words;
    if (f.step == TStoreStep::Open)
        return QStringLiteral("Einstellungsdatenbank „%1“ kann nicht geöffnet werden: %2")
                   .arg(store, hint(kind, f.engine))
                   .trimmed() +
               said;
    return QStringLiteral("Einstellungsdatenbank „%1“: %2. %3")
               .arg(store, stepText(f.step), hint(kind, f.engine))
               .trimmed() +
           said;
}

} // namespace

QString storeFailureText(const TStoreFault& fault)
{
    const bool told = (fault.kind == TStoreFailure::Locked && !fault.heldSeconds.isEmpty()) ||
                      fault.kind == TStoreFailure::AwaitingStandby ||
                      fault.kind == TStoreFailure::OutcomeUnknown ||
                      (fault.kind == TStoreFailure::TransactionLost && fault.postingLost);
    if (told)
        return postingText(fault);
    // A failed posting whose transaction was found not kept: the failure behind it.
    if (!fault.cause.isEmpty())
        return fault.cause;
    QString text = plainText(fault);
    if (fault.kind == TStoreFailure::CertificateRefused)
        text += QStringLiteral("\nStammzertifikat: ") + fault.rootCertificate;
    return text;
}

QString storeFailureSupportText(const TStoreFault& fault)
{
    const QString code = fault.code.text();
    const QString text = storeFailureText(fault);
    return code.isEmpty() ? text : text + QStringLiteral("\nCode: ") + code;
}

QString storeFindingText(TStoreFinding finding, const QString& what)
{
    switch (finding) {
    case TStoreFinding::NoMemory:
        return QStringLiteral("kein Speicher");
    case TStoreFinding::NoConnection:
        return QStringLiteral("keine Verbindung");
    case TStoreFinding::NoAnswer:
        return QStringLiteral("%1 s ohne Antwort").arg(what);
    case TStoreFinding::RuleBroken:
        return QStringLiteral("Programmfehler: Regel verletzt: %1").arg(what);
    case TStoreFinding::StateChange:
        return QStringLiteral("Programmfehler: Zustandswechsel %1 der Verbindung").arg(what);
    case TStoreFinding::CommitOutsidePosting:
        return QStringLiteral("Programmfehler: Abschluss außerhalb der Buchung");
    case TStoreFinding::AccessInAnother:
        return QStringLiteral("Programmfehler: ein Zugriff beginnt in einem anderen");
    case TStoreFinding::WriteAheadRefused:
        return QStringLiteral("eine vorausgesandte Änderung wurde abgelehnt");
    }
    return {};
}

QString recordGoneText(const QString& key, const QString& store)
{
    return QStringLiteral("Datensatz „%1“ ist in der Einstellungsdatenbank „%2“ nicht mehr "
                          "vorhanden.")
        .arg(key, store);
}

QString nulInKeyText(const QString& key)
{
    return QStringLiteral("Der Schlüssel „%1“ enthält ein NUL-Zeichen und wird nicht gespeichert.")
        .arg(key);
}

QString nulInShortDescriptionText(const QString& key)
{
    return QStringLiteral("Die Kurzbeschreibung von „%1“ enthält ein NUL-Zeichen und wird nicht "
                          "gespeichert.")
        .arg(key);
}
