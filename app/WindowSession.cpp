// What keeps a day-long session from losing anything silently: a serial port
// that does not open says why, a port that vanishes is reported once, the record
// limit is announced, and every recorded row is journalled until a save holds it;
// a journal left by a crash is offered back at the next start.

#include "app/TFCOMM.h"

#include "files/SessionJournal.h"
#include "files/TableFiles.h"
#include "link/ConnectionControl.h"
#include "link/PortOpenDiagnosis.h"
#include "link/SerialPortDriver.h"

#include <QTimer>

namespace orvex {

void TFCOMM::ConnectSession(const WindowOptions& options) {
    // The serial port: why it did not open; its loss while open.
    connect(connection_.get(), &TConnectionControl::portOpenFailed, this,
            [this](const QString& text) { ShowHandlerError(text); });
    connect(COMM2_.get(), &TSerialPortDriver::portLost, this, [this] {
        RunHandler([this] {
            const QString notice = SerialLostNotice(TSerialPortDriver::PortName(COMM2_->ComPort()),
                                                    COMM2_->OpenedDevicePath());
            connection_->LinkLost(TLinkKind::Serial, notice);
        });
    });

    // The journal: this window's, then those of windows that no longer run.
    journal_ = std::make_unique<TSessionJournal>(
        options.journalFolder.isEmpty() ? TSessionJournal::DefaultFolder() : options.journalFolder);
    connect(journal_.get(), &TSessionJournal::writeFailed, this,
            [this](const QString& text) { ShowHandlerError(text); });
    journal_->Start();
    OfferStaleJournals();
}

void TFCOMM::OfferStaleJournals() {
    RecordTable& table = state_.recording.cds1;
    for (TStaleJournal& stale : TStaleJournal::Find(journal_->folder())) {
        if (stale.rows() == 0) {
            stale.Discard(); // nothing was recorded
            continue;
        }
        const IDialogs::Answer answer = dialogs_->AskYesNoCancel(this, stale.OfferText());
        // Cancel, or a box closed without an answer: the journal stays and is
        // offered again at the next start.
        if (answer == IDialogs::Answer::Cancel) continue;
        if (answer == IDialogs::Answer::No) {
            stale.Discard();
            continue;
        }
        const FileResult r = LoadDataFile(stale.path(), table);
        // The rows now in the table are journalled by this window before the old
        // journal goes, so that a second crash loses them neither.
        RestartJournal(0);
        const bool held = journal_->Flush();
        if (r.failed()) {
            QString keptAs = stale.path();
            stale.SetAside(&keptAs);
            ShowHandlerError(
                QStringLiteral("The journal could be read only in part: %1 of its %2 rows were "
                               "loaded (%3).\n\nThe journal is kept as %4.")
                    .arg(r.rows)
                    .arg(stale.rows())
                    .arg(r.error, keptAs));
            continue;
        }
        // A new journal that could not be written (its failure has been shown)
        // holds nothing: the old file stays until the rows are safe elsewhere.
        if (held) stale.Discard();
    }
}

void TFCOMM::AfterRecording(const RecordOutcome& outcome) {
    RecordTable& table = state_.recording.cds1;
    if (outcome.appended && journal_) journal_->AppendRow(table, table.rowCount() - 1);
    if (outcome.limitReached) {
        // Told after the frame's handling, so that the link keeps being read
        // while the notice is open.
        const std::int32_t limit = state_.recording.recorder.recordLimit;
        QTimer::singleShot(0, this,
                           [this, limit] { dialogs_->Inform(this, RecordLimitNotice(limit)); });
    }
}

void TFCOMM::RestartJournal(int firstRow) {
    if (journal_) journal_->Restart(state_.recording.cds1, firstRow);
}

} // namespace orvex
