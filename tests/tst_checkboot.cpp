// The boot version check against a scripted boot loader, on simulated time,
// and the window that shows what it found.
#include "protocol/CheckBoot.h"
#include "tests/support/Rig.h"
#include "ui/frmCheckBoot.h"

#include <QLabel>

namespace {

const QString Gone = QStringLiteral("/dev/ttyUSB0: No such device");

struct CheckRow {
    const char* name;
    QByteArrayList answers; // to the n-th autobaud character; an empty one, or none, is silence
    QByteArray reply;       // to "ver"
    // "refuse": the port will not open at all; "vanish AB": the device goes a
    // moment after the first autobaud character, "lost ATT8" within the pause
    // after ATT8, "refuse ATT8": openings fail from ATT8 on.
    QString fault;
    QString sent; // "<what>@<speed>"
    double took;
    QString message, type, shown; // no type: no window
};

} // namespace

class TestCheckBoot : public QObject {
    Q_OBJECT
private slots:
    void check_data() {
        const QString slow = "ATES@9600 AB@9600 AB@9600 AB@9600 ATT8@9600";
        const QString ok = "No Connection", failed = "Comm Port Failed - " + Gone;
        // clang-format off
        AddRows<CheckRow>({
            {"$ at 9600 never reopens; first line of the reply, with its CR", {"$"}, "BL 2.07\r\nK1X 2026-01-05\r\n", "", "ATES@9600 AB@9600 ver@9600", 4.1, ok, "Q70", "BL 2.07\r"},
            {"an answer not starting with $ or # is dropped; reply without CR", {" $", "$"}, "BL 2.07", "", "ATES@9600 AB@9600 AB@9600 ver@9600", 5.1, ok, "Q70", "BL 2.07"},
            {"# only at the fast speed; markup and high bytes as they came", {"", "", "", "#"}, "<b>V\xe9</b>\r", "", slow + " AB@57600 ver@57600", 7.2, ok, "6620", QStringLiteral(u"<b>V\u00e9</b>\r")},
            {"silence", {}, "", "", slow + " AB@57600 AB@57600 AB@57600", 6.2, "Connection Failed", "", ""},
            {"port will not open", {}, "", "refuse", "", 0, "Comm Port Open Failed", "", ""},
            {"gone during the first autobaud pause", {}, "", "vanish AB", "ATES@9600 AB@9600", 1.1, failed, "", ""},
            {"gone just after the wake-up command", {}, "", "vanish ATT8", slow + " AB@57600", 4.2, failed, "", ""},
            {"gone before the reopening: reported gone, not reopened", {}, "", "lost ATT8", slow, 3.2, failed, "", ""},
            {"reopening at speed refused", {}, "", "refuse ATT8", slow, 3.2, failed, "", ""},
        });
        // clang-format on
    }
    void check() {
        QFETCH(CheckRow, row);
        Rig r;
        r.m.PortNumber = 4;
        SetBaudRate(r.m, 57600);
        r.m.ModemConnected = true; // left from before: must not count
        r.m.AbortRequested = true; // "Halt Load" does not stop a check
        // The boot loader notes each send with the status line shown with it,
        // answers 0.2 s later, and fails the port as the row says.
        QStringList sent;
        qsizetype autobauds = 0;
        r.port.onOutput = [&](const QByteArray& bytes) {
            static const QHash<QByteArray, std::pair<QString, QString>> known{
                {"+++  ATES\r", {"ATES", "Sending ATES"}},
                {"\x80", {"AB", "Sending AutoBaud Character"}},
                {"+++  ATT8\r", {"ATT8", "Sending ATT8"}},
                {"ver\r", {"ver", "Connection OK"}}};
            const auto [name, caption] = known.value(bytes, {QString::fromLatin1(bytes), {}});
            sent << name + '@' + QString::number(*r.port.Baud());
            QCOMPARE(r.lblMsg.text(), caption);
            const QByteArray answer = name == "ver"  ? row.reply
                                      : name == "AB" ? row.answers.value(autobauds++)
                                                     : "";
            if (!answer.isEmpty())
                r.clock.After(0.2, [&r, answer] { r.port.Feed(answer); });
            if (row.fault == "refuse " + name)
                r.port.refuseOpen = Gone;
            else if (row.fault.endsWith(' ' + name))
                r.clock.After(row.fault.startsWith("lost") ? 0.05 : 0.3,
                              [&r] { r.port.Vanish(Gone); });
        };
        if (row.fault == QLatin1String("refuse")) {
            r.port.refuseOpen = Gone;
            r.prompts.Expect(QStringLiteral("Unable to Open Comm Port"));
        }
        const double start = r.clock.Timer();
        CheckBootVersion(r.ctx);

        QVERIFY(r.prompts.AllAnswered() && !r.port.PortOpen() && r.port.CommPort() == 4);
        QCOMPARE(sent.join(' '), row.sent);
        QCOMPARE(r.clock.Timer() - start, row.took);
        QCOMPARE(r.lblMsg.text(), row.message);
        QVERIFY(r.lblMsg.tint == (row.message.startsWith("Comm Port") ? Tint::Red : Tint::Blue));
        QVERIFY(r.m.ModemConnected == !row.type.isEmpty() && r.lblMsg.board == row.type);
        QCOMPARE(r.lblMsg.version, row.shown);
    }

    // The boot version has a window of its own, never one condemned by a
    // close; that an open one is reused and cleared is shown from the main
    // window's checks.
    void oneWindowThatComesBackEmptyAfterClosing() {
        QPointer<frmCheckBoot> window;
        ShowBootVersion(window, QStringLiteral("BL 2.07\r"), QStringLiteral("Q70"));
        QPointer<frmCheckBoot> first = window;
        // A window of its own: it stays when the main window closes.
        QVERIFY(window->isVisible() && window->isWindow() && !window->parentWidget());
        QCOMPARE(window->lblVersion->textFormat(), Qt::PlainText);

        // Closed by the operator and not deleted yet: a new window, not the
        // condemned one.
        window->close();
        ShowBootVersion(window, QStringLiteral("BL 3.10\r"), QStringLiteral("6620"));
        QVERIFY(window != first);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(first.isNull());
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->lblVersion->text(), QStringLiteral("BL 3.10\r"));
        delete window;
    }
};

QTEST_MAIN(TestCheckBoot)
#include "tst_checkboot.moc"
