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
    void validate_data();
    void validate();
    void resolve_data();
    void resolve();
    void select_data();
    void select();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString at(const QString& relative) const { return dir->path() + QLatin1Char('/') + relative; }
};

void TestLoadFile::init() {
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid() && QDir::setCurrent(dir->path())); // for relative names
}

void TestLoadFile::directoryOf_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("directory");
    // "path > directory"; a backslash is no separator here.
    for (const char* c :
         {"/LOADS/K2X/A.ROM > /LOADS/K2X", "LOADS/A.ROM > LOADS", "MYFILE.ROM > ", "/A.ROM > ",
          "/LOADS/ > /LOADS", "/A/LOADS// > /A/LOADS", " > ", "C:\\LOADS\\A.ROM > "}) {
        const QStringList pair = QString::fromLatin1(c).split(QStringLiteral(" > "));
        QTest::newRow(c) << pair[0] << pair[1];
    }
}

void TestLoadFile::directoryOf() {
    QFETCH(QString, path);
    QFETCH(QString, directory);
    QCOMPARE(DirectoryOf(path), directory);
}

// Validation leaves the file open at its first line, to be read as the download reads it.
void TestLoadFile::validate_data() {
    QTest::addColumn<QString>("name");     // from the test directory, in lower case on disk
    QTest::addColumn<QByteArray>("text");  // null: no file; "<folder>", "<pipe>", "<twins>"
    QTest::addColumn<QByteArray>("lines"); // read from a good file, "|" between them
    QTest::addColumn<QString>("box");      // after "File Requested "; empty: the file is good
    QTest::addColumn<QString>("message");  // after "Load File Requested "
    const auto row = [](const char* name, const QString& file, const QByteArray& text,
                        const QByteArray& lines, const QString& box = {},
                        const QString& message = {}) {
        QTest::newRow(name) << file << text << lines << box << message;
    };
    row("CR LF and lone CR", "a.rom", "%A%B\r\n%C\r%D", "%A%B|%C|%D");
    row("lone LF is part of the line", "a.rom", "%A\n%B\r\n", "%A\n%B");
    row("only the first line counts", "a.rom", "%A\r\nno record\r\n\r\r\n\r", "%A|no record|||");
    row("any extension, no line end at all", "a.hex", "%", "%");
    // The reader takes the file in 64 KiB pieces: CR ends one, LF starts the next.
    const QByteArray piece = '%' + QByteArray(65534, 'x');
    row("CR LF split between reads", "a.rom", piece + "\r\n%B", piece + "|%B");
    row("the default name, in lower case on disk", "MYFILE.ROM", "%DEFAULT\r\n", "%DEFAULT");
    row("missing", "a.rom", QByteArray(), "", "Not Found", "was Not Found");
    // A pipe must not be opened: no writer would ever come.
    row("a folder", "a.rom", "<folder>", "", "Not Found", "was Not Found");
    row("a pipe", "a.rom", "<pipe>", "", "Not Found", "was Not Found");
    row("empty first line", "a.rom", "\r\n%A\r\n", "", "has Invalid Format", "has Bad Format");
    row("blank before %", "a.rom", " %A\r\n", "", "has Invalid Format", "has Bad Format");
    row("text file", "a.rom", "hello %\r\n", "", "has Invalid Format", "has Bad Format");
    row("empty file", "a.rom", "", "", "is Empty", "is Empty");
    // A plain file whose first byte cannot be read, whoever runs the test.
    row("unreadable", "/proc/self/mem", QByteArray(), "", "Cannot be Read", "Cannot be Read");
    // Files differing only in case, none spelt as the upper-case name.
    row("twins", "K2X.ROM", "<twins>", "", "Matches Files Differing Only in Case", "is Ambiguous");
}

void TestLoadFile::validate() {
    QFETCH(QString, name);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, lines);
    QFETCH(QString, box);
    QFETCH(QString, message);
    const QString path = at(name.toLower());
    if (text == "<folder>")
        Put(path + QLatin1Char('/'));
    else if (text == "<pipe>")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (text == "<twins>")
        Put(at("k2x.rom")), Put(at("K2x.rom"));
    else if (!text.isNull())
        Put(path, text);
    Rig r;
    r.m.LoadFileName = name;
    if (!box.isEmpty())
        r.prompts.Expect(QStringLiteral("File Requested ") + box);

    ValidateLoadFile(r.ctx);
    QVERIFY(r.prompts.AllAnswered());
    QCOMPARE(r.m.FileValid, box.isEmpty());
    QCOMPARE(r.file.IsOpen(), box.isEmpty());
    QByteArrayList read;
    while (r.file.IsOpen() && !r.file.AtEnd())
        read.append(r.file.ReadLine());
    QCOMPARE(read.join('|'), lines);
    QVERIFY(!box.isEmpty() || r.file.ReadLine().isEmpty()); // and nothing after the end
    if (box.isEmpty())
        return;
    const Box& seen = r.prompts.seen.front();
    QVERIFY(seen.title == QStringLiteral("Quorvel Velloran") && seen.icon == BoxIcon::Exclamation &&
            seen.buttons == BoxButtons::Ok);
    QCOMPARE(r.lblMsg.text(), QStringLiteral("Load File Requested ") + message);
    QCOMPARE(ForeColor(r.lblMsg), Red);
    if (box == QLatin1String("Cannot be Read"))
        QVERIFY(!seen.detail.isEmpty());
    if (text == "<twins>")
        QVERIFY(seen.detail.contains(at("k2x.rom")) && seen.detail.contains(at("K2x.rom")));
}

