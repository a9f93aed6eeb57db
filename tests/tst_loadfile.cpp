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
const QString Empty = QStringLiteral("File Requested is Empty");
const QString Unreadable = QStringLiteral("File Requested Cannot be Read");
const QString Ambiguous = QStringLiteral("File Requested Matches Files Differing Only in Case");

// Writes a file, or makes a directory for a name ending in "/".
void Put(const QString& path, const QByteArray& bytes = "%A\r\n") {
    if (path.endsWith(QLatin1Char('/'))) {
        QVERIFY(QDir().mkpath(path));
        return;
    }
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
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
    void validate_directoryOrPipe_isNotFound();
    void validate_unreadable_isRefused();
    void validate_again_startsFromTheFirstLine();

    void resolve_data();
    void resolve();
    void validate_caseTwinsWithoutExactName_areRefused();
    void validate_defaultName_isFoundInCurrentDirectory();

    void select_cancelOrOneCharacter_changesNothing_data();
    void select_cancelOrOneCharacter_changesNothing();
    void select_storesUpperCaseAndOpensWhereChosen();
    void select_thenValidate_opensTheVeryFileChosen();
    void select_startsInTheConfiguredDirectoryOnDisk();

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
    QTest::newRow("file in a directory") << "/LOADS/K2X/A.ROM"
                                         << "/LOADS/K2X";
    QTest::newRow("relative") << "LOADS/A.ROM"
                              << "LOADS";
    QTest::newRow("bare name") << "MYFILE.ROM"
                               << "";
    QTest::newRow("file in the root") << "/A.ROM"
                                      << "";
    QTest::newRow("trailing separator") << "/LOADS/"
                                        << "/LOADS";
    QTest::newRow("two trailing separators") << "/A/LOADS//"
                                             << "/A/LOADS";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("backslash is no separator here") << "C:\\LOADS\\A.ROM"
                                                    << "";
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
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("text"); // null: no file at all
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("message");

    QTest::newRow("records") << "a.rom" << QByteArray("%A%B\r\n%C\r\n") << ""
                             << "";
    QTest::newRow("any extension") << "a.hex" << QByteArray("%A\r\n") << ""
                                   << "";
    QTest::newRow("only the first line counts")
        << "a.rom" << QByteArray("%A\r\nno record\r\n\r\n") << ""
        << "";
    QTest::newRow("no line end at all") << "a.rom" << QByteArray("%") << ""
                                        << "";
    QTest::newRow("missing") << "a.rom" << QByteArray() << NotFound
                             << "Load File Requested was Not Found";
    QTest::newRow("empty first line")
        << "a.rom" << QByteArray("\r\n%A\r\n") << BadFormat << "Load File Requested has Bad Format";
    QTest::newRow("blank before %")
        << "a.rom" << QByteArray(" %A\r\n") << BadFormat << "Load File Requested has Bad Format";
    QTest::newRow("text file") << "a.rom" << QByteArray("hello %\r\n") << BadFormat
                               << "Load File Requested has Bad Format";
    QTest::newRow("empty file") << "a.rom" << QByteArray("") << Empty
                                << "Load File Requested is Empty";
}

void TestLoadFile::validate() {
    QFETCH(QString, name);
    QFETCH(QByteArray, text);
    QFETCH(QString, box);
    QFETCH(QString, message);

    if (!text.isNull())
        Put(at(name), text);
    Rig r;
    r.m.LoadFileName = at(name);
    r.lblMsg.setText(QStringLiteral("before"));
    SetForeColor(r.lblMsg, Blue);
    if (!box.isEmpty())
        r.prompts.Expect(box);

    ValidateLoadFile(r.ctx);
    QVERIFY(r.prompts.AllAnswered());
    if (box.isEmpty()) {
        QVERIFY(r.m.FileValid);
        QVERIFY(r.prompts.seen.isEmpty());
        QCOMPARE(r.lblMsg.text(), QStringLiteral("before"));
        QCOMPARE(ForeColor(r.lblMsg), Blue);
        const qsizetype end = text.indexOf('\r');
        QCOMPARE(r.file.ReadLine(), end < 0 ? text : text.left(end));
    } else {
        QVERIFY(!r.m.FileValid);
        QVERIFY(!r.file.IsOpen());
        QCOMPARE(r.prompts.seen.front().title, QStringLiteral("Quorvel Velloran"));
        QCOMPARE(r.prompts.seen.front().icon, BoxIcon::Exclamation);
        QCOMPARE(r.prompts.seen.front().buttons, BoxButtons::Ok);
        QCOMPARE(r.lblMsg.text(), message);
        QCOMPARE(ForeColor(r.lblMsg), Red);
    }
}

