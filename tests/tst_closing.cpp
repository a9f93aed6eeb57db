// Closing the main window: after a run that left its port open, and while a
// run waits on its Retry question. The window goes once nothing of it runs,
// and gives its port back.
#include "tests/support/WindowRig.h"
#include "ui/QtPrompts.h"

#include <QMessageBox>

class TestClosing : public QObject {
    Q_OBJECT
private slots:
    // Closing after a run that left the port open (a Q70 board refuses mode
    // 2): the port is let go, and the settings are saved only if they changed
    // and the operator says Yes.
    void afterARunThatLeftThePortOpen() {
        for (const auto& [changed, answer] :
             {std::pair{false, BoxAnswer::Ok}, {true, BoxAnswer::No}, {true, BoxAnswer::Yes}}) {
            WindowRig t({.board = '$', .faults = {}});
            t.writeLoadFile(1);
            frmMain& w = t.open();
            t.prompts.Expect(WrongBoardBox);
            QVERIFY(t.run([&] { Click(w.cmdLoad); }) && t.port.PortOpen());
            t.m.SettingsChanged = changed;
            if (changed)
                t.prompts.Expect(QStringLiteral("Save Configuration File Now"), answer);
            QVERIFY(w.close() && t.prompts.AllAnswered() && !t.port.PortOpen());
            QCOMPARE(QFile::exists(t.dir.filePath("VELLORAN.CFG")), answer == BoxAnswer::Yes);
        }
    }

    // Closing while the run's Retry question is up: the question goes as
    // Cancel and the window once the run has returned, rather than waiting
    // for an answer nobody will give. The run ends as halted, as every
    // client calls a run the operator stopped.
    void whileRetryWaits() {
        QtPrompts boxes; // real ones, which outlive the window
        WindowRig t({.answerOn = 0, .faults = {}});
        t.writeLoadFile(3);
        frmMain& w = t.open(&boxes);
        boxes.setParent(&w);
        QSignalSpy ended(&w, &frmMain::Finished);
        Click(w.cmdLoad);
        QTRY_VERIFY(w.findChild<QMessageBox*>() && w.findChild<QMessageBox*>()->isVisible());
        const auto sent = t.port.writes.size();
        QVERIFY(!w.close() && (ended.count() || ended.wait(5000)));
        QCOMPARE(ended.first().first().value<Failure>(), Failure::Halted);
        QTRY_VERIFY(!w.isVisible());
        QCOMPARE(t.port.writes.size(), sent); // not retried
    }
};

QTEST_MAIN(TestClosing)
#include "tst_closing.moc"
