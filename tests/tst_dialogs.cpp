// The settings dialogs driven through their controls, and what the operator
// is told when a port would not open and what to do about it.
#include "dialogs/frmBaud.h"
#include "dialogs/frmMode.h"
#include "dialogs/frmPort.h"
#include "dialogs/frmSupervisor.h"
#include "port/PortAdvice.h"
#include "tests/support/WindowRig.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <algorithm>
#include <memory>

namespace {

std::unique_ptr<QDialog> Open(const QString& which, const Module1& m, Prompts& prompts) {
    if (which == QLatin1String("port"))
        return std::make_unique<frmPort>(m);
    if (which == QLatin1String("mode"))
        return std::make_unique<frmMode>(m, prompts);
    return std::make_unique<frmBaud>(m);
}

// What a dialog accepted.
int Chosen(const QDialog& d) {
    const auto* port = qobject_cast<const frmPort*>(&d);
    const auto* mode = qobject_cast<const frmMode*>(&d);
    return port   ? port->Chosen()
           : mode ? mode->Chosen()
                  : qobject_cast<const frmBaud*>(&d)->Chosen();
}

// The choice a dialog shows selected: its list's selected row or its checked
// button, -1 for none.
int Selected(const QDialog& d) {
    if (auto* list = d.findChild<QListWidget*>())
        return list->selectedItems().isEmpty() ? -1 : list->row(list->selectedItems().first());
    const auto buttons = d.findChildren<QRadioButton*>();
    const auto on = std::ranges::find_if(buttons, &QRadioButton::isChecked);
    return on == buttons.end() ? -1 : int(on - buttons.begin());
}

struct SetRow {
    const char* name;
    QString which;
    int stored;      // the setting when the dialog opens
    int preselected; // -1: nothing selected
    int choose;      // -1: Set without a choice
    int question;    // -1: none; else the answer to the reload question
    int chosen;      // what Set accepts; -1: nothing, and the dialog stays open
};

} // namespace

class TestDialogs : public QObject {
    Q_OBJECT
private slots:
    void set_data() {
        const int ok = int(BoxAnswer::Ok), cancel = int(BoxAnswer::Cancel);
        // clang-format off
        AddRows<SetRow>({
            {"port: Set at once keeps it", "port", 3, 2, -1, -1, 3},
            {"port: COM 5, right column", "port", 1, 0, 4, -1, 5},
            {"port 0 from the file", "port", 0, -1, -1, -1, -1},
            {"port 12, then a choice", "port", 12, -1, 1, -1, 2},
            {"baud: 115200 last, 38400 chosen", "baud", 115200, 4, 2, -1, 38400},
            {"baud: Set at once keeps 9600", "baud", 9600, 0, -1, -1, 9600},
            {"baud the table lacks", "baud", 12345, -1, -1, -1, -1},
            {"mode 0 without a question", "mode", 2, 2, 0, -1, 0},
            {"mode -1 from the file", "mode", -1, -1, -1, -1, -1},
            {"mode 7, then 2", "mode", 7, -1, 2, -1, 2},
            {"mode 1 chosen, OK", "mode", 2, 2, 1, ok, 1},
            {"mode 1 chosen, Cancel", "mode", 2, 2, 1, cancel, -1},
            {"already mode 1, asked again", "mode", 1, 1, -1, ok, 1},
        });
        // clang-format on
    }
    void set() {
        QFETCH(SetRow, row);
        const bool accepts = row.chosen >= 0;
        Module1 m;
        InitDefaults(m);
        m.PortNumber = m.LoadMode = static_cast<std::int16_t>(row.stored);
        SetBaudRate(m, row.stored);
        ScriptedPrompts prompts; // no box expected
        const std::unique_ptr<QDialog> dialog = Open(row.which, m, prompts);
        QPushButton* cmdSet = dialog->findChild<QPushButton*>();

        // A choice left by the close box is refused, and not shown next time.
        dialog->show();
        Choose(*dialog, 0);
        QVERIFY(dialog->close() && dialog->result() == QDialog::Rejected);

        dialog->show();
        // Opened for real, the dialog's first control has the keyboard focus;
        // in the list that brings a current row, which is not a choice.
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        QCOMPARE(Selected(*dialog), row.preselected);
        if (row.choose >= 0)
            Choose(*dialog, row.choose);
        if (row.question >= 0)
            prompts.Expect(
                QStringLiteral("Are you sure you want to reload the boot loader\r\n"
                               "If the load fails the modem will require factory servicing"),
                BoxAnswer(row.question));
        Click(cmdSet);

        QVERIFY(prompts.AllAnswered() && prompts.seen.size() == (row.question < 0 ? 0 : 1));
        QCOMPARE(dialog->isVisible(), !accepts);
        if (accepts)
            QVERIFY(dialog->result() == QDialog::Accepted && Chosen(*dialog) == row.chosen);
        if (row.question < 0)
            return;
        const Box& box = prompts.seen.constFirst();
        QVERIFY(box.title == QStringLiteral("Velloran") && box.icon == BoxIcon::Question &&
                box.buttons == BoxButtons::OkCancel && box.defaultButton == BoxAnswer::Cancel);
        if (!accepts) { // the question comes back on the next Set
            QCOMPARE(Selected(*dialog), 1);
            prompts.Expect(box.text, BoxAnswer::Ok);
            Click(cmdSet);
            QVERIFY(Chosen(*dialog) == 1 && !dialog->isVisible());
        }
    }

