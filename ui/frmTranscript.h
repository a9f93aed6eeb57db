#pragma once

#include <QTimer>
#include <QWidget>

class Prompts;
class QPlainTextEdit;
class QPushButton;
class Transcript;

// The session transcript, for the operator to read while a run goes on or
// afterwards, and to save to a text file (the only way it ever reaches the
// disk). Modeless; it follows the session while it is open.
class frmTranscript : public QWidget {
    Q_OBJECT
public:
    frmTranscript(const Transcript& transcript, Prompts& prompts, const QString& saveDirectory,
                  QWidget* parent = nullptr);

    QPlainTextEdit* txtTranscript;
    QPushButton* cmdSave;
    QPushButton* cmdClose;

public slots:
    // Brings the text up to date with the session.
    void Refresh();
    void cmdSave_Click();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    const Transcript& transcript_;
    Prompts& prompts_;
    QString saveDirectory_;
    QTimer follow_;
    // What the text shows: a session, up to an entry, with so many dropped.
    int session_ = -1;
    qint64 serial_ = 0;
    qint64 dropped_ = 0;
};