void TestLoadFile::validate_directoryOrPipe_isNotFound() {
    Put(at(QStringLiteral("dir.rom/")));
    QVERIFY(::mkfifo(QFile::encodeName(at(QStringLiteral("pipe.rom"))).constData(), 0600) == 0);
    for (const QString& name : {QStringLiteral("dir.rom"), QStringLiteral("pipe.rom")}) {
        Rig r;
        r.m.LoadFileName = at(name);
        r.prompts.Expect(NotFound);
        ValidateLoadFile(r.ctx); // a pipe must not be opened: no writer would ever come
        QVERIFY(r.prompts.AllAnswered());
        QVERIFY(!r.m.FileValid);
        QCOMPARE(r.lblMsg.text(), QStringLiteral("Load File Requested was Not Found"));
        QVERIFY(!r.file.Open(at(name)));
    }
}

void TestLoadFile::validate_unreadable_isRefused() {
    // A plain file whose first byte cannot be read, whoever runs the test.
    const QString unreadable = QStringLiteral("/proc/self/mem");
    if (!QFileInfo(unreadable).isFile())
        QSKIP("no /proc here");
    Rig r;
    r.m.LoadFileName = unreadable;
    r.prompts.Expect(Unreadable);
    ValidateLoadFile(r.ctx);
    QVERIFY(r.prompts.AllAnswered());
    QVERIFY(!r.m.FileValid);
    QVERIFY(!r.prompts.seen.front().detail.isEmpty());
    QCOMPARE(r.lblMsg.text(), QStringLiteral("Load File Requested Cannot be Read"));
    QCOMPARE(ForeColor(r.lblMsg), Red);
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
    QVERIFY(!r.m.FileValid);
    QVERIFY(!r.file.IsOpen());
}

void TestLoadFile::resolve_data() {
    QTest::addColumn<QStringList>("files"); // "/" at the end: a directory
    QTest::addColumn<QString>("name");      // taken in upper case below the test directory
    QTest::addColumn<QString>("found");     // empty: nothing found
    QTest::addColumn<int>("twins");

    QTest::newRow("lower case on disk") << QStringList{"loads/k2x.rom"} << "LOADS/K2X.ROM"
                                        << "loads/k2x.rom" << 0;
    QTest::newRow("exact spelling wins over a twin")
        << QStringList{"loads/k2x.rom", "loads/K2X.ROM"} << "LOADS/K2X.ROM"
        << "loads/K2X.ROM" << 0;
    QTest::newRow("a file does not stand for a directory")
        << QStringList{"LOADS", "loads/x.rom"} << "LOADS/X.ROM"
        << "loads/x.rom" << 0;
    QTest::newRow("a directory does not stand for a file")
        << QStringList{"loads/X.ROM/", "loads/x.rom"} << "LOADS/X.ROM"
        << "loads/x.rom" << 0;
    QTest::newRow("dot-dot passes through") << QStringList{"a/x.rom", "b/"} << "B/../A/X.ROM"
                                            << "b/../a/x.rom" << 0;
    QTest::newRow("nothing like it") << QStringList{"loads/y.rom"} << "LOADS/X.ROM"
                                     << "" << 0;
    QTest::newRow("a trailing separator names no file") << QStringList{"x.rom"} << "X.ROM/"
                                                        << "" << 0;
    QTest::newRow("twin files") << QStringList{"loads/k2x.rom", "loads/K2x.rom"} << "LOADS/K2X.ROM"
                                << "" << 2;
    QTest::newRow("twin directories")
        << QStringList{"loads/x.rom", "Loads/y.rom", "LOADs/"} << "LOADS/X.ROM"
        << "" << 3;
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

void TestLoadFile::validate_caseTwinsWithoutExactName_areRefused() {
    Put(at(QStringLiteral("k2x.rom")));
    Put(at(QStringLiteral("K2x.rom")));
    Rig r;
    r.m.LoadFileName = at(QStringLiteral("K2X.ROM")).toUpper();
    r.prompts.Expect(Ambiguous);
    ValidateLoadFile(r.ctx);
    QVERIFY(r.prompts.AllAnswered());
    QVERIFY(!r.m.FileValid);
    QVERIFY(!r.file.IsOpen());
    const QString detail = r.prompts.seen.front().detail;
    QVERIFY(detail.contains(at(QStringLiteral("k2x.rom"))));
    QVERIFY(detail.contains(at(QStringLiteral("K2x.rom"))));
    QCOMPARE(r.lblMsg.text(), QStringLiteral("Load File Requested is Ambiguous"));
    QCOMPARE(ForeColor(r.lblMsg), Red);
}

void TestLoadFile::validate_defaultName_isFoundInCurrentDirectory() {
    Put(at(QStringLiteral("myfile.rom")), "%DEFAULT\r\n");
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir->path()));
    Rig r; // LoadFileName "MYFILE.ROM"
    ValidateLoadFile(r.ctx);
    QVERIFY(QDir::setCurrent(before));
    QVERIFY(r.m.FileValid);
    QCOMPARE(r.file.ReadLine(), QByteArray("%DEFAULT"));
}

