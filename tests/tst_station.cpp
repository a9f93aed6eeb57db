// The station: boards on simulated modems, each on its own simulated time,
// reprogrammed at once. What one board does never reaches another, and
// nothing of a board stays behind once it has gone.
#include "look/Look.h"
#include "tests/support/HeapUse.h"
#include "tests/support/Kept.h"
#include "tests/support/StationRack.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSemaphore>
#include <QTest>
#include <map>

namespace {

const QString Completed = QStringLiteral("*** Download Completed Succesfully ****");

int Threads() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("Threads:"))
            return line.mid(8).trimmed().toInt();
    return -1;
}

enum class Question { None, Cancel, RetryOnceRepowered };

struct Case {
    const char* name;
    std::function<void(BootLoader::Config&)> fault;
    Question question;
    Failure result;
    QString column; // the result column's words
    QString caption;
    bool failureLine; // "*** Download Failed ****" under the caption
    QString box;      // the start of the box text the row shows in red at the end
};

} // namespace

Q_DECLARE_METATYPE(Case)

class TestStation : public QObject {
    Q_OBJECT
private slots:
    void oneBoardsTroubleStaysItsOwn_data();
    void oneBoardsTroubleStaysItsOwn();
    void haltAllAndClosingStopEveryBoard_data();
    void haltAllAndClosingStopEveryBoard();
    void windowsRefuseEachOthersPort();
    void claimsKnowADeviceByEveryName();
    void hundredRunsLeaveNothingBehind();
    void narrowScreenScrollsTitlesWithCells();
};

void TestStation::oneBoardsTroubleStaysItsOwn_data() {
    using B = BootLoader;
    QTest::addColumn<Case>("c");
    const Case cases[] = {
        {"device pulled out",
         [](B::Config& c) {
             c.hangUp = B::Point::Record;
             c.hangUpRecord = 2;
         },
         Question::None, Failure::DeviceGone, "Device gone", "Comm Port Failed - ", true, ""},
        {"error replies",
         [](B::Config& c) {
             c.faults[2] = {B::Fault::BDLE, -1};
         },
         Question::None, Failure::Download, "Download failed", "", true, ""},
        {"wrong board", [](B::Config& c) { c.board = '$'; }, Question::None, Failure::WrongBoard,
         "Wrong board for the mode", "Sending AutoBaud Character", false,
         "Wrong Mode - Board is Q70 and Mode is for 6620"},
        {"never answers", [](B::Config& c) { c.answerOn = 0; }, Question::Cancel, Failure::NoAnswer,
         "No answer", "Connection Failed !!", false, ""},
        {"waits for its Retry", [](B::Config& c) { c.answerOn = 0; }, Question::RetryOnceRepowered,
         Failure::None, "Reprogrammed", Completed, false, ""},
    };
    for (const Case& c : cases)
        QTest::newRow(c.name) << c;
}

// Three boards, the middle one in trouble: the others complete as if alone,
// and each transcript holds its own board's exchange only.
void TestStation::oneBoardsTroubleStaysItsOwn() {
    QFETCH(Case, c);
    Rack rack;
    BootLoader::Config troubled;
    c.fault(troubled);
    rack.add(1);
    StationRow* row = rack.add(2, troubled);
    rack.add(3);

    QSignalSpy ended(rack.w.get(), &frmStation::AllEnded);
    rack.w->cmdStartAll_Click();
    if (c.question != Question::None) {
        QTRY_VERIFY(row->cmdRetry->isVisible());
        QTRY_VERIFY(rack.row(1)->Outcome() && rack.row(3)->Outcome()); // not held up
        QVERIFY(row->lblBox->text().startsWith(QStringLiteral("Failed to Connect to Modem")));
        QCOMPARE(ForeColor(*row->lblBox), Red);
        if (c.question == Question::Cancel) {
            QTest::mouseClick(row->cmdCancel, Qt::LeftButton);
        } else {
            // The operator cycles the power: the board wakes as a plain one.
            auto& board = *rack.boards.at(2);
            board.config.answerOn = 1;
            board.modem.reset(); // it lets go of the port's ends
            board.modem = std::make_unique<SimModem>(board.port, board.clock, board.config);
            QTest::mouseClick(row->cmdRetry, Qt::LeftButton);
        }
    }
    QVERIFY(ended.count() || ended.wait(20000));

    for (int n : {1, 3}) {
        QCOMPARE(rack.row(n)->Outcome(), Failure::None);
        QCOMPARE(rack.row(n)->lblMsg->text(), Completed);
        QCOMPARE(rack.row(n)->lblRecords->text(), QStringLiteral("6 of 6"));
        QCOMPARE(rack.row(n)->lblDeviceId->text(), Id(n)); // its own, not a neighbour's
        QCOMPARE(rack.row(n)->barProgress->text(), QStringLiteral("Reprogrammed"));
        QVERIFY(rack.row(n)->lblMsg2->isHidden());
    }
    QCOMPARE(row->Outcome(), c.result);
    QCOMPARE(row->lblResult->text(), c.column);
    // The bar tells the ending, not the stage it last showed.
    QCOMPARE(row->barProgress->text(), c.column);
    QCOMPARE(row->lblMsg2->isVisible(), c.failureLine);
    if (c.failureLine) {
        QCOMPARE(row->lblMsg2->text(), QStringLiteral("*** Download Failed ****"));
        QCOMPARE(ForeColor(*row->lblMsg2), Red);
    }
    QVERIFY2(row->lblMsg->text().startsWith(c.caption), qPrintable(row->lblMsg->text()));
    QCOMPARE(row->fraBox->isVisible(), !c.box.isEmpty());
    if (!c.box.isEmpty()) {
        QVERIFY2(row->lblBox->text().startsWith(c.box), qPrintable(row->lblBox->text()));
        QCOMPARE(ForeColor(*row->lblBox), Red);
    }
    for (int n : {1, 2, 3}) {
        const QString text = rack.row(n)->BoardSession().transcript().Text();
        QVERIFY(n == 2 || text.contains(Id(n)));
        for (int other : {1, 2, 3})
            QVERIFY(other == n || !text.contains(Id(other)));
    }
    QCOMPARE(rack.w->lblSummary->text(),
             c.result == Failure::None ? QStringLiteral("3 boards: 3 reprogrammed, 0 failed")
                                       : QStringLiteral("3 boards: 2 reprogrammed, 1 failed"));
    // Each row's record is its own board's, ending as the row does.
    QVERIFY(rack.w->lblHistory->isHidden());
    for (int n : {1, 2, 3}) {
        const HistoryRecord kept = NewestKept(n);
        QCOMPARE(kept.client, QStringLiteral("station"));
        QCOMPARE(kept.result, QLatin1String(OutcomeOf(*rack.row(n)->Outcome()).key));
        QVERIFY(n == 2 || kept.deviceId == Id(n));
    }
}

