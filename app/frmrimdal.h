// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "quorform.h"

#include <QColor>
#include <QPoint>
#include <QSize>
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

    // Where and how large (without its frame) the window is designed, known
    // before it is made.
    static constexpr QSize kDesignSize{792, 572};
    static constexpr QPoint kDesignPosition{192, 107};

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

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
    QColor m_memoBase;
};
