// The station as a production line uses it: the rack kept in its file,
// scans that start the next idle row, and the tally of the shift.
#include "core/Outcome.h"
#include "core/Text.h"
#include "ui/DeviceBox.h"
#include "ui/StationFile.h"
#include "ui/frmHistory.h"
#include "ui/frmStation.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

QLayout* frmStation::scanLine() {
    txtSerial = new QLineEdit;
    txtSerial->setPlaceholderText(QStringLiteral("scan the board's label"));
    txtSerial->setMinimumWidth(220);
    txtOperator = new QLineEdit;
    txtOperator->setMaximumWidth(180);
    auto* serial = new QLabel(QStringLiteral("S&erial"));
    serial->setBuddy(txtSerial);
    auto* who = new QLabel(QStringLiteral("&Operator"));
    who->setBuddy(txtOperator);
    auto* line = new QHBoxLayout;
    line->addWidget(serial);
    line->addWidget(txtSerial);
    line->addSpacing(24);
    line->addWidget(who);
    line->addWidget(txtOperator);
    line->addStretch(1);
    connect(txtSerial, &QLineEdit::returnPressed, this, &frmStation::txtSerial_Enter);
    connect(txtOperator, &QLineEdit::editingFinished, this, &frmStation::save);
    return line;
}

// The rack as it was left, in its order. A file that cannot be read says so
// once, in the note, and the station opens without it.
void frmStation::restore() {
    filePath_ = StationFilePath(m_);
    StationSetup setup;
    QString problem;
    const bool read = ReadStationFile(filePath_, setup, problem);
    restoring_ = true;
    for (const BoardPlace& place : setup.places)
        AddBoard(place);
    pointAtFreePort(1);
    chkBeep->setChecked(setup.beep);
    txtOperator->setText(setup.operatorName);
    lock_ = setup.lock;
    restoring_ = false;
    if (!read)
        lblNote->setText(problem);
}

// Every change of the rack or of the operator's choices is kept at once: a
// station may be switched off at the end of a shift without closing it.
void frmStation::save() {
    if (restoring_ || filePath_.isEmpty())
        return;
    StationSetup setup;
    for (const StationRow* row : rows_)
        setup.places << row->place;
    setup.beep = chkBeep->isChecked();
    setup.operatorName = txtOperator->text().trimmed();
    setup.lock = lock_;
    QString problem;
    if (!WriteStationFile(filePath_, setup, problem))
        lblNote->setText(problem);
}

void frmStation::MoveBoard(StationRow* row, int by) {
    const auto from = rows_.indexOf(row);
    const auto to = from + by;
    if (from < 0 || to < 0 || to >= rows_.size())
        return;
    rows_.move(from, to);
    rowsLayout_->removeWidget(row);
    rowsLayout_->insertWidget(static_cast<int>(to), row);
    save();
    fixTabOrder();
}

// A locked station whose load file changed starts nothing, and says why.
bool frmStation::mayStart() {
    showSettings();
    return lockHolds();
}

// The one way a row starts, from its button, Start All or a scan.
void frmStation::startRow(StationRow* row, const RunTag& label) {
    if (mayStart() && row->Start(WithLock(m_, lock_), label))
        showSummary();
}

// The row's own button starts an idle row and halts a running one.
void frmStation::rowButton(StationRow* row) {
    if (row->Running())
        row->Halt();
    else
        startRow(row, {{}, {}, txtOperator->text().trimmed()});
}

