// The configuration file: what the reader makes of each line, and the exact
// bytes the writer leaves behind, or nothing new when it cannot.
#include "app/ConfigFile.h"
#include "app/Module1.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

namespace {

QByteArray Contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Put(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

class TestConfigFile : public QObject {
    Q_OBJECT
private slots:
    void init();
    void read_data();
    void read();
    void read_missingOrNotAFile_keepsDefaults();
    void write_data();
    void write();
    void write_replacesTheWholeOldFile();
    void write_failure_leavesWhatWasThere();
    void write_unwritableDirectory_keepsTheOldFile();

private:
    QTemporaryDir dir;
    Module1 m;
};

void TestConfigFile::init() {
    QVERIFY(dir.isValid());
    QFile::remove(dir.filePath(QStringLiteral("VELLORAN.CFG")));
    m = Module1();
    InitDefaults(m);
    m.AppDirectory = dir.path();
}

void TestConfigFile::read_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("directory");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("mode");

    const QString deflt = QStringLiteral("MYFILE.ROM");
    const QString none;
    const QString long130(130, QLatin1Char('A'));

    QTest::newRow("all four") << QByteArray(
                                     "FILE=/loads/a.rom\r\nPORT=3\r\nBAUD=57600\r\nMODE=0\r\n")
                              << "/loads/a.rom"
                              << "/loads" << 3 << 57600 << 0;
    QTest::newRow("one line, other defaults stay")
        << QByteArray("PORT=3\r\n") << deflt << none << 3 << 115200 << 2;
    QTest::newRow("any order, the last repeat wins")
        << QByteArray("MODE=0\r\nPORT=4\r\nMODE=1\r\nPORT=5\r\n") << deflt << none << 5 << 115200
        << 1;
    QTest::newRow("lower-case keywords and unknown lines ignored")
        << QByteArray("file=/x.rom\r\nport=4\r\n[main]\r\nSPEED=9600\r\n") << deflt << none << 1
        << 115200 << 2;
    QTest::newRow("blanks around keyword and =: the name keeps its blank")
        << QByteArray(" FILE = /X.ROM\r\n") << " /X.ROM"
        << " " << 1 << 115200 << 2;
    QTest::newRow("keywords inside the value touch only the file")
        << QByteArray("FILE=/MODEM/PORT/BAUD/X.ROM\r\n") << "/MODEM/PORT/BAUD/X.ROM"
        << "/MODEM/PORT/BAUD" << 1 << 115200 << 2;
    QTest::newRow("one key part, two settings")
        << QByteArray("PORTMODE=7\r\n") << deflt << none << 7 << 115200 << 7;
    QTest::newRow("no = : the value starts the line")
        << QByteArray("PORT 3\r\n") << deflt << none << 0 << 115200 << 2;
    QTest::newRow("file cut to 128 characters") << QByteArray("FILE=" + long130.toLatin1() + "\r\n")
                                                << long130.left(128) << none << 1 << 115200 << 2;
    QTest::newRow("file in Latin-1")
        << QByteArray("FILE=/caf\xe9/x.rom\r\n") << QStringLiteral("/caf\u00e9/x.rom")
        << QStringLiteral("/caf\u00e9") << 1 << 115200 << 2;
    QTest::newRow("port takes four characters")
        << QByteArray("PORT=12345\r\n") << deflt << none << 1234 << 115200 << 2;
    QTest::newRow("not a number gives 0")
        << QByteArray("PORT=A\r\nMODE=\r\n") << deflt << none << 0 << 115200 << 0;
    QTest::newRow("blanks and sign before the number")
        << QByteArray("PORT=  +2\r\nMODE= -1\r\n") << deflt << none << 2 << 115200 << -1;
    QTest::newRow("1.5 rounds to 2")
        << QByteArray("MODE=1.5\r\n") << deflt << none << 1 << 115200 << 2;
    QTest::newRow("2.5 rounds to 2")
        << QByteArray("MODE=2.5\r\n") << deflt << none << 1 << 115200 << 2;
    QTest::newRow("3.5 rounds to 4, -2.5 to -2")
        << QByteArray("MODE=3.5\r\nPORT=-2.5\r\n") << deflt << none << -2 << 115200 << 4;
    QTest::newRow("exponent") << QByteArray("BAUD=96E2\r\nMODE=2e-1\r\n") << deflt << none << 1
                              << 9600 << 0;
    QTest::newRow("exponent without digits is not one")
        << QByteArray("MODE=0E\r\nPORT=3e+\r\n") << deflt << none << 3 << 115200 << 0;
    QTest::newRow("lone LF and lone CR end lines too")
        << QByteArray("PORT=4\nBAUD=9600\rMODE=0") << deflt << none << 4 << 9600 << 0;
    QTest::newRow("overflow stops at its line")
        << QByteArray("PORT=3\r\nMODE=99999999\r\nBAUD=9600\r\n") << deflt << none << 3 << 115200
        << 2;
    QTest::newRow("large exponent overflows")
        << QByteArray("PORT=3\r\nMODE=1E10\r\nBAUD=9600\r\n") << deflt << none << 3 << 115200 << 2;
    QTest::newRow("a half that rounds out of range overflows")
        << QByteArray("MODE=32767.5\r\nPORT=5\r\n") << deflt << none << 1 << 115200 << 2;
    QTest::newRow("bottom of 16 bits fits")
        << QByteArray("MODE=-32768.5\r\n") << deflt << none << 1 << 115200 << -32768;
    QTest::newRow("baud beyond 32 bits overflows")
        << QByteArray("BAUD=3E9\r\nPORT=5\r\n") << deflt << none << 1 << 115200 << 2;
    QTest::newRow("file before an overflow on the same line stays")
        << QByteArray("FILEMODE=1E10\r\nPORT=5\r\n") << "1E10" << none << 1 << 115200 << 2;
}

void TestConfigFile::read() {
    QFETCH(QByteArray, text);
    QFETCH(QString, file);
    QFETCH(QString, directory);
    QFETCH(int, port);
    QFETCH(int, baud);
    QFETCH(int, mode);

    Put(ConfigFilePath(m), text);
    ReadConfigFile(m);
    QCOMPARE(m.LoadFileName, file);
    QCOMPARE(m.LoadFileDirectory, directory);
    QCOMPARE(m.PortNumber, port);
    QCOMPARE(m.BaudRate, baud);
    QCOMPARE(m.FastSettings, SettingsFor(baud));
    QCOMPARE(m.LoadMode, mode);
    QVERIFY(!m.SettingsChanged);
}

void TestConfigFile::read_missingOrNotAFile_keepsDefaults() {
    Module1 defaults;
    InitDefaults(defaults);
    auto same = [&] {
        return m.LoadFileName == defaults.LoadFileName && m.PortNumber == defaults.PortNumber &&
               m.BaudRate == defaults.BaudRate && m.LoadMode == defaults.LoadMode &&
               m.FastSettings == defaults.FastSettings && m.LoadFileDirectory.isEmpty();
    };
    ReadConfigFile(m);
    QVERIFY(same());

    // A pipe of that name must not hold up the start waiting for a writer.
    QVERIFY(::mkfifo(QFile::encodeName(ConfigFilePath(m)).constData(), 0600) == 0);
    ReadConfigFile(m);
    QVERIFY(same());
    QFile::remove(ConfigFilePath(m));

    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("VELLORAN.CFG")));
    ReadConfigFile(m);
    QVERIFY(same());
    QVERIFY(QDir(dir.path()).rmdir(QStringLiteral("VELLORAN.CFG")));
}

