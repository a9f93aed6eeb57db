#pragma once

#include "port/LowLatency.h"
#include "port/MSComm.h"

#include <functional>
#include <vector>

// MSComm in memory: the test (or a simulated modem) is the far end. It records
// what the tool sends and the settings of every opening, can refuse to open,
// and can lose its device the way a pulled USB adapter does.
class MemoryComm : public MSComm {
public:
    struct Write {
        QString settings; // in force when the bytes were sent
        QByteArray bytes;
    };

    bool PortOpen() const override { return open_; }
    void setPortOpen(bool open) override;
    int InBufferCount() override;
    QByteArray Input() override;
    void setOutput(const QByteArray& bytes) override;

    // --- the far end ---
    void Feed(const QByteArray& bytes); // bytes arrive at the tool
    void Vanish(const QString& reason = QStringLiteral("Input/output error"));
    QByteArray Sent() const; // everything sent, in order

    std::vector<Write> writes;
    std::vector<QString> openings;    // Settings of each successful opening
    QString refuseOpen;               // non-empty: the next openings fail with this reason
    std::optional<PortTuning> tuning; // the adapter the owner's tuning reports, if any
    std::optional<PortTuning> Tune() override { return tuning; }
    std::function<void(const QByteArray&)> onOutput;
    std::function<void(bool open)> onOpenChange;

private:
    void requireOpen() const;
    void change(bool open);

    bool open_ = false;
    QByteArray inBuffer_;
    QString fault_;
};
