// SPDX-License-Identifier: GPL-3.0-or-later
#include "frmrimdal.h"

#include "ui_frmRimdal.h"

#include "choicelists.h"
#include "combochoicelist.h"
#include "description.h"
#include "journal.h"
#include "keys.h"
#include "maskfile.h"
#include "posting.h"
#include "quorbuchung.h"
#include "quordialogs.h"
#include "quorexception.h"
#include "quorinfo.h"
#include "quorprogramm.h"
#include "windowfit.h"
#include "windowtheme.h"

#include <QShowEvent>

namespace
{

const QString kTitle = QStringLiteral("Standard-Konfiguration Kundenkarten");

// Every handler and step reports its own failures under its own name; nothing
// escapes into the event loop, and what was done before the failure stays done.
template <typename Body> void guarded(const char* method, Body&& body)
{
    const QString name = QStringLiteral("TfrmRimdal.") + QLatin1String(method);
    try {
        body();
    } catch (const std::exception& e) {
        QuorInfo().RegisterException(name, e, true);
    } catch (...) {
        QuorInfo().RegisterException(name, EQuorException(QStringLiteral("Unbekannter Fehler")),
                                     true);
    }
}

class WindowDescriptionView final : public TDescriptionView
{
public:
    explicit WindowDescriptionView(Ui::frmRimdal& ui) : m_ui(ui) {}
    void SetName(const QString& name) override { m_ui.lblBezText->setText(name); }
    void SetShortDescription(const QString& text) override { m_ui.lblKurzText->setText(text); }
    void ClearLongDescription() override { m_ui.msText->clearLines(); }

private:
    Ui::frmRimdal& m_ui;
};

std::optional<QString> selectedEntry(const TQuorStdComboBox* list)
{
    const int index = list->GetItemIndex();
    if (index < 0)
        return std::nullopt;
    return list->ItemText(index);
}

TQuorStdComboBox* asComboBox(QObject* sender)
{
    auto* combo = qobject_cast<TQuorStdComboBox*>(sender);
    if (!combo)
        throw EQuorException(
            QStringLiteral("Ungültige Typumwandlung: Absender ist keine Auswahlliste"));
    return combo;
}

} // namespace

// The window's images live in a static library, whose resources are not
// registered by themselves.
static void initResources()
{
    Q_INIT_RESOURCE(rimdal);
}

TfrmRimdal::TfrmRimdal(QWidget* parent) : TQuorForm(parent), ui(std::make_unique<Ui::frmRimdal>())
{
    initResources();
    ui->setupUi(this);
    m_memoBase = ui->msText->palette().color(QPalette::Active, QPalette::Base);
    keepBaseReadable(*ui->msText, m_memoBase);

    connect(this, &TQuorForm::OnCreate, this, &TfrmRimdal::FormCreate);
    connect(ui->cmbImport, &TQuorComboBox::OnEnter, this, &TfrmRimdal::cmbImportEnter);
    connect(ui->cmbImport, &TQuorComboBox::OnChange, this, &TfrmRimdal::cmbImportChange);
    connect(ui->cmbExport, &TQuorComboBox::OnEnter, this, &TfrmRimdal::cmbExportEnter);
    connect(ui->cmbExport, &TQuorComboBox::OnChange, this, &TfrmRimdal::cmbExportChange);
    connect(ui->cmbBrief, &TQuorComboBox::OnEnter, this, &TfrmRimdal::cmbBriefEnter);
    connect(ui->cmbBrief, &TQuorComboBox::OnChange, this, &TfrmRimdal::cmbBriefChange);
    connect(ui->acBuchen, &QAction::triggered, this, &TfrmRimdal::acBuchenExecute);
    connect(ui->acEnde, &QAction::triggered, this, &TfrmRimdal::acEndeExecute);
    connect(ui->menVers, &QAction::triggered, this, &TfrmRimdal::menVersClick);

    FinishDesign();
}

TfrmRimdal::~TfrmRimdal() = default;

void TfrmRimdal::showEvent(QShowEvent* event)
{
    TQuorForm::showEvent(event);
    if (!event->spontaneous())
        moveInsideScreen(*this);
}

