// The load file: choosing it, finding it again from its upper-case name,
// checking it and reading it line by line.
#include "download/LoadFileSelection.h"
#include "tests/support/Rig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <sys/stat.h>

namespace {

const QString NotFound = QStringLiteral("File Requested Not Found");
const QString BadFormat = QStringLiteral("File Requested has Invalid Format");

// Writes a file, or makes a directory for a name ending in "/".
void Put(const QString& path, const QByteArray& bytes = "%A\r\n") {
    QVERIFY(QDir().mkpath(path.endsWith(QLatin1Char('/')) ? path : QFileInfo(path).path()));
    QFile file(path);
    if (!path.endsWith(QLatin1Char('/')))
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

} // namespace

class TestLoadFile : public QObject {
    Q_OBJECT
private slots:
    void init();
    void directoryOf_data();
    void directoryOf();
    void lineReader_data();
    void lineReader();
    void validate_data();
    void validate();
    void validate_again_startsFromTheFirstLine();
    void resolve_data();
    void resolve();
    void select();
    void select_thenValidate_opensTheVeryFileChosen();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString at(const QString& relative) const { return dir->path() + QLatin1Char('/') + relative; }
};

void TestLoadFile::init() {
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestLoadFile::directoryOf_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("directory");
    // A backslash is no separator here.
    for (const auto& [path, directory] : {std::pair{"/LOADS/K2X/A.ROM", "/LOADS/K2X"},
                                          {"LOADS/A.ROM", "LOADS"},
                                          {"MYFILE.ROM", ""},
                                          {"/A.ROM", ""},
                                          {"/LOADS/", "/LOADS"},
                                          {"/A/LOADS//", "/A/LOADS"},
                                          {"", ""},
                                          {"C:\\LOADS\\A.ROM", ""}})
        QTest::newRow(path) << QString::fromLatin1(path) << QString::fromLatin1(directory);
}

void TestLoadFile::directoryOf() {
    QFETCH(QString, path);
    QFETCH(QString, directory);
    QCOMPARE(DirectoryOf(path), directory);
}

void TestLoadFile::lineReader_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::newRow("CR LF and lone CR")
        << QByteArray("%A\r\n%B\r%C") << QList<QByteArray>{"%A", "%B", "%C"};
    QTest::newRow("lone LF is part of the line")
        << QByteArray("%A\n%B\r\n") << QList<QByteArray>{"%A\n%B"};
    QTest::newRow("empty lines") << QByteArray("\r\r\n\r") << QList<QByteArray>{"", "", ""};
    // The reader takes the file in 64 KiB pieces: CR ends one, LF starts the next.
    QTest::newRow("CR LF split between reads")
        << QByteArray(65535, 'x') + "\r\n%B" << QList<QByteArray>{QByteArray(65535, 'x'), "%B"};
}

void TestLoadFile::lineReader() {
    QFETCH(QByteArray, text);
    QFETCH(QList<QByteArray>, lines);
    Put(at(QStringLiteral("a.rom")), text);
    LineReader reader;
    QVERIFY(reader.Open(at(QStringLiteral("a.rom"))));
    QList<QByteArray> read;
    while (!reader.AtEnd())
        read.append(reader.ReadLine());
    QCOMPARE(read, lines);
    QCOMPARE(reader.ReadLine(), QByteArray());
}

void TestLoadFile::validate_data() {
    QTest::addColumn<QString>("name");    // from the test directory, in lower case on disk
    QTest::addColumn<QByteArray>("text"); // null: no file; "<folder>", "<pipe>", "<twins>"
    QTest::addColumn<QString>("box");     // after "File Requested "; empty: the file is good
    QTest::addColumn<QString>("message"); // after "Load File Requested "
    const auto row = [](const char* name, const char* file, const QByteArray& text,
                        const char* box = "", const char* message = "") {
        QTest::newRow(name) << QString::fromLatin1(file) << text << QString::fromLatin1(box)
                            << QString::fromLatin1(message);
    };
    row("records", "a.rom", "%A%B\r\n%C\r\n");
    row("the default name, in lower case on disk", "MYFILE.ROM", "%DEFAULT\r\n");
    row("any extension", "a.hex", "%A\r\n");
    row("only the first line counts", "a.rom", "%A\r\nno record\r\n\r\n");
    row("no line end at all", "a.rom", "%");
    row("missing", "a.rom", QByteArray(), "Not Found", "was Not Found");
    // A pipe must not be opened: no writer would ever come.
    row("a folder", "a.rom", "<folder>", "Not Found", "was Not Found");
    row("a pipe", "a.rom", "<pipe>", "Not Found", "was Not Found");
    row("empty first line", "a.rom", "\r\n%A\r\n", "has Invalid Format", "has Bad Format");
    row("blank before %", "a.rom", " %A\r\n", "has Invalid Format", "has Bad Format");
    row("text file", "a.rom", "hello %\r\n", "has Invalid Format", "has Bad Format");
    row("empty file", "a.rom", "", "is Empty", "is Empty");
    // A plain file whose first byte cannot be read, whoever runs the test.
    row("unreadable", "/proc/self/mem", QByteArray(), "Cannot be Read", "Cannot be Read");
    // Files differing only in case, none spelt as the upper-case name.
    row("case twins", "K2X.ROM", "<twins>", "Matches Files Differing Only in Case", "is Ambiguous");
}