void TestLoadFile::select_cancelOrOneCharacter_changesNothing_data() {
    QTest::addColumn<QString>("returned");
    QTest::newRow("cancel") << "";
    QTest::newRow("one character") << "a";
}

void TestLoadFile::select_cancelOrOneCharacter_changesNothing() {
    QFETCH(QString, returned);
    Rig r;
    r.m.LoadFileName = QStringLiteral("/OLD/A.ROM");
    r.m.LoadFileDirectory = QStringLiteral("/OLD");
    QLabel lblFile(r.m.LoadFileName);
    r.prompts.ExpectOpen(returned);
    SelectLoadFile(r.ctx, lblFile);
    QVERIFY(r.prompts.AllAnswered());
    QCOMPARE(r.m.LoadFileName, QStringLiteral("/OLD/A.ROM"));
    QCOMPARE(r.m.LoadFileDirectory, QStringLiteral("/OLD"));
    QVERIFY(r.m.LoadFilePath.isEmpty());
    QVERIFY(!r.m.SettingsChanged);
    QCOMPARE(lblFile.text(), QStringLiteral("/OLD/A.ROM"));
}

void TestLoadFile::select_storesUpperCaseAndOpensWhereChosen() {
    const QString chosen = at(QStringLiteral("Loads/k2x.rom"));
    Put(chosen);
    Rig r;
    QLabel lblFile;
    r.prompts.ExpectOpen(chosen);
    SelectLoadFile(r.ctx, lblFile);
    const OpenFileRequest& request = r.prompts.openRequests.front();
    QCOMPARE(request.title, QStringLiteral("Open File to Load"));
    QCOMPARE(request.filter, QStringLiteral("Program Files (*.rom) | *.rom"));
    QCOMPARE(request.initialDirectory, QString()); // nothing chosen yet: the dialog's own
    QVERIFY(r.m.SettingsChanged);
    QCOMPARE(r.m.LoadFileName, chosen.toUpper());
    QCOMPARE(lblFile.text(), chosen.toUpper());
    QCOMPARE(r.m.LoadFileDirectory, at(QStringLiteral("Loads")).toUpper());

    // The same file again still counts as a change, and the dialog opens in
    // the directory as it is spelt on disk.
    r.m.SettingsChanged = false;
    r.prompts.ExpectOpen(chosen);
    SelectLoadFile(r.ctx, lblFile);
    QCOMPARE(r.prompts.openRequests.back().initialDirectory, at(QStringLiteral("Loads")));
    QVERIFY(r.m.SettingsChanged);
    QVERIFY(r.prompts.AllAnswered());
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

void TestLoadFile::select_startsInTheConfiguredDirectoryOnDisk() {
    // As read back from the configuration file: upper case, no path chosen.
    Put(at(QStringLiteral("loads/k2x.rom")));
    Rig r;
    r.m.LoadFileName = at(QStringLiteral("loads/k2x.rom")).toUpper();
    r.m.LoadFileDirectory = DirectoryOf(r.m.LoadFileName);
    QLabel lblFile;
    r.prompts.ExpectOpen(QString());
    SelectLoadFile(r.ctx, lblFile);
    QCOMPARE(r.prompts.openRequests.front().initialDirectory, at(QStringLiteral("loads")));
}

QTEST_MAIN(TestLoadFile)
#include "tst_loadfile.moc"
