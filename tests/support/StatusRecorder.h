#pragma once

#include "core/Status.h"

#include <QStringList>

// The status line as a label would show it, and every caption in order.
struct StatusRecorder : Status {
    void Message(const QString& text) override {
        caption = text;
        captions << text;
    }
    void SetTint(Tint t) override { tint = t; }
    void FailureLine(bool shown, const QString& text) override {
        failureShown = shown;
        failureText = shown ? text : QString();
    }
    void AutoBaudAttempt(int attempt, int) override { attempts << attempt; }
    void RecordAcknowledged(qint64 records) override { acknowledged = records; }
    void BoardType(const QString& type) override { board = type; }
    void DeviceId(const QString& id) override { deviceId = id; }
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
    QString failureText;
    QList<int> attempts;
    qint64 acknowledged = 0;
    QString board, deviceId, version;
};

inline constexpr Tint Red = Tint::Red;
inline constexpr Tint Blue = Tint::Blue;
inline Tint ForeColor(const StatusRecorder& s) {
    return s.tint;
}
inline void SetForeColor(StatusRecorder& s, Tint t) {
    s.tint = t;
}
