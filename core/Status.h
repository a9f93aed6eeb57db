#pragma once

#include <QString>
#include <QtGlobal>

// The two colours a status line is ever shown in.
enum class Tint { Blue, Red };

// Where a run stands, for a progress display.
enum class Phase { Idle, Connecting, Downloading };

// What the stages tell the operator, and how far a run has got. A window, a
// terminal or a test stands behind it; the stages never know which. The
// calls come in the order the operator should see them.
class Status {
public:
    virtual ~Status() = default;

    // The status line: every message replaces the whole caption. A message
    // without a tint leaves the one in force.
    virtual void Message(const QString& text) = 0;
    virtual void SetTint(Tint tint) = 0;
    void Message(const QString& text, Tint tint) {
        Message(text);
        SetTint(tint);
    }
    // The second status line, shown in red; it only ever carries the
    // download-failed report. Hidden again at the start of a run.
    virtual void FailureLine(bool shown, const QString& text = {}) = 0;
    // "Halt Load" as every client shows it, whether the operator pressed it
    // or a stage found it after the last record: one wording, in red.
    void Halted() { Message(QStringLiteral("Comm Port Disconnected"), Tint::Red); }

    // --- progress; a display that has no use for it ignores it ---
    // `records` is what the download will send (only for Downloading).
    virtual void EnterPhase(Phase, qint64 /*records*/ = 0) {}
    // Before each autobaud character of one connection sequence: `attempt`
    // counts from 1 to `attempts`, and starts again at 1 after a Retry.
    virtual void AutoBaudAttempt(int /*attempt*/, int /*attempts*/) {}
    // A record, with its carriage return, handed to the port (resends too).
    virtual void RecordSent(qsizetype /*bytes*/) {}
    // The boot loader has acknowledged `records` records in all.
    virtual void RecordAcknowledged(qint64 /*records*/) {}

    // --- what was learnt of the board ---
    virtual void BoardType(const QString& /*type*/) {} // "Q70" or "6620"
    virtual void DeviceId(const QString& /*id*/) {}    // as the boot loader sent it
    // The boot version check's finding, for its window.
    virtual void BootVersion(const QString& /*version*/, const QString& /*board*/) {}
};

// A status that drops everything: for work nobody watches.
class NoStatus : public Status {
public:
    void Message(const QString&) override {}
    void SetTint(Tint) override {}
    void FailureLine(bool, const QString& = {}) override {}
};
