// The settings dialogs and the About window, driven through their controls.
#include "app/Module1.h"
#include "dialogs/frmAbout.h"
#include "dialogs/frmBaud.h"
#include "dialogs/frmMode.h"
#include "dialogs/frmPort.h"
#include "tests/support/ScriptedPrompts.h"

#include <QApplication>
#include <QButtonGroup>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

namespace {

const QString ReloadQuestion =
    QStringLiteral("Are you sure you want to reload the boot loader\r\n"
                   "If the load fails the modem will require factory servicing");

// The index of the checked button, -1 for none.
template <std::size_t N> int Checked(const std::array<QRadioButton*, N>& buttons) {
    for (std::size_t i = 0; i < N; ++i)
        if (buttons[i]->isChecked())
            return static_cast<int>(i);
    return -1;
}

int SelectedRow(const QListWidget& list) {
    const auto chosen = list.selectedItems();
    return chosen.isEmpty() ? -1 : list.row(chosen.constFirst());
}

void Click(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

void ClickRow(QListWidget* list, int row) {
    list->scrollToItem(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(row)).center());
}

} // namespace

class TestDialogs : public QObject {
    Q_OBJECT
private slots:
    void port_data();
    void port();
    void port_closeBoxStoresNothing();
    void port_reopeningStartsFromTheStoredValue();
    void baud_data();
    void baud();
    void mode_data();
    void mode();
    void mode_reloadQuestion_data();
    void mode_reloadQuestion();
    void dialogs_openCentredOverTheMainWindow();
    void about();
};

// stored: PortNumber when the dialog opens; choose: button clicked (-1: none)
void TestDialogs::port_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("preselected");
    QTest::addColumn<int>("choose");
    QTest::addColumn<int>("result"); // PortNumber afterwards
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("closed");

    QTest::newRow("Set at once keeps the port") << 3 << 2 << -1 << 3 << "COM 3" << true;
    QTest::newRow("COM 8") << 3 << 2 << 7 << 8 << "COM 8" << true;
    QTest::newRow("COM 5, right column") << 1 << 0 << 4 << 5 << "COM 5" << true;
    QTest::newRow("port 0 from the file") << 0 << -1 << -1 << 0 << "old" << false;
    QTest::newRow("port 12 from the file") << 12 << -1 << -1 << 12 << "old" << false;
    QTest::newRow("port 12, then a choice") << 12 << -1 << 1 << 2 << "COM 2" << true;
    QTest::newRow("negative port") << -1 << -1 << -1 << -1 << "old" << false;
}

void TestDialogs::port() {
    QFETCH(int, stored);
    QFETCH(int, preselected);
    QFETCH(int, choose);
    QFETCH(int, result);
    QFETCH(QString, label);
    QFETCH(bool, closed);

    Module1 m;
    InitDefaults(m);
    m.PortNumber = static_cast<std::int16_t>(stored);
    QLabel lblPort(QStringLiteral("old"));
    frmPort dialog(m, lblPort);
    dialog.show();
    QCOMPARE(Checked(dialog.optCom), preselected);
    QCOMPARE(dialog.PendingPort, preselected < 0 ? 0 : stored);

    if (choose >= 0)
        Click(dialog.optCom[choose]);
    Click(dialog.cmdSet);

    QCOMPARE(m.PortNumber, result);
    QCOMPARE(lblPort.text(), label);
    QCOMPARE(m.SettingsChanged, closed);
    QCOMPARE(dialog.isVisible(), !closed);
    if (closed)
        QCOMPARE(dialog.result(), QDialog::Accepted);
}

void TestDialogs::port_closeBoxStoresNothing() {
    Module1 m;
    InitDefaults(m);
    m.PortNumber = 3;
    QLabel lblPort(QStringLiteral("COM 3"));
    frmPort dialog(m, lblPort);
    dialog.show();
    Click(dialog.optCom[4]);
    QVERIFY(dialog.close());
    QCOMPARE(m.PortNumber, 3);
    QCOMPARE(lblPort.text(), QStringLiteral("COM 3"));
    QVERIFY(!m.SettingsChanged);
}