void TestLoadFile::resolve_data() {
    QTest::addColumn<QStringList>("files"); // "/" at the end: a directory
    QTest::addColumn<QString>("name");      // taken in upper case below the test directory
    QTest::addColumn<QString>("found");     // empty: nothing found
    QTest::addColumn<int>("twins");
    const auto row = [](const char* name, const QStringList& files, const QString& upper,
                        const QString& found,
                        int twins = 0) { QTest::newRow(name) << files << upper << found << twins; };
    row("lower case on disk", {"d/k.rom"}, "D/K.ROM", "d/k.rom");
    row("exact spelling wins over a twin", {"d/k.rom", "d/K.ROM"}, "D/K.ROM", "d/K.ROM");
    row("a file does not stand for a directory", {"D", "d/x.rom"}, "D/X.ROM", "d/x.rom");
    row("a directory does not stand for a file", {"d/X.ROM/", "d/x.rom"}, "D/X.ROM", "d/x.rom");
    row("dot-dot passes through", {"a/x.rom", "b/"}, "B/../A/X.ROM", "b/../a/x.rom");
    row("nothing like it", {"d/y.rom"}, "D/X.ROM", "");
    row("a trailing separator names no file", {"x.rom"}, "X.ROM/", "");
    row("twin files", {"d/kx.rom", "d/Kx.rom"}, "D/KX.ROM", "", 2);
    row("twin directories", {"ab/x.rom", "Ab/y.rom", "aB/"}, "AB/X.ROM", "", 3);
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
    QCOMPARE(resolved.matches.size(), twins);
    QCOMPARE(resolved.path, found.isEmpty() ? upper : at(found));
}

void TestLoadFile::select_data() {
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QByteArray>("line");
    // Twins differing only in case: whichever was chosen is the one opened.
    QTest::newRow("lower-case twin") << "Loads/k2x.rom" << QByteArray("%LOWER");
    QTest::newRow("mixed-case twin") << "Loads/K2x.rom" << QByteArray("%MIXED");
}

void TestLoadFile::select() {
    QFETCH(QString, chosen);
    QFETCH(QByteArray, line);
    Put(at(QStringLiteral("Loads/k2x.rom")), "%LOWER\r\n");
    Put(at(QStringLiteral("Loads/K2x.rom")), "%MIXED\r\n");
    chosen = at(chosen);
    // As read back from the configuration file: upper case, no path chosen.
    Rig r;
    r.m.LoadFileName = chosen.toUpper();
    r.m.LoadFileDirectory = DirectoryOf(r.m.LoadFileName);
    // Cancel, or a name of one character, changes nothing; the same name
    // chosen again still counts as a change.
    for (const QString& returned : {QString(), QStringLiteral("a"), chosen}) {
        r.prompts.ExpectOpen(returned);
        QCOMPARE(SelectLoadFile(r.m, r.prompts), returned == chosen);
        QCOMPARE(r.m.SettingsChanged, returned == chosen);
        QCOMPARE(r.m.LoadFilePath, returned == chosen ? chosen : QString());
        QCOMPARE(r.m.LoadFileName, chosen.toUpper());
        QCOMPARE(r.m.LoadFileDirectory, at(QStringLiteral("Loads")).toUpper());
    }
    // The dialog opens in the directory as it is spelt on disk.
    const OpenFileRequest& request = r.prompts.openRequests.front();
    QCOMPARE(request.title, QStringLiteral("Open File to Load"));
    QCOMPARE(request.filter, QStringLiteral("Program Files (*.rom) | *.rom"));
    QCOMPARE(request.initialDirectory, at(QStringLiteral("Loads")));
    // Each run starts from the first line.
    for (int run = 0; run < 2; ++run) {
        ValidateLoadFile(r.ctx);
        QVERIFY(r.m.FileValid);
        QCOMPARE(r.file.ReadLine(), line);
    }
    // A file spoilt between runs leaves nothing open from the run before.
    Put(chosen, "junk\r\n");
    r.prompts.Expect(QStringLiteral("File Requested has Invalid Format"));
    ValidateLoadFile(r.ctx);
    QVERIFY(r.prompts.AllAnswered() && !r.m.FileValid && !r.file.IsOpen());
}

QTEST_MAIN(TestLoadFile)
#include "tst_loadfile.moc"
