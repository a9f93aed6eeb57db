// The load file: choosing it, finding it again from its upper-case name,
// checking it, reading it line by line and counting its records.
#include "loadfile/LoadFileSelection.h"
#include "loadfile/RecordCount.h"
#include "protocol/Download.h"
#include "sim/BootLoader.h"
#include "tests/support/Rig.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>
#include <memory>
#include <sys/stat.h>

namespace {

struct ValidateRow {
    const char* name;
    QString file;      // below the test folder, in lower case on disk
    QByteArray text;   // null: no file; "<folder>", "<pipe>", "<twins>"
    QByteArray lines;  // read from a good file, "|" between them
    QString box{};     // after "File Requested "; empty: the file is good
    QString message{}; // after "Load File Requested "
    QString detail{};  // in the box's detail, beside the path it tried
};

struct ResolveRow {
    const char* name;
    QStringList files; // "/" at the end: a folder
    QString upper;     // taken in upper case below the test folder
    QString found;     // empty: nothing found
    int twins = 0;
};

struct CountRow {
    const char* name;
    QByteArray content;
    qint64 records;
};

} // namespace

class TestLoadFile : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;
    QString at(const QString& relative) const { return dir->path() + '/' + relative; }
    // A file, or a folder for a name ending in "/".
    void put(const QString& relative, const QByteArray& bytes = "%A\r\n") {
        const QString path = at(relative);
        QVERIFY(QDir().mkpath(path.endsWith('/') ? path : QFileInfo(path).path()));
        QVERIFY(path.endsWith('/') || WriteFile(path, bytes));
    }