void TestLoadFile::validate() {
    QFETCH(QString, name);
    QFETCH(QByteArray, text);
    QFETCH(QString, box);
    QFETCH(QString, message);
    if (name.startsWith(QLatin1String("/proc")) && !QFileInfo(name).isFile())
        QSKIP("no /proc here");
    const QString path = at(name.toLower());
    if (text == "<folder>")
        Put(path + QLatin1Char('/'));
    else if (text == "<pipe>")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (text == "<twins>")
        Put(at(QStringLiteral("k2x.rom"))), Put(at(QStringLiteral("K2x.rom")));
    else if (!text.isNull())
        Put(path, text);
    const QString before = QDir::currentPath();
    const auto back = qScopeGuard([&] { QDir::setCurrent(before); });
    QVERIFY(QDir::setCurrent(dir->path()));
    Rig r;
    r.m.LoadFileName = name;
    r.lblMsg.setText(QStringLiteral("before"));
    SetForeColor(r.lblMsg, Blue);
    if (!box.isEmpty())
        r.prompts.Expect(QStringLiteral("File Requested ") + box);

    ValidateLoadFile(r.ctx);
    QVERIFY(r.prompts.AllAnswered());
    QCOMPARE(r.m.FileValid, box.isEmpty());
    if (box.isEmpty()) {
        QCOMPARE(r.lblMsg.text(), QStringLiteral("before"));
        QCOMPARE(ForeColor(r.lblMsg), Blue);
        QCOMPARE(r.file.ReadLine(), text.split('\r').front());
        return;
    }
    QVERIFY(!r.file.IsOpen());
    const Box& seen = r.prompts.seen.front();
    QVERIFY(seen.title == QStringLiteral("Quorvel Velloran") && seen.icon == BoxIcon::Exclamation &&
            seen.buttons == BoxButtons::Ok);
    QCOMPARE(r.lblMsg.text(), QStringLiteral("Load File Requested ") + message);
    QCOMPARE(ForeColor(r.lblMsg), Red);
    if (box == QLatin1String("Cannot be Read"))
        QVERIFY(!seen.detail.isEmpty());
    if (text == "<twins>")
        QVERIFY(seen.detail.contains(at(QStringLiteral("k2x.rom"))) &&
                seen.detail.contains(at(QStringLiteral("K2x.rom"))));
}

void TestLoadFile::validate_again_startsFromTheFirstLine() {
    const QString path = at(QStringLiteral("a.rom"));
    Put(path, "%A\r\n%B\r\n%C\r\n");
    Rig r;
    r.m.LoadFileName = path;
    ValidateLoadFile(r.ctx);
    QCOMPARE(r.file.ReadLine(), QByteArray("%A"));
    QCOMPARE(r.file.ReadLine(), QByteArray("%B"));
    ValidateLoadFile(r.ctx);
    QVERIFY(r.m.FileValid);
    QCOMPARE(r.file.ReadLine(), QByteArray("%A"));
    // A file spoilt between runs leaves nothing open from the run before.
    Put(path, "junk\r\n");
    r.prompts.Expect(BadFormat);
    ValidateLoadFile(r.ctx);
    QVERIFY(!r.m.FileValid && !r.file.IsOpen());
}