void TestDialogs::port_reopeningStartsFromTheStoredValue() {
    Module1 m;
    InitDefaults(m);
    m.PortNumber = 3;
    QLabel lblPort;
    frmPort dialog(m, lblPort);
    dialog.show();
    Click(dialog.optCom[4]);
    dialog.close();

    dialog.show();
    QCOMPARE(Checked(dialog.optCom), 2);
    QCOMPARE(dialog.PendingPort, 3);
    dialog.close();

    // A value no button offers must clear the earlier selection, not keep it.
    m.PortNumber = 12;
    dialog.show();
    QCOMPARE(Checked(dialog.optCom), -1);
    Click(dialog.cmdSet);
    QCOMPARE(m.PortNumber, 12);
    QVERIFY(dialog.isVisible());
}

void TestDialogs::baud_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("preselected");
    QTest::addColumn<int>("choose"); // row clicked, -1 for none
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("closed");

    QTest::newRow("115200 opens on the last entry, 38400 chosen")
        << 115200 << 4 << 2 << 38400 << " 38400" << true;
    QTest::newRow("Set at once keeps 9600") << 9600 << 0 << -1 << 9600 << " 9600" << true;
    QTest::newRow("57600") << 19200 << 1 << 3 << 57600 << " 57600" << true;
    QTest::newRow("rate the table lacks") << 12345 << -1 << -1 << 12345 << "old" << false;
    QTest::newRow("rate the table lacks, then a choice")
        << 12345 << -1 << 4 << 115200 << " 115200" << true;
}

void TestDialogs::baud() {
    QFETCH(int, stored);
    QFETCH(int, preselected);
    QFETCH(int, choose);
    QFETCH(int, result);
    QFETCH(QString, label);
    QFETCH(bool, closed);

    Module1 m;
    InitDefaults(m);
    m.BaudRate = stored;
    m.FastSettings = SettingsFor(stored);
    QLabel lblBaud(QStringLiteral("old"));
    frmBaud dialog(m, lblBaud);
    dialog.show();
    // Opened for real, the list has the keyboard focus, and with it a
    // current row that is not a choice.
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QCOMPARE(QApplication::focusWidget(), dialog.lstBaud);
    QCOMPARE(dialog.lstBaud->count(), 5);
    QCOMPARE(dialog.lstBaud->item(0)->text(), QStringLiteral(" 9600"));
    QCOMPARE(dialog.lstBaud->item(4)->text(), QStringLiteral(" 115200"));
    QCOMPARE(SelectedRow(*dialog.lstBaud), preselected);

    if (choose >= 0)
        ClickRow(dialog.lstBaud, choose);
    Click(dialog.cmdSet);

    QCOMPARE(m.BaudRate, result);
    QCOMPARE(m.FastSettings, SettingsFor(result));
    QCOMPARE(lblBaud.text(), label);
    QCOMPARE(m.SettingsChanged, closed);
    QCOMPARE(dialog.isVisible(), !closed);
}

void TestDialogs::mode_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("preselected");
    QTest::addColumn<int>("choose");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("closed");

    QTest::newRow("mode 0 without a question") << 2 << 2 << 0 << 0 << " 0" << true;
    QTest::newRow("mode 2 without a question") << 0 << 0 << 2 << 2 << " 2" << true;
    QTest::newRow("Set at once keeps mode 2") << 2 << 2 << -1 << 2 << " 2" << true;
    QTest::newRow("mode 7 from the file") << 7 << -1 << -1 << 7 << "old" << false;
    QTest::newRow("mode -1 from the file") << -1 << -1 << -1 << -1 << "old" << false;
    QTest::newRow("mode 7, then a choice") << 7 << -1 << 0 << 0 << " 0" << true;
}

void TestDialogs::mode() {
    QFETCH(int, stored);
    QFETCH(int, preselected);
    QFETCH(int, choose);
    QFETCH(int, result);
    QFETCH(QString, label);
    QFETCH(bool, closed);

    Module1 m;
    InitDefaults(m);
    m.LoadMode = static_cast<std::int16_t>(stored);
    QLabel lblMode(QStringLiteral("old"));
    ScriptedPrompts prompts; // no box expected
    frmMode dialog(m, lblMode, prompts);
    dialog.show();
    QCOMPARE(dialog.optMode[0]->text(), QStringLiteral("Mode 0 - Load K1X Application Code "));
    QCOMPARE(Checked(dialog.optMode), preselected);

    if (choose >= 0)
        Click(dialog.optMode[choose]);
    Click(dialog.cmdSet);

    QCOMPARE(m.LoadMode, result);
    QCOMPARE(lblMode.text(), label);
    QCOMPARE(m.SettingsChanged, closed);
    QCOMPARE(dialog.isVisible(), !closed);
    QVERIFY(prompts.seen.isEmpty());
}

