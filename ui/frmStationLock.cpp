// A station locked for production: the load file, baud rate and mode are
// its own, shown with the file's fingerprint, and a file that changes on
// disk stops new starts.
#include "loadfile/LoadFileSelection.h"
#include "look/Look.h"
#include "ui/frmStation.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

QLayout* frmStation::lockLine() {
    lblSettings = PlainLabel(new QLabel);
    SetForeColor(*lblSettings, Blue);
    cmdLock = new QPushButton(QStringLiteral("&Lock"));
    cmdLock->setFocusPolicy(Qt::TabFocus);
    auto* top = new QHBoxLayout;
    top->addWidget(lblSettings, 1);
    top->addWidget(cmdLock);

    fraUnlock = new QWidget;
    auto* asking = new QHBoxLayout(fraUnlock);
    asking->setContentsMargins(0, 0, 0, 0);
    auto* question = PlainLabel(new QLabel(QStringLiteral(
        "Unlock? The main window's load file, baud rate and mode will then apply.")));
    cmdUnlock = new QPushButton(QStringLiteral("&Yes, unlock"));
    cmdKeepLocked = new QPushButton(QStringLiteral("&No, keep it"));
    asking->addWidget(question);
    asking->addWidget(cmdUnlock);
    asking->addWidget(cmdKeepLocked);
    asking->addStretch(1);
    fraUnlock->hide();

    lblLocked = PlainLabel(new QLabel);
    SetForeColor(*lblLocked, Red);
    lblLocked->setWordWrap(true);

    auto* lines = new QVBoxLayout;
    lines->addLayout(top);
    lines->addWidget(fraUnlock);
    lines->addWidget(lblLocked);
    connect(cmdLock, &QPushButton::clicked, this, &frmStation::cmdLock_Click);
    connect(cmdUnlock, &QPushButton::clicked, this, &frmStation::unlock);
    connect(cmdKeepLocked, &QPushButton::clicked, this, [this] {
        fraUnlock->hide();
        txtSerial->setFocus();
    });
    return lines;
}

// The settings the next start uses, so the operator can check them by eye.
void frmStation::showSettings() {
    cmdLock->setText(lock_.on ? QStringLiteral("Un&lock") : QStringLiteral("&Lock"));
    if (!lock_.on) {
        lblSettings->setText(
            QStringLiteral("Load file %1, baud rate%2, mode%3 (from the main window)")
                .arg(m_.LoadFileName, FormatNumber(m_.BaudRate), FormatNumber(m_.LoadMode)));
        return;
    }
    lblSettings->setText(
        QStringLiteral("Locked: load file %1 (SHA-256 %2, %3 records), baud rate%4, mode%5")
            .arg(lock_.file.path, lock_.file.sha256.left(12))
            .arg(lock_.file.records)
            .arg(FormatNumber(lock_.baud), FormatNumber(lock_.mode)));
}

void frmStation::cmdLock_Click() {
    if (lock_.on) {
        fraUnlock->show();
        cmdKeepLocked->setFocus(); // Enter by mistake keeps the lock
        return;
    }
    const ResolvedPath file = RunLoadFile(m_);
    const LoadFingerprint print = Fingerprint(file.path);
    if (file.Ambiguous() || print.path.isEmpty()) {
        lblLocked->setText(
            QStringLiteral("Not locked: the load file %1 cannot be read").arg(m_.LoadFileName));
        return;
    }
    lock_ = {true, print, m_.BaudRate, m_.LoadMode};
    lblLocked->clear();
    save();
    showSettings();
    emit LockChanged(true);
}

void frmStation::unlock() {
    lock_ = {};
    fraUnlock->hide();
    lblLocked->clear();
    save();
    showSettings();
    emit LockChanged(false);
    txtSerial->setFocus();
}

// Whether a start may go ahead: unlocked, or the locked file as it was.
bool frmStation::lockHolds() {
    if (!lock_.on)
        return true;
    if (Fingerprint(lock_.file.path).Same(lock_.file)) {
        lblLocked->clear();
        return true;
    }
    lblLocked->setText(QStringLiteral("The load file %1 has changed on disk since the station was "
                                      "locked (size, time or contents): no new starts. Unlock, "
                                      "check the file and lock again.")
                           .arg(lock_.file.path));
    return false;
}
