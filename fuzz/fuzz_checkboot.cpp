// The boot version check against a peer that answers the autobaud bytes and
// the version request with anything, at any time (see FuzzPeer.h).
#include "bootcheck/CheckBoot.h"
#include "fuzz/FuzzPeer.h"
#include "tests/support/Rig.h"

namespace {
QWidget* owner = nullptr;
QPointer<frmCheckBoot> window;
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzApp("fuzz_checkboot");
    owner = new QWidget;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Rig r;
    const double start = r.clock.Timer();
    FuzzPeer peer(r.port, r.clock, data, size);
    if (window)
        window->lblVersion->clear();

    CheckBootVersion(r.ctx, window, owner);

    // ATES, up to three autobaud bytes, then either the version request or
    // ATT8 and three more; never anything else, never more.
    static const QList<QByteArray> allowed{"+++  ATES\r", "+++  ATT8\r", "\x80", "ver\r"};
    FUZZ_CHECK(!r.port.writes.empty() && r.port.writes.front().bytes == "+++  ATES\r" &&
               r.port.writes.size() <= 9);
    for (const auto& w : r.port.writes)
        FUZZ_CHECK(allowed.contains(w.bytes));
    FUZZ_CHECK(r.clock.Timer() - start <= 0.1 + 3 + 0.1 + 3 + 3 + 1e-6);
    // Whatever the end, the port is given back.
    FUZZ_CHECK(!r.port.PortOpen());

    const QString caption = r.lblMsg.text();
    if (caption == "No Connection") {
        FUZZ_CHECK(r.m.ModemConnected && r.port.writes.back().bytes == "ver\r" && window);
        // One line at most, and no more than the port could hold.
        const QString version = window->lblVersion->text();
        const qsizetype cr = version.indexOf('\r');
        FUZZ_CHECK((cr < 0 || cr == version.size() - 1) && version.size() <= 1024);
        FUZZ_CHECK(QStringList({"Q70", "6620"}).contains(window->lblType->text()));
    } else if (caption == "Connection Failed") {
        FUZZ_CHECK(!r.m.ModemConnected && r.port.writes.size() == 8);
    } else {
        FUZZ_CHECK(caption.startsWith("Comm Port Failed - "));
    }
    FUZZ_CHECK(r.clock.Yields() < 100000);
    return 0;
}