// The scanner's Enter: the next idle row, in row order, takes the board.
void frmStation::txtSerial_Enter() {
    const QString serial = txtSerial->text().trimmed();
    txtSerial->clear();
    txtSerial->setFocus();
    if (serial.isEmpty()) {
        lblNote->setText(QStringLiteral("Nothing was scanned: scan the board's label"));
        return;
    }
    // A scanner may send control characters (a GS1 label's separators): shown escaped.
    const QString shown = Printable(serial, Unprintable::Escaped, true);
    // One board on two sockets at once would be one record overwriting another.
    for (StationRow* row : rows_) {
        if (!row->Idle() && row->Label().serial == serial) {
            lblNote->setText(QStringLiteral("%1 is on %2 already").arg(shown, row->place.Name()));
            return;
        }
    }
    const auto idle =
        std::find_if(rows_.begin(), rows_.end(), [](StationRow* r) { return r->Idle(); });
    if (idle == rows_.end()) {
        lblNote->setText(rows_.isEmpty()
                             ? QStringLiteral("%1 not started: the station has no rows").arg(shown)
                             : QStringLiteral("%1 not started: no row is idle").arg(shown));
        return;
    }
    lblNote->clear();
    if (!mayStart())
        return;
    // The history the rows' records go to: the check and the records agree.
    (*idle)->Check({{}, serial, txtOperator->text().trimmed()});
    check_.Ask(frmHistory::StoredLocation(), serial, checkWaitMs);
}

// A history that cannot tell starts nothing by itself: the operator, who
// knows where the board came from, decides, as for one it knows. Starting
// blind might reprogram a board twice; refusing would stop the line while
// the server is down.
void frmStation::checked(const QString& serial, const SerialVerdict& verdict) {
    const auto held = std::find_if(rows_.begin(), rows_.end(), [&serial](StationRow* r) {
        return r->Checking() && r->Label().serial == serial;
    });
    if (held == rows_.end())
        return; // skipped, or removed, meanwhile
    StationRow* row = *held;
    const RunTag label = row->Label();
    const QString shown = Printable(serial, Unprintable::Escaped, true);
    switch (verdict.kind) {
    case SerialVerdict::Kind::New:
        row->Release();
        startRow(row, label);
        break;
    case SerialVerdict::Kind::Passed:
        row->AskAgain(label, QStringLiteral("%1 was reprogrammed already, %2. Start it again?")
                                 .arg(shown, Printable(verdict.when, Unprintable::Escaped, true)));
        break;
    case SerialVerdict::Kind::Unknown:
        row->AskAgain(label, QStringLiteral("%1: the history cannot tell whether it was "
                                            "reprogrammed already (%2). Start it?")
                                 .arg(shown, Printable(verdict.reason, Unprintable::Escaped, true)));
        break;
    }
}

// Counts a run that has ended; a halt is the operator's, not the board's.
void frmStation::tally(StationRow* row) {
    const auto outcome = row->Outcome();
    if (!outcome || *outcome == Failure::Halted)
        return;
    if (*outcome == Failure::None) {
        ++passed_;
    } else {
        ++failed_;
        if (chkBeep->isChecked())
            boards_.beep ? boards_.beep() : QApplication::beep();
    }
    seconds_ += row->Seconds().value_or(0);
    const int runs = passed_ + failed_;
    lblTally->setText(QStringLiteral("Since opened: %1 passed, %2 failed, yield %3%, %4 s a board")
                          .arg(passed_)
                          .arg(failed_)
                          .arg(100.0 * passed_ / runs, 0, 'f', 1)
                          .arg(seconds_ / runs, 0, 'f', 1));
}

// Tab goes through the lock, the top, then row by row as they stand, then the bottom.
void frmStation::fixTabOrder() {
    QList<QWidget*> order;
    order << txtSerial << txtOperator << cboPort << cmdAddPort << cboDevice << cmdAddDevice;
    for (StationRow* row : rows_)
        order << row->cmdStart << row->cmdTranscript << row->cmdUp << row->cmdDown << row->cmdRemove
              << row->cmdAgain << row->cmdSkip << row->cmdRetry << row->cmdCancel;
    order << cmdStartAll << cmdHaltAll << chkBeep;
    order.insert(0, cmdLock);
    order.insert(1, cmdUnlock);
    order.insert(2, cmdKeepLocked);
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}
