#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
struct Module1;
struct SessionView;

// The controls of the main window's face, named as the operator's manual
// names them: the window is one (its tests and its logic use the names), the
// panel fills them in.
struct MainControls {
    QLabel* Picture1 = nullptr;
    QLabel* lblFile = nullptr;
    QLabel* lblPort = nullptr;
    QLabel* lblMode = nullptr;
    QLabel* lblBaud = nullptr;
    QLabel* lblMsg = nullptr;
    QLabel* lblMsg2 = nullptr;
    QPushButton* cmdLoad = nullptr;
    QPushButton* cmdAbort = nullptr;
};

// The main window's face: the four settings, the two message lines and the
// two buttons, each at the place the operator's manual shows it. It paints
// what it is given and decides nothing, so the window's logic reads apart
// from where its labels sit.
class MainPanel : public QWidget {
    Q_OBJECT
public:
    MainPanel(MainControls& controls, QWidget* parent);

    // The labels are only ever painted from what a run uses, so they cannot
    // drift; the file as `file` names it (a job's name, when it runs one).
    void ShowSettings(const Module1& run, const QString& file);
    // The message lines as the session's view has them.
    void ShowMessages(const SessionView& view);
    // A new run starts on a clean line: no failure of the last one left showing.
    void ClearFailure();

private:
    MainControls& c_;
};