void TestConfigFile::write_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("defaults") << "MYFILE.ROM" << 1 << 115200 << 2
                              << QByteArray(
                                     "FILE=MYFILE.ROM\r\nPORT=1\r\nBAUD=115200\r\nMODE=2\r\n");
    QTest::newRow("mode 0") << "/LOADS/A.ROM" << 8 << 9600 << 0
                            << QByteArray("FILE=/LOADS/A.ROM\r\nPORT=8\r\nBAUD=9600\r\nMODE=0\r\n");
    QTest::newRow("mode 1 writes no mode line")
        << "/LOADS/A.ROM" << 2 << 57600 << 1
        << QByteArray("FILE=/LOADS/A.ROM\r\nPORT=2\r\nBAUD=57600\r\n");
    QTest::newRow("name trimmed of blanks only")
        << "  /MY LOADS/A.ROM\t " << 1 << 115200 << 2
        << QByteArray("FILE=/MY LOADS/A.ROM\t\r\nPORT=1\r\nBAUD=115200\r\nMODE=2\r\n");
    QTest::newRow("negative numbers, Latin-1 name")
        << QStringLiteral("/CAF\u00c9.ROM") << -3 << -1 << -2
        << QByteArray("FILE=/CAF\xc9.ROM\r\nPORT=-3\r\nBAUD=-1\r\nMODE=-2\r\n");
}

void TestConfigFile::write() {
    QFETCH(QString, file);
    QFETCH(int, port);
    QFETCH(int, baud);
    QFETCH(int, mode);
    QFETCH(QByteArray, bytes);

    m.LoadFileName = file;
    m.PortNumber = std::int16_t(port);
    m.BaudRate = baud;
    m.LoadMode = std::int16_t(mode);
    m.SettingsChanged = true;
    WriteConfigFile(m);
    QCOMPARE(Contents(ConfigFilePath(m)), bytes);
    QVERIFY(m.SettingsChanged);
}

void TestConfigFile::write_replacesTheWholeOldFile() {
    Put(ConfigFilePath(m), QByteArray(4000, 'x'));
    WriteConfigFile(m);
    QCOMPARE(Contents(ConfigFilePath(m)),
             QByteArray("FILE=MYFILE.ROM\r\nPORT=1\r\nBAUD=115200\r\nMODE=2\r\n"));
    // Nothing left over beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("VELLORAN.CFG")});
}

void TestConfigFile::write_failure_leavesWhatWasThere() {
    // The name taken by a directory: it stays, and no stray file is left.
    const QString path = ConfigFilePath(m);
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("VELLORAN.CFG")));
    WriteConfigFile(m);
    QVERIFY(QFileInfo(path).isDir());
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("VELLORAN.CFG")});
    QVERIFY(QDir(dir.path()).rmdir(QStringLiteral("VELLORAN.CFG")));

    // A directory that is gone: nothing is created, nothing thrown.
    Module1 gone = m;
    gone.AppDirectory = dir.filePath(QStringLiteral("missing"));
    WriteConfigFile(gone);
    QVERIFY(!QFileInfo::exists(gone.AppDirectory));
}

void TestConfigFile::write_unwritableDirectory_keepsTheOldFile() {
    const QString path = ConfigFilePath(m);
    // Only where permissions hold, which they do not for root.
    const QByteArray old("FILE=/OLD.ROM\r\nPORT=2\r\n");
    Put(path, old);
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    QFile probe(dir.filePath(QStringLiteral("probe")));
    const bool permissionsHold = !probe.open(QIODevice::WriteOnly);
    if (permissionsHold) {
        m.LoadFileName = QStringLiteral("/NEW.ROM");
        WriteConfigFile(m);
        QCOMPARE(Contents(path), old);
    }
    QVERIFY(
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    probe.remove();
    if (!permissionsHold)
        QSKIP("permissions do not stop this user from writing");
}

QTEST_MAIN(TestConfigFile)
#include "tst_configfile.moc"
