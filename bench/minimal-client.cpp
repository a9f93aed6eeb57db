// minimal-client DEVICE LOADFILE: the least a program can do to load a file
// into the boot loader, for the benchmark to hold the tool against. Raw
// termios and poll(); no Qt, no status, no transcript, no retries.
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

int fd = -1;

void Speed(speed_t speed) {
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetspeed(&t, speed);
    tcsetattr(fd, TCSANOW, &t);
}

bool Put(const std::string& bytes) {
    return write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

// Whatever arrives until `enough` is met or the line stays quiet for `ms`.
std::string Get(int ms, bool (*enough)(const std::string&)) {
    std::string reply;
    char buffer[256];
    pollfd p{fd, POLLIN, 0};
    while (!enough(reply) && poll(&p, 1, ms) > 0) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    return reply;
}

bool AnyByte(const std::string& s) {
    return !s.empty();
}
bool WholeLine(const std::string& s) {
    return s.find('\n') != std::string::npos;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: minimal-client DEVICE LOADFILE\n");
        return 2;
    }
    std::FILE* file = std::fopen(argv[2], "r");
    fd = open(argv[1], O_RDWR | O_NOCTTY);
    if (!file || fd < 0) {
        std::perror("minimal-client");
        return 1;
    }
    termios saved{};
    tcgetattr(fd, &saved);

    // Wake at 9600, meet the loader at 115200, log on.
    Speed(B9600);
    Put("+++  ATES\r");
    usleep(100000);
    Speed(B115200);
    bool met = false;
    for (int i = 0; i < 5 && !met; ++i)
        met = Put("\x80") && !Get(1000, AnyByte).empty();
    bool ok = met && Put("%BLqeltvomr\r") && Get(10000, WholeLine).starts_with("$BOK!");

    char line[4096];
    while (ok && std::fgets(line, sizeof line, file)) {
        std::string record(line, std::strcspn(line, "\r\n"));
        if (record.empty())
            continue;
        if (!Put(record + '\r')) {
            ok = false;
            break;
        }
        const std::string reply = Get(10000, WholeLine);
        ok = reply.starts_with("$BOK") || reply.starts_with("$BEND");
    }
    tcsetattr(fd, TCSADRAIN, &saved);
    close(fd);
    std::fclose(file);
    if (!ok)
        std::fprintf(stderr, "minimal-client: the load failed\n");
    return ok ? 0 : 1;
}