    // A supervisor's password is never shown, and OK waits for an answer
    // that can be tried: a name for the events, and a new password long
    // enough and typed the same twice, so that a slip never becomes one.
    void supervisor() {
        const struct {
            bool server, firstUse;
            QString user, password, again;
            bool ok;
        } rows[] = {
            {false, false, "boss", "kept one", "", true},
            {false, false, "", "kept one", "", false},
            {false, true, "boss", "long enough 1", "long enough 1", true},
            {false, true, "boss", "long enough 1", "long enough 2", false},
            {false, true, "boss", "too short", "too short", false},
            {true, false, "", "", "", true}, // the login's own, or ~/.pgpass
        };
        for (const auto& row : rows) {
            frmSupervisor d({"Lock", {"A 1"}, false, row.server, row.firstUse});
            const auto field = [&d](const char* name) { return d.findChild<QLineEdit*>(name); };
            field("supervisor")->setText(row.user);
            field("password")->setText(row.password);
            if (QLineEdit* again = field("passwordAgain"))
                again->setText(row.again);
            QVERIFY(!field("passwordAgain") ||
                    field("passwordAgain")->echoMode() == QLineEdit::Password);
            QVERIFY(field("password")->echoMode() == QLineEdit::Password);
            QCOMPARE(d.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->isEnabled(),
                     row.ok);
            QVERIFY(d.Reply().job == "A 1" && d.Reply().login.password == row.password);
        }
    }

    // What the detail behind "Unable to Open Comm Port" says of each fault
    // ("|" between the pieces, "!" before those that must not be there). COM 3
    // is named by VELLORAN_COM3 as /dev/ttyUSB0, or else is /dev/ttyS2; "more"
    // fills the field only its advice reads: the serial ports found, the
    // owning group, the lock file (held, or gone when its holder ended), or
    // another window of this tool holding it.
    void detail() {
        using K = CommFault;
        const QString p = QStringLiteral("may not use it (why)|log out and in again|!root|");
        const struct {
            K kind;
            bool named;
            QString more, checks;
        } rows[] = {
            // clang-format off
            {K::NoDevice, false, "/dev/ttyS0, /dev/ttyUSB0", "COM 3 is /dev/ttyS2: COM n is /dev/ttyS<n-1>|There is no such device (why)|plugged in|export VELLORAN_COM3=/dev/ttyUSB0\n|computer: /dev/ttyS0, /dev/ttyUSB0."},
            {K::NoDevice, true, "", "COM 3 is /dev/ttyUSB0, as the environment variable VELLORAN_COM3 names it|plugged in|Check that VELLORAN_COM3 names|No serial device was found|!/dev/ttyS<n-1>|!=/dev/"},
            // Only the group that owns the device is worth joining, whatever its name, and never root.
            {K::NoPermission, true, "uucp", p + "The device|adduser $USER uucp"},
            {K::NoPermission, true, "root", p + "On Debian|$USER dialout"},
            {K::Busy, true, "held", "using it (why)|LCK..ttyUSB0 names process 4242 (Quorvel Velloran)|second copy of this tool"},
            {K::Busy, true, "gone", "process 4242, which is no longer running|sudo rm /var/lock/LCK..ttyUSB0|!Close"},
            {K::Busy, false, "", "Close the program|!lock"},
            {K::Busy, true, "tool", "This tool is using it|let the main window finish with this one|!Close the program"},
            {K::NotSerialPort, true, "", "That is not a serial port (why)|unset it to use /dev/ttyS2"},
            {K::NotSerialPort, false, "", "Choose another|!unset"},
            {K::Other, false, "", "COM 3 is /dev/ttyS2|would not open (why)|!- "},
            // clang-format on
        };
        for (const auto& [kind, named, more, checks] : rows) {
            const bool locked = more == "held" || more == "gone";
            const PortFault fault{kind,
                                  3,
                                  named ? "/dev/ttyUSB0" : "/dev/ttyS2",
                                  named,
                                  "why",
                                  more,
                                  locked ? "/var/lock/LCK..ttyUSB0" : "",
                                  4242,
                                  "Quorvel Velloran",
                                  more == "gone",
                                  more.split(", ", Qt::SkipEmptyParts),
                                  more == "tool" ? "the main window" : ""};
            const QString text = PortOpenDetail(CommError(QStringLiteral("unused"), fault));
            for (const QString& s : checks.split('|'))
                QVERIFY2(text.contains(s.mid(s.startsWith('!'))) != s.startsWith('!'),
                         qPrintable(s + " in:\n" + text));
        }
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
