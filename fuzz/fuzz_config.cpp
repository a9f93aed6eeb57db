// The configuration reader over any file: it never fails visibly, keeps the
// settings coherent, and what the writer makes of the result reads back the
// same.
#include "app/ConfigFile.h"
#include "app/Module1.h"
#include "download/LoadFileSelection.h"
#include "fuzz/FuzzPeer.h"

#include <QFile>
#include <QTemporaryDir>

namespace {
QTemporaryDir* dir = nullptr;

void CheckCoherent(const Module1& m) {
    FUZZ_CHECK(m.FastSettings == SettingsFor(m.BaudRate));
    FUZZ_CHECK(m.LoadFileName.size() <= 128);
    FUZZ_CHECK(!m.LoadFileName.contains(QLatin1Char('\r')));
    FUZZ_CHECK(!m.LoadFileName.contains(QLatin1Char('\n')));
    FUZZ_CHECK(m.LoadFileDirectory.isEmpty() || m.LoadFileDirectory == DirectoryOf(m.LoadFileName));
    FUZZ_CHECK(!m.SettingsChanged);
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    dir = new QTemporaryDir;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Module1 m;
    InitDefaults(m);
    m.AppDirectory = dir->path();
    {
        QFile f(ConfigFilePath(m));
        const auto n = static_cast<qint64>(size);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            f.write(reinterpret_cast<const char*>(data), n) != n)
            std::abort();
    }
    ReadConfigFile(m);
    CheckCoherent(m);

    // Written and read back over fresh defaults: the same four settings, but
    // for the blanks around the name and mode 1, which is never saved.
    WriteConfigFile(m);
    Module1 back;
    InitDefaults(back);
    back.AppDirectory = dir->path();
    ReadConfigFile(back);
    CheckCoherent(back);
    QString name = m.LoadFileName;
    while (name.startsWith(QLatin1Char(' ')))
        name.remove(0, 1);
    while (name.endsWith(QLatin1Char(' ')))
        name.chop(1);
    FUZZ_CHECK(back.LoadFileName == name);
    // A number wider than the reader takes (PORT=12345 read as 1234, then a
    // baud rate of 5.76E8 saved as 576000000) comes back cut to that width.
    const auto cut = [](qint64 value, qsizetype width) {
        return QByteArray::number(value).left(width).toLongLong();
    };
    FUZZ_CHECK(back.PortNumber == cut(m.PortNumber, 4));
    FUZZ_CHECK(back.BaudRate == cut(m.BaudRate, 8));
    FUZZ_CHECK(back.LoadMode == (m.LoadMode == 1 ? 2 : m.LoadMode));
    return 0;
}