void TestDialogs::mode_reloadQuestion_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<bool>("clickMode1"); // false: mode 1 is already stored
    QTest::addColumn<BoxAnswer>("answer");

    QTest::newRow("chosen, Cancel") << 2 << true << BoxAnswer::Cancel;
    QTest::newRow("chosen, OK") << 2 << true << BoxAnswer::Ok;
    QTest::newRow("already mode 1, asked again, Cancel") << 1 << false << BoxAnswer::Cancel;
    QTest::newRow("already mode 1, asked again, OK") << 1 << false << BoxAnswer::Ok;
}

void TestDialogs::mode_reloadQuestion() {
    QFETCH(int, stored);
    QFETCH(bool, clickMode1);
    QFETCH(BoxAnswer, answer);

    Module1 m;
    InitDefaults(m);
    m.LoadMode = static_cast<std::int16_t>(stored);
    QLabel lblMode(QStringLiteral("old"));
    ScriptedPrompts prompts;
    frmMode dialog(m, lblMode, prompts);
    dialog.show();
    if (clickMode1)
        Click(dialog.optMode[1]);
    prompts.Expect(ReloadQuestion, answer);
    Click(dialog.cmdSet);

    QVERIFY(prompts.AllAnswered());
    const Box& box = prompts.seen.constFirst();
    QCOMPARE(box.title, QStringLiteral("Velloran"));
    QCOMPARE(box.icon, BoxIcon::Question);
    QCOMPARE(box.buttons, BoxButtons::OkCancel);
    QCOMPARE(box.defaultButton, BoxAnswer::Cancel);

    if (answer == BoxAnswer::Cancel) {
        QCOMPARE(m.LoadMode, stored);
        QCOMPARE(lblMode.text(), QStringLiteral("old"));
        QVERIFY(!m.SettingsChanged);
        QVERIFY(dialog.isVisible());
        QCOMPARE(Checked(dialog.optMode), 1);
        // The question comes back on the next Set.
        prompts.Expect(ReloadQuestion, BoxAnswer::Ok);
        Click(dialog.cmdSet);
        QVERIFY(prompts.AllAnswered());
    }
    QCOMPARE(m.LoadMode, 1);
    QCOMPARE(lblMode.text(), QStringLiteral(" 1"));
    QVERIFY(m.SettingsChanged);
    QVERIFY(!dialog.isVisible());
}

void TestDialogs::dialogs_openCentredOverTheMainWindow() {
    Module1 m;
    InitDefaults(m);
    QLabel label;
    ScriptedPrompts prompts;
    QWidget main;
    main.setGeometry(60, 50, 558, 268);
    main.show();

    frmPort port(m, label, &main);
    frmBaud baud(m, label, &main);
    frmMode mode(m, label, prompts, &main);
    frmAbout about(&main);
    for (QDialog* dialog : std::initializer_list<QDialog*>{&port, &baud, &mode, &about}) {
        dialog->show();
        const QPoint offset = dialog->geometry().center() - main.geometry().center();
        QVERIFY2(offset.manhattanLength() <= 2, dialog->metaObject()->className());
        dialog->close();
    }
}

void TestDialogs::about() {
    frmAbout dialog;
    dialog.show();
    QVERIFY(dialog.Label1->text().endsWith(QStringLiteral("Program Version " VELLORAN_VERSION)));
    QVERIFY(!dialog.Picture1->pixmap().isNull());
    // Both lines are sized to their text and must not run off the window.
    for (const QLabel* line : {dialog.Label1, dialog.Label2}) {
        QVERIFY(!line->text().isEmpty());
        QVERIFY2(line->geometry().right() < dialog.width(), qPrintable(line->text()));
    }
    Click(dialog.cmdOK);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), QDialog::Accepted);
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
