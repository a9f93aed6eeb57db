#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
struct Module1;
struct SessionView;

// The main window's face: the four settings, the two message lines and the
// two buttons, each at the place the operator's manual shows it. It paints
// what it is given and decides nothing, so the window's logic reads apart
// from where its labels sit.
class MainPanel : public QWidget {
    Q_OBJECT
public:
    explicit MainPanel(QWidget* parent = nullptr);

    QLabel* Picture1;
    QLabel* lblFile;
    QLabel* lblPort;
    QLabel* lblMode;
    QLabel* lblBaud;
    QLabel* lblMsg;
    QLabel* lblMsg2;
    QPushButton* cmdLoad;
    QPushButton* cmdAbort;

    // The labels are only ever painted from the settings, so they cannot drift.
    void ShowSettings(const Module1& m);
    // The message lines as the session's view has them.
    void ShowMessages(const SessionView& view);
    // A new run starts on a clean line: no failure of the last one left showing.
    void ClearFailure();
};