void TestStation::haltAllAndClosingStopEveryBoard_data() {
    QTest::addColumn<bool>("closing");
    QTest::newRow("Halt All") << false;
    QTest::newRow("closing the station") << true;
}

// Halt All, or closing the station, while every board is in its first
// autobaud pause: each stops where its stage next looks and says so, and a
// closing station goes once the last board has returned.
void TestStation::haltAllAndClosingStopEveryBoard() {
    QFETCH(bool, closing);
    Rack rack;
    QSemaphore arrived, resume;
    for (int n = 1; n <= 3; ++n) {
        rack.add(n);
        rack.boards.at(n)->clock.After(0.5, [&] {
            arrived.release();
            resume.acquire();
        });
    }
    QSignalSpy ended(rack.w.get(), &frmStation::AllEnded);
    rack.w->cmdStartAll_Click();
    QVERIFY(arrived.tryAcquire(3, 10000));
    if (closing)
        QVERIFY(!rack.w->close() && rack.w->isVisible());
    else
        QTest::mouseClick(rack.w->cmdHaltAll, Qt::LeftButton);
    resume.release(3);
    QVERIFY(ended.wait(20000));
    for (int n : {1, 2, 3}) {
        StationRow* row = rack.row(n);
        QCOMPARE(row->Outcome(), Failure::Halted);
        QCOMPARE(row->lblMsg->text(), QStringLiteral("Comm Port Disconnected"));
        QCOMPARE(row->barProgress->text(), QStringLiteral("Halted"));
        QVERIFY(row->cmdRemove->isEnabled());
    }
    QCOMPARE(rack.w->lblSummary->text(),
             QStringLiteral("3 boards: 0 reprogrammed, 0 failed, 3 halted"));
    QTRY_COMPARE(rack.w->isVisible(), !closing);
}

// A port the main window's run holds is refused to the station, and the
// other way round, with the advice naming the holder.
void TestStation::windowsRefuseEachOthersPort() {
    BootLoader::Config q70;
    q70.board = '$';
    WindowRig main(q70); // a wrong board: the main window's run leaves COM 1 open
    main.writeLoadFile(5);
    frmMain& w = main.open();
    main.prompts.Expect(QStringLiteral("Wrong Mode - Board is Q70 and Mode is for 6620"));
    QVERIFY(main.run([&] { w.cmdLoad_Click(); }));
    QVERIFY(main.port.PortOpen());

    Rack rack(&w.Claims());
    StationRow* refused = rack.add(1);
    rack.add(2);
    QVERIFY(rack.runAll());
    QCOMPARE(refused->Outcome(), Failure::PortNotOpened);
    QCOMPARE(rack.row(2)->Outcome(), Failure::None);
    for (const char* piece : {"Unable to Open Comm Port", "held by the main window",
                              "let the main window finish with this one"})
        QVERIFY2(refused->lblBox->text().contains(QLatin1String(piece)),
                 qPrintable(refused->lblBox->text()));

    // Now the station holds COM 1, in the middle of its run, when the main
    // window starts one; the station's board waits until that has ended.
    w.BoardSession().ClosePort();
    main.prompts.Expect(QStringLiteral("Unable to Open Comm Port"));
    QSignalSpy mainEnded(&w, &frmMain::Finished);
    rack.boards.at(1)->clock.After(
        0.5, [&] { main.onWindow([&] { main.run([&] { w.cmdLoad_Click(); }); }); });
    QVERIFY(rack.runAll());
    QCOMPARE(refused->Outcome(), Failure::None);
    QCOMPARE(mainEnded.count(), 1);
    QCOMPARE(mainEnded.first().first().value<Failure>(), Failure::PortNotOpened);
    QVERIFY(main.prompts.seen.last().detail.contains(
        QStringLiteral("held by the station window (COM 1)")));
}

