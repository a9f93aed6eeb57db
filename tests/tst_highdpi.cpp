// The windows on a screen of twice the usual pixel density: laid out in
// device-independent pixels, they double on screen, and the drawn logo is
// drawn at the screen's density rather than blown up.
#include "app/Logo.h"
#include "app/frmMain.h"
#include "dialogs/frmAbout.h"
#include "tests/support/MemoryComm.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/SimClock.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>

class TestHighDpi : public QObject {
    Q_OBJECT
private slots:
    void windows_data();
    void windows();
};

void TestHighDpi::windows_data() {
    QTest::addColumn<QString>("which");
    QTest::addColumn<QSize>("client"); // device-independent pixels

    QTest::newRow("main window") << "main" << QSize(558, 268);
    QTest::newRow("About window") << "about" << QSize(315, 156);
}

void TestHighDpi::windows() {
    QFETCH(QString, which);
    QFETCH(QSize, client);
    QCOMPARE(qApp->devicePixelRatio(), 2.0);

    QTemporaryDir dir; // no configuration file: the defaults
    QDir::setCurrent(dir.path());
    Module1 m;
    MemoryComm port;
    SimClock clock;
    ScriptedPrompts prompts;
    std::unique_ptr<QWidget> window;
    QWidget* area = nullptr;
    QLabel* logo = nullptr;
    if (which == QLatin1String("main")) {
        auto* w = new frmMain(m, port, clock, prompts);
        window.reset(w);
        area = w->centralWidget();
        logo = w->Picture1;
    } else {
        auto* w = new frmAbout;
        window.reset(w);
        area = w;
        logo = w->Picture1;
    }
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    QCOMPARE(area->size(), client);
    QCOMPARE(area->grab().size(), client * 2);

    QImage shown = logo->grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QCOMPARE(shown.size(), QSize(288, 58));
    // Drawn at the density, the logo is what the label shows, pixel for pixel
    // (on the window's background, which shows through its round corners).
    QImage drawn(shown.size(), QImage::Format_ARGB32_Premultiplied);
    drawn.setDevicePixelRatio(2.0);
    drawn.fill(logo->palette().color(QPalette::Window));
    QPainter(&drawn).drawPixmap(0, 0, Logo(2.0));
    drawn.setDevicePixelRatio(1.0);
    shown.setDevicePixelRatio(1.0);
    QVERIFY(shown == drawn);
}

int main(int argc, char* argv[]) {
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    TestHighDpi test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_highdpi.moc"
