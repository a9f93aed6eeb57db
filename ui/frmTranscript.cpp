#include "ui/frmTranscript.h"

#include "core/PrivateFiles.h"
#include "core/Prompts.h"
#include "look/Look.h"
#include "port/Transcript.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {
constexpr int FollowMilliseconds = 1000;
}

frmTranscript::frmTranscript(const Transcript& transcript, Prompts& prompts,
                             const QString& saveDirectory, QWidget* parent)
    : QWidget(parent, Qt::Window), transcript_(transcript), prompts_(prompts),
      saveDirectory_(saveDirectory) {
    setWindowTitle(QStringLiteral("Session Transcript"));
    setFont(WindowFont());
    resize(820, 480);

    txtTranscript = new QPlainTextEdit(this);
    txtTranscript->setReadOnly(true);
    txtTranscript->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setBold(false); // the window's own font is bold
    txtTranscript->setFont(fixed);
    txtTranscript->setPlaceholderText(
        QStringLiteral("Nothing yet: a reprogramming run or a boot version check fills this."));

    cmdSave = new QPushButton(QStringLiteral("&Save..."), this);
    cmdClose = new QPushButton(QStringLiteral("Close"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdSave);
    buttons->addWidget(cmdClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(txtTranscript, 1);
    layout->addLayout(buttons);

    connect(cmdSave, &QPushButton::clicked, this, &frmTranscript::cmdSave_Click);
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);
    follow_.setInterval(FollowMilliseconds);
    connect(&follow_, &QTimer::timeout, this, &frmTranscript::Refresh);
}

void frmTranscript::Refresh() {
    if (transcript_.Session() == session_ && transcript_.LastSerial() == serial_ &&
        transcript_.DroppedEntries() == dropped_)
        return;
    QScrollBar* bar = txtTranscript->verticalScrollBar();
    const int position = bar->value();
    const bool atEnd = position == bar->maximum();
    // The run goes on while this reads: what the lines cover is taken with them.
    const int session = transcript_.Session();
    const qint64 dropped = transcript_.DroppedEntries();
    if (session == session_ && dropped == dropped_) {
        // Only new lines: appended where they belong, without a redraw.
        QTextCursor end(txtTranscript->document());
        end.movePosition(QTextCursor::End);
        end.insertText(transcript_.LinesAfter(serial_, &serial_));
    } else {
        txtTranscript->setPlainText(transcript_.Text(&serial_));
    }
    session_ = session;
    dropped_ = dropped;
    // A reader at the end keeps following; one further up keeps their place.
    bar->setValue(atEnd ? bar->maximum() : position);
}

void frmTranscript::cmdSave_Click() {
    Refresh();
    const SaveFileRequest request{QStringLiteral("Save Session Transcript"),
                                  QStringLiteral("Text Files (*.txt) | *.txt"),
                                  {}};
    // It holds the device ID, the logon and the records: its owner's alone.
    SaveStamped(prompts_, request, saveDirectory_, QStringLiteral("VELLORAN-%1.TXT"),
                QStringLiteral("Unable to Save the Transcript"),
                [this](const QString& path, QString& error) {
                    return SavePrivate(path, transcript_.Text().toUtf8(), &error);
                });
}

void frmTranscript::showEvent(QShowEvent* event) {
    Refresh();
    follow_.start();
    QWidget::showEvent(event);
}

void frmTranscript::hideEvent(QHideEvent* event) {
    follow_.stop();
    QWidget::hideEvent(event);
}