// A device claimed under one name is held under every other, such as a
// link that leads to it.
void TestStation::claimsKnowADeviceByEveryName() {
    QTemporaryDir dir;
    const QString device = dir.filePath(QStringLiteral("ttyX"));
    const QString link = dir.filePath(QStringLiteral("modem"));
    QFile made(device);
    QVERIFY(made.open(QIODevice::WriteOnly) && QFile::link(device, link));
    PortClaims claims;
    const QString main = QStringLiteral("the main window");
    const int window = 0, row = 0;
    QCOMPARE(claims.Claim(link, &window, main), QString());
    QCOMPARE(claims.Claim(device, &row, QStringLiteral("the station window")), main);
    QCOMPARE(claims.Holder(device), main);
    claims.Release(&window);
    QCOMPARE(claims.Claim(device, &row, QStringLiteral("the station window")), QString());
    QCOMPARE(claims.Claim(link, &window, main), QStringLiteral("the station window"));
}

// A hundred and fifty runs of eight boards, each set added, run and removed:
// the threads after the last are those after the first, the memory that
// after the fiftieth (a leak of a few dozen bytes a board shows).
// Not drawn: Qt's caches of drawn letters and the window's backing store grow
// in steps of tens of kilobytes long after the first runs, whenever a new
// figure or width is painted, and would hide such a leak or fake one.
void TestStation::hundredRunsLeaveNothingBehind() {
    Rack rack;
    rack.w->hide();
    std::size_t heap = 0;
    // The allocator's arenas, one more for each new thread up to its limit,
    // grow over the first few dozen runs, then stay.
    constexpr int Counted = 50;
    // The window's own and those Qt keeps in its pool once the first run has
    // used it (they expire after 30 s, so they may only drop after this).
    int threads = 0;
    for (int run = 1; run <= Counted + 100; ++run) {
        for (int n = 1; n <= 8; ++n)
            rack.add(n);
        QVERIFY(rack.runAll());
        for (StationRow* row : rack.w->Rows())
            QCOMPARE(row->Outcome(), Failure::None);
        while (!rack.w->Rows().isEmpty())
            rack.w->RemoveBoard(rack.w->Rows().first());
        rack.boards.clear();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (run == 1)
            threads = Threads();
        if (run == Counted) {
            // A joined thread may take a moment to leave the list; on a
            // busy machine, more than a moment.
            QTRY_VERIFY_WITH_TIMEOUT(Threads() <= threads, 10000);
            heap = HeapInUse();
        }
    }
    QTRY_VERIFY_WITH_TIMEOUT(Threads() <= threads, 10000);
    qInfo("heap after run %d %zu bytes, after the last %zu", Counted, heap, HeapInUse());
    QVERIFY(HeapInUse() < heap + 32 * 1024);
}

// On a screen narrower than the columns the station fits the screen, and
// scrolled sideways every title still stands over its cells.
void TestStation::narrowScreenScrollsTitlesWithCells() {
    Rack rack;
    StationRow* r = rack.add(1);
    QVERIFY(QTest::qWaitForWindowExposed(rack.w.get()));
    QVERIFY(rack.w->width() <= rack.w->screen()->availableGeometry().width());
    QScrollBar* sideways = nullptr;
    for (QScrollArea* area : rack.w->findChildren<QScrollArea*>())
        if (area->horizontalScrollBar()->maximum() > 0)
            sideways = area->horizontalScrollBar();
    QVERIFY2(sideways, "the columns are wider than this screen: nothing to scroll");
    sideways->setValue(sideways->maximum());
    QLabel* title = nullptr;
    for (QLabel* label : rack.w->findChildren<QLabel*>())
        if (label->text() == QLatin1String("Result"))
            title = label;
    QVERIFY(title && r->lblResult->isVisibleTo(rack.w.get()));
    QCOMPARE(title->mapTo(rack.w.get(), QPoint()).x(),
             r->lblResult->mapTo(rack.w.get(), QPoint()).x());
    QVERIFY(r->cmdRemove->mapTo(rack.w.get(), QPoint(r->cmdRemove->width(), 0)).x() <=
            rack.w->width());
}

QTEST_MAIN(TestStation)
#include "tst_station.moc"