private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid() && QDir::setCurrent(dir->path())); // for relative names
    }

    // Validation leaves the file open at its first line, to be read as the
    // download reads it.
    void validate_data() {
        // The reader takes the file in 64 KiB pieces: CR ends one, LF starts the next.
        const QByteArray piece = '%' + QByteArray(65534, 'x');
        const QByteArray longest = '%' + QByteArray(65535, 'x'); // the most a line may hold
        // clang-format off
        AddRows<ValidateRow>({
            {"CR LF and lone CR", "a.rom", "%A%B\r\n%C\r%D", "%A%B|%C|%D"},
            {"lone LF is part of the line", "a.rom", "%A\n%B\r\n", "%A\n%B"},
            {"only the first line counts", "a.rom", "%A\r\nno record\r\n\r\r\n\r", "%A|no record|||"},
            {"any extension, no line end at all", "a.hex", "%", "%"},
            {"CR LF split between reads", "a.rom", piece + "\r\n%B", piece + "|%B"},
            {"the default name, in lower case on disk", "MYFILE.ROM", "%DEFAULT\r\n", "%DEFAULT"},
            {"the longest line", "a.rom", longest + "\r\n%B", longest + "|%B"},
            {"a line too long, across pieces", "a.rom", "%A\r\n" + longest + "x\r\n", "", "has a Line Too Long", "has a Line Too Long", "Line 2 of "},
            {"missing", "a.rom", QByteArray(), "", "Not Found", "was Not Found", "No file "},
            // A pipe must not be opened: no writer would ever come.
            {"a folder", "a.rom", "<folder>", "", "Not Found", "was Not Found"},
            {"a pipe", "a.rom", "<pipe>", "", "Not Found", "was Not Found"},
            {"empty first line", "a.rom", "\r\n%A\r\n", "", "has Invalid Format", "has Bad Format"},
            {"blank before %", "a.rom", " %A\r\n", "", "has Invalid Format", "has Bad Format"},
            {"empty file", "a.rom", "", "", "is Empty", "is Empty"},
            // A plain file whose first byte cannot be read, whoever runs the test.
            {"unreadable", "/proc/self/mem", QByteArray(), "", "Cannot be Read", "Cannot be Read"},
            // Files differing only in case, none spelt as the upper-case name.
            {"twins", "K2X.ROM", "<twins>", "", "Matches Files Differing Only in Case", "is Ambiguous"},
        });
        // clang-format on
    }
    void validate() {
        QFETCH(ValidateRow, row);
        const QString path = at(row.file.toLower());
        if (row.text == "<folder>")
            put(row.file.toLower() + '/');
        else if (row.text == "<pipe>")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (row.text == "<twins>")
            put(QStringLiteral("k2x.rom")), put(QStringLiteral("K2x.rom"));
        else if (!row.text.isNull())
            put(row.file.toLower(), row.text);
        Rig r;
        r.m.LoadFileName = row.file;
        if (!row.box.isEmpty())
            r.prompts.Expect("File Requested " + row.box);

        ValidateLoadFile(r.ctx);
        QVERIFY(r.prompts.AllAnswered());
        QVERIFY(r.m.FileValid == row.box.isEmpty() && r.file.IsOpen() == row.box.isEmpty());
        QByteArrayList read;
        while (r.file.IsOpen() && !r.file.AtEnd())
            read.append(r.file.ReadLine());
        QCOMPARE(read.join('|'), row.lines);
        QVERIFY(!row.box.isEmpty() || r.file.ReadLine().isEmpty()); // and nothing after the end
        if (row.box.isEmpty())
            return;
        const Box& seen = r.prompts.seen.front();
        QVERIFY(seen.title == QStringLiteral("Quorvel Velloran") &&
                seen.icon == BoxIcon::Exclamation && seen.buttons == BoxButtons::Ok);
        QCOMPARE(r.lblMsg.text(), "Load File Requested " + row.message);
        QVERIFY(r.lblMsg.tint == Tint::Red);
        QVERIFY(row.box != QLatin1String("Cannot be Read") || !seen.detail.isEmpty());
        // Which file was refused, whatever name led to it.
        const QString tried = QDir::current().absoluteFilePath(row.file.toLower());
        QVERIFY2(row.text == "<twins>" || seen.detail.contains(row.detail + tried),
                 qPrintable(seen.detail));
        if (row.text == "<twins>")
            QVERIFY(seen.detail.contains(at("k2x.rom")) && seen.detail.contains(at("K2x.rom")));
    }

    void resolve_data() {
        // clang-format off
        AddRows<ResolveRow>({
            {"lower case on disk", {"d/k.rom"}, "D/K.ROM", "d/k.rom"},
            {"exact spelling wins over a twin", {"d/k.rom", "d/K.ROM"}, "D/K.ROM", "d/K.ROM"},
            {"a file does not stand for a folder", {"D", "d/x.rom"}, "D/X.ROM", "d/x.rom"},
            {"a folder does not stand for a file", {"d/X.ROM/", "d/x.rom"}, "D/X.ROM", "d/x.rom"},
            {"dot-dot passes through", {"a/x.rom", "b/"}, "B/../A/X.ROM", "b/../a/x.rom"},
            {"nothing like it", {"d/y.rom"}, "D/X.ROM", ""},
            {"a trailing separator names no file", {"x.rom"}, "X.ROM/", ""},
            {"twin files", {"d/kx.rom", "d/Kx.rom"}, "D/KX.ROM", "", 2},
            {"twin folders", {"ab/x.rom", "Ab/y.rom", "aB/"}, "AB/X.ROM", "", 3},
        });
        // clang-format on
    }
    void resolve() {
        QFETCH(ResolveRow, row);
        for (const QString& file : row.files)
            put(file);
        // The whole path in upper case, as the dialog stores it.
        const QString upper = at(row.upper).toUpper();
        const ResolvedPath resolved = ResolveLoadFile(upper);
        QCOMPARE(resolved.matches.size(), row.twins);
        QCOMPARE(resolved.path, row.found.isEmpty() ? upper : at(row.found));
    }

    // Twins differing only in case: whichever was chosen is the one opened.
    void select() {
        for (const auto& [chosen, line] :
             {std::pair{"Loads/k2x.rom", "%LOWER"}, {"Loads/K2x.rom", "%MIXED"}}) {
            put(QStringLiteral("Loads/k2x.rom"), "%LOWER\r\n");
            put(QStringLiteral("Loads/K2x.rom"), "%MIXED\r\n");
            const QString path = at(QString::fromLatin1(chosen));
            // As read back from the configuration file: upper case, no path chosen.
            Rig r;
            r.m.LoadFileName = path.toUpper();
            r.m.LoadFileDirectory = DirectoryOf(r.m.LoadFileName);
            // Cancel, or a name of one character, changes nothing; the same
            // name chosen again still counts as a change.
            for (const QString& returned : {QString(), QStringLiteral("a"), path}) {
                r.prompts.ExpectOpen(returned);
                const bool chose = returned == path;
                QVERIFY(SelectLoadFile(r.m, r.prompts) == chose && r.m.SettingsChanged == chose);
                QCOMPARE(r.m.LoadFilePath, chose ? path : QString());
                QCOMPARE(r.m.LoadFileName, path.toUpper());
                QCOMPARE(r.m.LoadFileDirectory, at(QStringLiteral("Loads")).toUpper());
            }
            // The dialog opens in the folder as it is spelt on disk.
            QCOMPARE(r.prompts.openRequests.front().initialDirectory, at(QStringLiteral("Loads")));
            // Each run starts from the first line.
            for (int run = 0; run < 2; ++run) {
                ValidateLoadFile(r.ctx);
                QVERIFY(r.m.FileValid && r.file.ReadLine() == line);
            }
            // A file spoilt between runs leaves nothing open from the run before.
            put(QString::fromLatin1(chosen), "junk\r\n");
            r.prompts.Expect(QStringLiteral("File Requested has Invalid Format"));
            ValidateLoadFile(r.ctx);
            QVERIFY(r.prompts.AllAnswered() && !r.m.FileValid && !r.file.IsOpen());
        }
    }

    // The count is what the download really sends before the file is done,
    // so the download itself is run over each file, with an end record added;
    // the reader's hash is then of the whole file, across its reads.
    void recordCount_data() {
        // clang-format off
        AddRows<CountRow>({
            {"several records on a line, many on the last", "%A\r\n%B%C\r\n%D%E%F", 6},
            {"a line without % joins the pending record, or goes alone", "%A%B\r\nxyz\r\n%C\r\nxyz\r\n", 4},
            {"blank lines and blanks before a %", "%A\r\n\r\n   \r\n  %B\r\n", 5},
            {"sample file past one read of the file", BootLoader::SampleLoadFile(1700), 1701},
        });
        // clang-format on
    }
    void recordCount() {
        QFETCH(CountRow, row);
        const QString path = at(QStringLiteral("LOAD.ROM"));
        QVERIFY(WriteFile(path, row.content));
        QCOMPARE(CountRecords(path), row.records);
        const bool ended = row.content.endsWith('\r') || row.content.endsWith("\r\n");
        QVERIFY(WriteFile(path, row.content + (ended ? "" : "\r") + "%ZEND"));
        Rig r;
        QVERIFY(r.file.Open(path));
        r.OpenAtWakeUp();
        r.port.onOutput = [&r](const QByteArray& record) {
            const QByteArray reply = record == "%ZEND\r" ? "$BEND\r\n" : "$BOK\r\n";
            r.clock.After(0.01, [&r, reply] { r.port.Feed(reply); });
        };
        DownloadFile(r.ctx);
        QVERIFY(r.m.DownloadOk);
        QCOMPARE(qint64(r.port.writes.size()), row.records + 1);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(r.file.Sha256(),
                 QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex());
    }
};

QTEST_MAIN(TestLoadFile)
#include "tst_loadfile.moc"
