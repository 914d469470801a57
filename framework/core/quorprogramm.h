// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <exception>
#include <memory>

class TStoreBackend;

enum class TEnumProzessTypen { ptHauptprogramm, ptStammdaten, ptAuswertung, ptEinstellung };
enum class TEnumInstanzen { inMehrfach, inEinfach };

// The program context of the suite.
// Init is called once per process, before the main window exists.
class TQuorProgramm
{
public:
    void Init(const QString& programName, TEnumProzessTypen processType, TEnumInstanzen instances,
              int reserved, bool flag);
    // The tenant text of the suite configuration (a policy, then QUOR_MANDANT;
    // suiteconfig.h), empty when named nowhere.
    QString GetTextMandant() const;
    void ShowException(const std::exception& e, bool flag);

    // The program's settings store, opened on first use from the suite
    // configuration. Throws EQuorStoreError while it cannot be opened; the
    // next call tries again.
    TStoreBackend& Store();
    // Puts another store in place (tests); nullptr opens from the configuration again.
    void SetStore(std::unique_ptr<TStoreBackend> store);

    TQuorProgramm();
    ~TQuorProgramm();

private:
    std::unique_ptr<TStoreBackend> m_store;
    QString m_programName;
    bool m_initialised = false;
};

TQuorProgramm& QuorProgramm();
