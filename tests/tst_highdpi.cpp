// The windows on a screen of twice the usual pixel density: laid out in
// device-independent pixels, they double on screen, and the drawn logo is
// drawn at the screen's density rather than blown up.
#include "dialogs/frmAbout.h"
#include "tests/support/WindowRig.h"
#include "ui/Logo.h"

#include <QApplication>
#include <QPainter>
#include <QTest>

// Before the application starts, which is when the scale is taken.
static const bool scaled = qputenv("QT_SCALE_FACTOR", "2");

class TestHighDpi : public QObject {
    Q_OBJECT
private slots:
    void windows_data();
    void windows();
};

void TestHighDpi::windows_data() {
    QTest::addColumn<bool>("main");
    QTest::addColumn<QSize>("client"); // device-independent pixels
    QTest::newRow("main window") << true << QSize(558, 268);
    QTest::newRow("About window") << false << QSize(315, 156);
}

void TestHighDpi::windows() {
    QFETCH(bool, main);
    QFETCH(QSize, client);
    QVERIFY(scaled);
    QCOMPARE(qApp->devicePixelRatio(), 2.0);
    WindowRig t; // a folder of its own, no configuration file: the defaults
    frmAbout about;
    QWidget* window = main ? static_cast<QWidget*>(&t.open()) : &about;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QWidget* area = main ? t.w->centralWidget() : &about;
    QCOMPARE(area->size(), client);
    QCOMPARE(area->grab().size(), client * 2);

    QLabel* logo = main ? t.w->Picture1 : about.Picture1;
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

QTEST_MAIN(TestHighDpi)
#include "tst_highdpi.moc"
