// The settings dialogs and the About window, driven through their controls.
#include "app/Module1.h"
#include "dialogs/frmAbout.h"
#include "dialogs/frmBaud.h"
#include "dialogs/frmMode.h"
#include "dialogs/frmPort.h"
#include "tests/support/ScriptedPrompts.h"

#include <QButtonGroup>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <functional>
#include <memory>

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

void Click(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

// A settings dialog behind one face: the choice it shows selected (-1 for
// none), the operator picking choice i, and the setting it guards.
struct Opened {
    std::unique_ptr<QDialog> dialog;
    QPushButton* cmdSet = nullptr;
    std::function<int()> selected;
    std::function<void(int)> choose;
    std::function<qint64()> setting;
};

Opened Open(const QString& which, Module1& m, QLabel& label, Prompts& prompts) {
    Opened o;
    if (which == QLatin1String("port")) {
        auto* d = new frmPort(m, label);
        o.dialog.reset(d);
        o.cmdSet = d->cmdSet;
        o.selected = [d] { return Checked(d->optCom); };
        o.choose = [d](int i) { Click(d->optCom[i]); };
        o.setting = [&m] { return m.PortNumber; };
    } else if (which == QLatin1String("mode")) {
        auto* d = new frmMode(m, label, prompts);
        o.dialog.reset(d);
        o.cmdSet = d->cmdSet;
        o.selected = [d] { return Checked(d->optMode); };
        o.choose = [d](int i) { Click(d->optMode[i]); };
        o.setting = [&m] { return m.LoadMode; };
    } else {
        auto* d = new frmBaud(m, label);
        o.dialog.reset(d);
        o.cmdSet = d->cmdSet;
        QListWidget* list = d->lstBaud;
        o.selected = [list] {
            const auto chosen = list->selectedItems();
            return chosen.isEmpty() ? -1 : list->row(chosen.constFirst());
        };
        o.choose = [list](int row) {
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualItemRect(list->item(row)).center());
        };
        o.setting = [&m] { return m.BaudRate; };
    }
    return o;
}

} // namespace

class TestDialogs : public QObject {
    Q_OBJECT
private slots:
    void set_data();
    void set();
    void port_closeBoxStoresNothingAndReopeningStartsAfresh();
    void mode_reloadQuestion_data();
    void mode_reloadQuestion();
    void about();
};

void TestDialogs::set_data() {
    QTest::addColumn<QString>("which");
    QTest::addColumn<int>("stored");      // the setting when the dialog opens
    QTest::addColumn<int>("preselected"); // -1: nothing selected
    QTest::addColumn<int>("choose");      // -1: Set without a choice
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("label"); // "old": untouched, and the dialog stays open

    QTest::newRow("port: Set at once keeps it") << "port" << 3 << 2 << -1 << 3 << "COM 3";
    QTest::newRow("port: COM 8") << "port" << 3 << 2 << 7 << 8 << "COM 8";
    QTest::newRow("port: COM 5, right column") << "port" << 1 << 0 << 4 << 5 << "COM 5";
    QTest::newRow("port 0 from the file") << "port" << 0 << -1 << -1 << 0 << "old";
    QTest::newRow("port 12 from the file") << "port" << 12 << -1 << -1 << 12 << "old";
    QTest::newRow("port 12, then a choice") << "port" << 12 << -1 << 1 << 2 << "COM 2";
    QTest::newRow("baud: 115200 on the last entry, 38400 chosen")
        << "baud" << 115200 << 4 << 2 << 38400 << " 38400";
    QTest::newRow("baud: Set at once keeps 9600") << "baud" << 9600 << 0 << -1 << 9600 << " 9600";
    QTest::newRow("baud the table lacks") << "baud" << 12345 << -1 << -1 << 12345 << "old";
    QTest::newRow("baud the table lacks, then a choice")
        << "baud" << 12345 << -1 << 3 << 57600 << " 57600";
    QTest::newRow("mode 0 without a question") << "mode" << 2 << 2 << 0 << 0 << " 0";
    QTest::newRow("mode 2 without a question") << "mode" << 0 << 0 << 2 << 2 << " 2";
    QTest::newRow("mode 7 from the file") << "mode" << 7 << -1 << -1 << 7 << "old";
    QTest::newRow("mode -1 from the file") << "mode" << -1 << -1 << -1 << -1 << "old";
    QTest::newRow("mode 7, then a choice") << "mode" << 7 << -1 << 0 << 0 << " 0";
}

void TestDialogs::set() {
    QFETCH(QString, which);
    QFETCH(int, stored);
    QFETCH(int, preselected);
    QFETCH(int, choose);
    QFETCH(int, result);
    QFETCH(QString, label);
    const bool stores = label != QLatin1String("old");

    Module1 m;
    InitDefaults(m);
    m.PortNumber = static_cast<std::int16_t>(stored);
    m.LoadMode = static_cast<std::int16_t>(stored);
    m.BaudRate = stored;
    m.FastSettings = SettingsFor(stored);
    QLabel shown(QStringLiteral("old"));
    ScriptedPrompts prompts; // no box expected
    Opened o = Open(which, m, shown, prompts);
    o.dialog->show();
    // Opened for real, the dialog's first control has the keyboard focus; in
    // the list that brings a current row, which is not a choice.
    o.dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(o.dialog.get()));
    QCOMPARE(o.selected(), preselected);
    if (auto* baud = qobject_cast<frmBaud*>(o.dialog.get())) {
        QCOMPARE(baud->lstBaud->item(0)->text(), QStringLiteral(" 9600"));
        QCOMPARE(baud->lstBaud->item(4)->text(), QStringLiteral(" 115200"));
    }

    if (choose >= 0)
        o.choose(choose);
    Click(o.cmdSet);

    QCOMPARE(o.setting(), result);
    QCOMPARE(m.FastSettings, SettingsFor(m.BaudRate));
    QCOMPARE(shown.text(), label);
    QCOMPARE(m.SettingsChanged, stores);
    QCOMPARE(o.dialog->isVisible(), !stores);
    QVERIFY(prompts.seen.isEmpty());
}

void TestDialogs::port_closeBoxStoresNothingAndReopeningStartsAfresh() {
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