void TfrmRimdal::changeEvent(QEvent* event)
{
    TQuorForm::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && ui)
        keepBaseReadable(*ui->msText, m_memoBase);
}

void TfrmRimdal::FormCreate()
{
    // The lists and the assignment list come from one state of the store, in
    // one round trip: one access around both, begun where the lists are
    // filled, so that a store that cannot be had is reported there, once.
    bool together = false;
    guarded("FormCreate", [&] {
        setWindowTitle(kTitle + QStringLiteral(" - ") + QuorProgramm().GetTextMandant());
        ui->lblKurzText->setText(QString());
        ui->lblBezText->setText(QString());
        FillCombos(&together);
        ui->fsBez->Restore();
        if (std::exchange(together, false))
            ui->maskfile->EndAccess();
    });
    if (together)
        TFileAccessGuard(*ui->maskfile).giveBack();
}

void TfrmRimdal::FillCombos(bool* together)
{
    guarded("FillCombos", [&] {
        if (together) {
            ui->maskfile->BeginAccess(-1);
            *together = true;
            ui->maskfile->Prefetch({{ui->fsBez->OwnEntryKey(), true}});
        }
        TComboChoiceList import(ui->cmbImport), exportList(ui->cmbExport), brief(ui->cmbBrief);
        fillChoiceLists(*ui->maskfile, import, exportList, brief);
    });
}

void TfrmRimdal::FillBeschreibung(const QString& type, TQuorStdComboBox* list)
{
    guarded("FillBeschreibung", [&] {
        WindowDescriptionView view(*ui);
        fillDescription(*ui->maskfile, *ui->fsText, *ui->fsBez, ui->scStanBez->Items, type,
                        selectedEntry(list), view);
    });
}

// Tells the person what the posting could not do for one setting type.
void TfrmRimdal::StanBuchen(const TTypePosting& posted)
{
    guarded("StanBuchen", [&] {
        if (posted.report)
            std::rethrow_exception(posted.report);
    });
}

// The three lists' events: each handler names itself and its setting type.
void TfrmRimdal::ListEvent(const char* method, const QString& type, QObject* sender)
{
    guarded(method, [&] { FillBeschreibung(type, asComboBox(sender)); });
}

void TfrmRimdal::cmbImportEnter(QObject* sender)
{
    ListEvent("cmbImportEnter", keys::Import, sender);
}

void TfrmRimdal::cmbImportChange(QObject* sender)
{
    ListEvent("cmbImportChange", keys::Import, sender);
}

void TfrmRimdal::cmbExportEnter(QObject* sender)
{
    ListEvent("cmbExportEnter", keys::Export, sender);
}

void TfrmRimdal::cmbExportChange(QObject* sender)
{
    ListEvent("cmbExportChange", keys::Export, sender);
}

void TfrmRimdal::cmbBriefEnter(QObject* sender)
{
    ListEvent("cmbBriefEnter", keys::Brief, sender);
}

void TfrmRimdal::cmbBriefChange(QObject* sender)
{
    ListEvent("cmbBriefChange", keys::Brief, sender);
}

void TfrmRimdal::acBuchenExecute()
{
    guarded("acBuchenExecute", [&] {
        // The reports come once the posting has ended: none of them holds the store.
        const TPostingResult result =
            postStandards({*ui->maskfile, *ui->fsBez, ui->scStanBez->Items,
                           []() -> TQuorBuchung& { return QuorBuchung(true); }, frontEnds::Window},
                          TChoices{{keys::Import, selectedEntry(ui->cmbImport)},
                                   {keys::Export, selectedEntry(ui->cmbExport)},
                                   {keys::Brief, selectedEntry(ui->cmbBrief)}});
        for (const TTypePosting& posted : result.types)
            StanBuchen(posted);
        if (result.failure)
            std::rethrow_exception(result.failure);
        FillCombos();
        ui->cmbImport->setFocus(Qt::OtherFocusReason);
    });
}

void TfrmRimdal::acEndeExecute()
{
    guarded("acEndeExecute", [&] { close(); });
}

void TfrmRimdal::menVersClick()
{
    guarded("menVersClick", [&] { VersionsInfoZeigen(kTitle, this, QString()); });
}
