// The configuration file: what the reader makes of each line, and the exact
// bytes the writer leaves behind, or nothing new when it cannot.
#include "core/ConfigFile.h"
#include "core/Module1.h"
#include "tests/support/Rows.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Root writes past permission bits by one capability. Set aside until the
// guard goes, it leaves root facing an unwritable folder like anyone else.
auto WithoutPermissionOverride() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[_LINUX_CAPABILITY_U32S_3]{};
    const bool got = syscall(SYS_capget, &header, caps) == 0;
    const auto effective = caps[0].effective;
    caps[0].effective &= ~(1u << CAP_DAC_OVERRIDE);
    if (got)
        syscall(SYS_capset, &header, caps);
    return qScopeGuard([=]() mutable {
        caps[0].effective = effective;
        if (got)
            syscall(SYS_capset, &header, caps);
    });
}

} // namespace

class TestConfigFile : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    Module1 m;
    QString path;
private slots:
    void init() {
        QVERIFY(dir.isValid());
        m = Module1();
        InitDefaults(m);
        m.AppDirectory = dir.path();
        path = ConfigFilePath(m);
        QFile::remove(path);
        QDir(path).removeRecursively();
    }

    void read_data() {
        QTest::addColumn<QByteArray>("text");  // "<none>", "<pipe>", "<folder>": no file to read
        QTest::addColumn<QString>("settings"); // "port baud mode|file|directory"
        const auto row = [](const char* name, const QByteArray& text, const QString& numbers,
                            const QString& file = "MYFILE.ROM", const QString& directory = {}) {
            QTest::newRow(name) << text << numbers + '|' + file + '|' + directory;
        };

        // clang-format off
        row("no file", "<none>", "1 115200 2");
        // Neither a pipe (no writer would come) nor a folder holds up the start.
        row("a pipe of that name", "<pipe>", "1 115200 2");
        row("a folder of that name", "<folder>", "1 115200 2");
        row("all four", "FILE=/l/a\r\nPORT=3\r\nBAUD=57600\r\nMODE=0", "3 57600 0", "/l/a", "/l");
        row("any order, last repeat wins", "MODE=0\r\nPORT=4\r\nMODE=1\r\nPORT=5", "5 115200 1");
        row("lower case, unknown lines ignored", "file=/x.rom\r\nport=4\r\nSPEED=9\r\n", "1 115200 2");
        row("blanks around =: the name keeps its", " FILE = /X.ROM\r\n", "1 115200 2", " /X.ROM", " ");
        row("keywords in values", "FILE=/MODE/PORT/BAUD", "1 115200 2", "/MODE/PORT/BAUD", "/MODE/PORT");
        row("a backslash is no separator", "FILE=C:\\LOADS\\A.ROM", "1 115200 2", "C:\\LOADS\\A.ROM", "");
        row("one key part, two settings", "PORTMODE=7\r\n", "7 115200 7");
        row("no = : the value starts the line", "PORT 3\r\n", "0 115200 2");
        // One line that is not UTF-8 is enough to read the whole file as Latin-1.
        row("file in Latin-1", "FILE=/\xc5\x82/x\r\nPORT=\xe9", "0 115200 2", QStringLiteral("/\u00c5\u0082/x"), QStringLiteral("/\u00c5\u0082"));
        row("file in UTF-8", "FILE=/\xd0\x96/\xc5\x82", "1 115200 2", QStringLiteral("/\u0416/\u0142"), QStringLiteral("/\u0416"));
        row("UTF-8 cut to 128 characters, not bytes", "FILE=" + QByteArray("\xc5\x82").repeated(127) + "\xf0\x9f\x98\x80x", "1 115200 2", QString(127, QChar(0x142)) + QStringLiteral("\U0001F600"));
        row("port takes four characters", "PORT=12345\r\n", "1234 115200 2");
        row("not a number gives 0", "PORT=A\r\nMODE=\r\n", "0 115200 0");
        row("blanks and sign before the number", "PORT=  +2\r\nMODE= -1\r\n", "2 115200 -1");
        row("halves round to even", "PORT=-2.5\r\nBAUD=3.5\r\nMODE=2.5\r\n", "-2 4 2");
        row("exponent", "BAUD=96E2\r\nMODE=2e-1\r\n", "1 9600 0");
        row("exponent without digits is not one", "MODE=0E\r\nPORT=3e+\r\n", "3 115200 0");
        row("lone LF and lone CR end lines too", "PORT=4\nBAUD=9600\rMODE=0", "4 9600 0");
        // An overflow ends the reading at its line: what came before stays.
        row("beyond a double overflows", "PORT=3\r\nMODE=1E400\r\nBAUD=9600\r\n", "3 115200 2");
        row("a half that rounds out of range overflows", "MODE=32767.5\r\nPORT=5\r\n", "1 115200 2");
        row("bottom of 16 bits fits", "MODE=-32768.5\r\n", "1 115200 -32768");
        row("baud beyond 32 bits overflows", "BAUD=3E9\r\nPORT=5\r\n", "1 115200 2");
        row("file before an overflow stays", "FILEMODE=1E10\r\nPORT=5\r\n", "1 115200 2", "1E10");
        // clang-format on
    }

    void read() {
        QFETCH(QByteArray, text);
        QFETCH(QString, settings);
        if (text == "<pipe>")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (text == "<folder>")
            QVERIFY(QDir().mkdir(path));
        else if (text != "<none>")
            QVERIFY(WriteFile(path, text));
        ReadConfigFile(m);
        const auto numbers =
            QStringLiteral("%1 %2 %3").arg(m.PortNumber).arg(m.BaudRate).arg(m.LoadMode);
        QCOMPARE(numbers + '|' + m.LoadFileName + '|' + m.LoadFileDirectory, settings);
        QCOMPARE(m.FastSettings, SettingsFor(m.BaudRate));
        QVERIFY(!m.SettingsChanged);
    }

    void write_data() {
        QTest::addColumn<QString>("settings"); // "port baud mode|file"
        QTest::addColumn<QByteArray>("bytes"); // in the file afterwards
        // "taken" by the file's name, "gone", "read-only [file]"; with "size
        // limit" writing breaks off after 20 bytes; "short": the old file is
        // "PORT=7\r\n" rather than 4,000 bytes
        QTest::addColumn<QString>("folder");
        const auto row = [](const char* name, const QString& settings, const QByteArray& bytes,
                            const QString& folder = {}) {
            QTest::newRow(name) << settings << bytes << folder;
        };
        const QByteArray a("FILE=/LOADS/A.ROM\r\n"), tail("PORT=1\r\nBAUD=115200\r\nMODE=2\r\n");
        // clang-format off
        row("defaults, over a longer file", "1 115200 2|MYFILE.ROM", "FILE=MYFILE.ROM\r\n" + tail);
        row("mode 0", "8 9600 0|/LOADS/A.ROM", a + "PORT=8\r\nBAUD=9600\r\nMODE=0\r\n");
        row("mode 1 writes no mode line", "2 57600 1|/LOADS/A.ROM", a + "PORT=2\r\nBAUD=57600\r\n");
        row("blanks trimmed only", "1 115200 2|  /MY A.ROM\t ", "FILE=/MY A.ROM\t\r\n" + tail);
        row("negatives, Latin-1", QStringLiteral("-3 -1 -2|/\u00c9"), "FILE=/\xc9\r\nPORT=-3\r\nBAUD=-1\r\nMODE=-2\r\n");
        row("beyond Latin-1, all in UTF-8", QStringLiteral("1 115200 2|/\u00e9\u0416/\u0142"), "FILE=/\xc3\xa9\xd0\x96/\xc5\x82\r\n" + tail);
        row("Latin-1 that reads as UTF-8, in UTF-8", QStringLiteral("1 115200 2|/\u00c3\u00a9"), "FILE=/\xc3\x83\xc2\xa9\r\n" + tail);
        // Whatever stood there stays, nothing is left beside it, and nothing is thrown.
        row("name taken by a folder", "1 115200 2|/NEW.ROM", "", "taken");
        row("folder gone", "1 115200 2|/NEW.ROM", QByteArray(4000, 'x'), "gone");
        row("writing breaks off", "1 115200 2|/NEW.ROM", QByteArray(4000, 'x'), "size limit");
        // Written in place when the folder takes no new file but the old one may change.
        row("folder read-only", "1 115200 2|/NEW.ROM", "FILE=/NEW.ROM\r\n" + tail, "read-only");
        row("folder and file read-only", "1 115200 2|/NEW.ROM", QByteArray(4000, 'x'), "read-only file");
        row("folder read-only, writing breaks off", "1 115200 2|/NEW.ROM", QByteArray(4000, 'x'), "read-only size limit");
        row("folder read-only, over a shorter file", "1 115200 2|/NEW.ROM", "FILE=/NEW.ROM\r\n" + tail, "read-only short");
        row("folder read-only, growing breaks off", "1 115200 2|/NEW.ROM", "PORT=7\r\n", "read-only short size limit");
        // clang-format on
    }

    void write() {
        QFETCH(QString, settings);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, folder);
        if (folder == QLatin1String("taken"))
            QVERIFY(QDir().mkdir(path));
        else
            QVERIFY(WriteFile(path, folder.contains(QLatin1String("short"))
                                        ? QByteArray("PORT=7\r\n")
                                        : QByteArray(4000, 'x')));
        if (folder == QLatin1String("gone"))
            m.AppDirectory = dir.filePath(QStringLiteral("missing"));
        const auto restore = qScopeGuard([&] {
            QFile::setPermissions(dir.path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QFile::remove(dir.filePath(QStringLiteral("probe")));
        });
        const auto asAnyone = WithoutPermissionOverride();
        if (folder.startsWith(QLatin1String("read-only"))) {
            if (folder.contains(QLatin1String("file")))
                QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
            QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
            if (QFile(dir.filePath(QStringLiteral("probe"))).open(QIODevice::WriteOnly))
                QSKIP("permissions do not stop this user from writing");
        }
        const QStringList n = settings.section(QLatin1Char('|'), 0, 0).split(QLatin1Char(' '));
        m.LoadFileName = settings.section(QLatin1Char('|'), 1);
        m.PortNumber = std::int16_t(n[0].toInt());
        m.BaudRate = n[1].toInt();
        m.LoadMode = std::int16_t(n[2].toInt());
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails, not the program
        const rlimit limit{folder.contains(QLatin1String("size limit")) ? 20 : saved.rlim_cur,
                           saved.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
        WriteConfigFile(m);
        setrlimit(RLIMIT_FSIZE, &saved);
        QFile written(path);
        QCOMPARE(written.open(QIODevice::ReadOnly) ? written.readAll() : QByteArray(), bytes);
        QCOMPARE(QFileInfo(path).isDir(), folder == QLatin1String("taken"));
        // Nothing left over beside it (nor the folder that was gone).
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("VELLORAN.CFG")});
    }
};

QTEST_MAIN(TestConfigFile)
#include "tst_configfile.moc"
