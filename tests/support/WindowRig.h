#pragma once

#include "look/Look.h"
#include "tests/support/MemoryComm.h"
#include "tests/support/Rows.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/SimClock.h"
#include "tests/support/SimModem.h"
#include "ui/frmMain.h"

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <memory>

// The captions and boxes a test looks for.
inline const QString CompletedCaption = QStringLiteral("*** Download Completed Succesfully ****");
inline const QString WrongBoardBox =
    QStringLiteral("Wrong Mode - Board is Q70 and Mode is for 6620");

// The operator clicking a button with the mouse.
inline void Click(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

// The operator picking choice i of a settings dialog: a row of its list or
// one of its buttons.
inline void Choose(const QDialog& d, int i) {
    if (auto* list = d.findChild<QListWidget*>())
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(i)).center());
    else
        Click(d.findChildren<QRadioButton*>().at(i));
}

// The second status line as a failed download leaves it, in the main window
// and in a station row alike.
inline bool ShowsDownloadFailed(const QLabel& line) {
    return line.text() == QLatin1String("*** Download Failed ****") && ForeColor(line) == Red;
}

// The real main window over a simulated modem on simulated time, started in
// a folder of its own (where it looks for VELLORAN.CFG and MYFILE.ROM). The
// window's session uses the rig's port and clock on its own thread; the test
// touches them only while the session waits for it (a box, onWindow) or has
// finished.
struct WindowRig {
    // The session's port and clock stand for the rig's, which outlive it.
    using PortRef = CommLayer;
    struct ClockRef : Clock {
        explicit ClockRef(SimClock& c) : clock(c) {}
        double Timer() override { return clock.Timer(); }
        void Yield(double deadline) override { clock.Yield(deadline); }
        SimClock& clock;
    };

    explicit WindowRig(BootLoader::Config config = {}) : modem(port, clock, std::move(config)) {
        QDir::setCurrent(dir.path());
    }

    void writeLoadFile(int records) {
        WriteFile(dir.filePath(QStringLiteral("MYFILE.ROM")), BootLoader::SampleLoadFile(records));
    }
    // The window's boxes go to `boxes` when given, else to the scripted ones.
    frmMain& open(Prompts* boxes = nullptr) {
        w = std::make_unique<frmMain>(
            m, boxes ? *boxes : prompts, [this] { return std::make_unique<PortRef>(port); },
            [this] { return std::make_unique<ClockRef>(clock); });
        w->show();
        return *w;
    }
    // Presses (a button, a menu) and waits for the job it starts to return.
    // A job that never returns fails the test within seconds.
    bool run(const std::function<void()>& press) {
        QSignalSpy ended(w.get(), &frmMain::Finished);
        press();
        return ended.wait(20000);
    }
    // What a person does on the window in the middle of a job, from the
    // session's thread (a simulated modem's moment), waiting until it is done.
    void onWindow(const std::function<void()>& act) {
        QMetaObject::invokeMethod(w.get(), act, Qt::BlockingQueuedConnection);
    }

    QTemporaryDir dir;
    Module1 m;
    MemoryComm port;
    SimClock clock;
    ScriptedPrompts prompts;
    SimModem modem;
    std::unique_ptr<frmMain> w;
};