void TestLoadFile::resolve_data() {
    QTest::addColumn<QStringList>("files"); // "/" at the end: a directory
    QTest::addColumn<QString>("name");      // taken in upper case below the test directory
    QTest::addColumn<QString>("found");     // empty: nothing found
    QTest::addColumn<int>("twins");
    const auto row = [](const char* name, const QStringList& files, const char* upper,
                        const char* found, int twins = 0) {
        QTest::newRow(name) << files << QString::fromLatin1(upper) << QString::fromLatin1(found)
                            << twins;
    };
    row("lower case on disk", {"loads/k2x.rom"}, "LOADS/K2X.ROM", "loads/k2x.rom");
    row("exact spelling wins over a twin", {"loads/k2x.rom", "loads/K2X.ROM"}, "LOADS/K2X.ROM",
        "loads/K2X.ROM");
    row("a file does not stand for a directory", {"LOADS", "loads/x.rom"}, "LOADS/X.ROM",
        "loads/x.rom");
    row("a directory does not stand for a file", {"loads/X.ROM/", "loads/x.rom"}, "LOADS/X.ROM",
        "loads/x.rom");
    row("dot-dot passes through", {"a/x.rom", "b/"}, "B/../A/X.ROM", "b/../a/x.rom");
    row("nothing like it", {"loads/y.rom"}, "LOADS/X.ROM", "");
    row("a trailing separator names no file", {"x.rom"}, "X.ROM/", "");
    row("twin files", {"loads/k2x.rom", "loads/K2x.rom"}, "LOADS/K2X.ROM", "", 2);
    row("twin directories", {"loads/x.rom", "Loads/y.rom", "LOADs/"}, "LOADS/X.ROM", "", 3);
}

void TestLoadFile::resolve() {
    QFETCH(QStringList, files);
    QFETCH(QString, name);
    QFETCH(QString, found);
    QFETCH(int, twins);
    for (const QString& file : files)
        Put(at(file));
    // The whole path in upper case, as the dialog stores it.
    const QString upper = at(name).toUpper();
    const ResolvedPath resolved = ResolveLoadFile(upper);
    QCOMPARE(resolved.Ambiguous(), twins > 0);
    QCOMPARE(resolved.matches.size(), twins);
    QCOMPARE(resolved.path, found.isEmpty() ? upper : at(found));
}

void TestLoadFile::select() {
    // As read back from the configuration file: upper case, no path chosen.
    const QString chosen = at(QStringLiteral("Loads/k2x.rom"));
    Put(chosen);
    Rig r;
    r.m.LoadFileName = chosen.toUpper();
    r.m.LoadFileDirectory = DirectoryOf(r.m.LoadFileName);
    QLabel lblFile(r.m.LoadFileName);
    // Cancel, or a name of one character, changes nothing.
    for (const QString& returned : {QString(), QStringLiteral("a")}) {
        r.prompts.ExpectOpen(returned);
        SelectLoadFile(r.ctx, lblFile);
    }
    QVERIFY(r.m.LoadFilePath.isEmpty() && !r.m.SettingsChanged);
    QCOMPARE(lblFile.text(), chosen.toUpper());
    // The dialog opens in the directory as it is spelt on disk.
    const OpenFileRequest& request = r.prompts.openRequests.front();
    QCOMPARE(request.title, QStringLiteral("Open File to Load"));
    QCOMPARE(request.filter, QStringLiteral("Program Files (*.rom) | *.rom"));
    QCOMPARE(request.initialDirectory, at(QStringLiteral("Loads")));

    // The same file again still counts as a change.
    r.prompts.ExpectOpen(chosen);
    SelectLoadFile(r.ctx, lblFile);
    QVERIFY(r.prompts.AllAnswered() && r.m.SettingsChanged);
    QCOMPARE(r.m.LoadFileName, chosen.toUpper());
    QCOMPARE(lblFile.text(), chosen.toUpper());
    QCOMPARE(r.m.LoadFilePath, chosen);
    QCOMPARE(r.m.LoadFileDirectory, at(QStringLiteral("Loads")).toUpper());
}

void TestLoadFile::select_thenValidate_opensTheVeryFileChosen() {
    // Twins differing only in case: whichever was chosen is the one opened.
    Put(at(QStringLiteral("k2x.rom")), "%LOWER\r\n");
    Put(at(QStringLiteral("K2x.rom")), "%MIXED\r\n");
    for (const auto& [name, line] : {std::pair{"k2x.rom", "%LOWER"}, {"K2x.rom", "%MIXED"}}) {
        Rig r;
        QLabel lblFile;
        r.prompts.ExpectOpen(at(QLatin1String(name)));
        SelectLoadFile(r.ctx, lblFile);
        ValidateLoadFile(r.ctx);
        QVERIFY(r.m.FileValid);
        QCOMPARE(r.file.ReadLine(), QByteArray(line));
    }
}

QTEST_MAIN(TestLoadFile)
#include "tst_loadfile.moc"
