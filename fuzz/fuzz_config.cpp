// The configuration reader over any file: it never fails visibly, keeps the
// settings coherent, and what the writer makes of the result reads back the
// same.
#include "core/ConfigFile.h"
#include "core/Module1.h"
#include "fuzz/FuzzPeer.h"

#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

void CheckCoherent(const Module1& m) {
    FUZZ_CHECK(m.LoadFileName.toUcs4().size() <= 128);
    FUZZ_CHECK(!m.LoadFileName.contains('\r') && !m.LoadFileName.contains('\n'));
    FUZZ_CHECK(m.LoadFileDirectory.isEmpty() || m.LoadFileDirectory == DirectoryOf(m.LoadFileName));
    FUZZ_CHECK(!m.SettingsChanged);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir dir;
    Module1 m;
    InitDefaults(m);
    m.AppDirectory = dir.path();
    FUZZ_CHECK(WriteFile(ConfigFilePath(m),
                         QByteArray(reinterpret_cast<const char*>(data), qsizetype(size))));
    ReadConfigFile(m);
    CheckCoherent(m);

    // Written and read back over fresh defaults: the same four settings, but
    // for the blanks around the name and mode 1, which is never saved.
    WriteConfigFile(m);
    Module1 back;
    InitDefaults(back);
    back.AppDirectory = dir.path();
    ReadConfigFile(back);
    CheckCoherent(back);
    static const QRegularExpression blanks(QStringLiteral("^ +| +$"));
    FUZZ_CHECK(back.LoadFileName == QString(m.LoadFileName).remove(blanks));
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
