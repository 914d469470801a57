// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "quorform.h"

#include <memory>

namespace Ui
{
class frmRimdal;
}
class TQuorStdComboBox;
struct TTypePosting;

// The main window: the standard named setting for import, export and the
// mail-merge export of customer cards.
class TfrmRimdal : public TQuorForm
{
    Q_OBJECT
public:
    explicit TfrmRimdal(QWidget* parent = nullptr);
    ~TfrmRimdal() override;

private:
    void FormCreate();
    // together: begins one access around the start's reads, ended by the caller.
    void FillCombos(bool* together = nullptr);
    void FillBeschreibung(const QString& type, TQuorStdComboBox* list);
    void StanBuchen(const TTypePosting& posted);

    void ListEvent(const char* method, const QString& type, QObject* sender);
    void cmbImportEnter(QObject* sender);
    void cmbImportChange(QObject* sender);
    void cmbExportEnter(QObject* sender);
    void cmbExportChange(QObject* sender);
    void cmbBriefEnter(QObject* sender);
    void cmbBriefChange(QObject* sender);
    void acBuchenExecute();
    void acEndeExecute();
    void menVersClick();

    std::unique_ptr<Ui::frmRimdal> ui;
};
