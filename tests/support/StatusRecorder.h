#pragma once

#include "core/Status.h"

#include <QStringList>

// The status line as a label would show it, every caption in order, and what
// was learnt of the board.
struct StatusRecorder : Status {
    void Message(const QString& text) override { captions << (caption = text); }
    void SetTint(Tint t) override { tint = t; }
    void FailureLine(bool shown, const QString&) override { failureShown = shown; }
    void BoardType(const QString& type) override { board = type; }
    void BootVersion(const QString& v, const QString& b) override {
        version = v;
        board = b;
    }

    // As a label reads, so that a test says what the operator saw.
    QString text() const { return caption; }
    void setText(const QString& text) { caption = text; }

    QString caption;
    QStringList captions;
    Tint tint = Tint::Blue;
    bool failureShown = false;
    QString board, version;
};
