// tarquell-simdev: a simulated serial device that streams 8-byte frames
// (0x11 0x55, then three big-endian int16 values) over a pseudo-terminal.

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

const int64_t kMs = 1000000;
const int64_t kSec = 1000000000;
const int64_t kNever = -1;
const uint8_t kSync0 = 0x11;
const uint8_t kSync1 = 0x55;
const int kFrameLen = 8;

volatile sig_atomic_t g_signal = 0;

void on_signal(int sig) { g_signal = sig; }

int64_t mono_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * kSec + ts.tv_nsec;
}

timespec to_timespec(int64_t ns) {
    timespec ts;
    ts.tv_sec = time_t(ns / kSec);
    ts.tv_nsec = long(ns % kSec);
    return ts;
}

struct Options {
    double rate = 100;
    long long baud = 0;
    std::string link;
    std::string out;
    std::string control;
    bool wave_const = false;
    bool wave_counter = false;
    bool wave_given = false;
    long long sine_period = 256;
    bool values_given = false;
    int16_t values[3] = {1000, -1000, 0};
    int start_offset = 0;
    long long drop_every = 0;
    long long insert_every = 0;
    long long garbage_every = 0;
    long long garbage_len = 13;
    long long silent_after = kNever;
    long long silent_for = kNever;
    long long hangup_after = kNever;
    long long reopen_after = kNever;
    long long duration = kNever;
    long long count = kNever;
    bool quiet = false;
};

struct Sim {
    Options opt;
    int fd = -1;       // pty master, or the --out target
    std::string port;
    int ctl_fd = -1;
    int ctl_wfd = -1;  // our own writer keeps the FIFO from reporting EOF forever
    std::string ctl_buf;
    std::string line_buf;  // what the program sent, up to its next line end
    bool fifo_made = false;

    double rate = 100;
    bool const_values = false;
    bool counter = false;
    int16_t values[3] = {0, 0, 0};

    int64_t sched_base = 0;
    int64_t sched_k = 0;
    int64_t backoff_until = 0;
    int64_t wire_free = 0;

    bool silent = false;
    int64_t silent_until = kNever;

    uint64_t wave_n = 0;
    uint64_t frames_generated = 0;
    uint64_t frames_sent = 0;
    uint64_t bytes_written = 0;
    uint64_t bytes_dropped = 0;
    int pending_drops = 0;
    std::deque<int16_t> marks;
    uint8_t last_byte = 0;
    uint64_t rng = 0x9E3779B97F4A7C15ull;
    bool quit = false;
};

void say(const char* fmt, va_list ap) {
    std::fputs("simdev: ", stderr);
    std::vfprintf(stderr, fmt, ap);
    std::fputc('\n', stderr);
}

__attribute__((format(printf, 2, 3))) void note(const Sim& s, const char* fmt, ...) {
    if (s.opt.quiet) return;
    va_list ap;
    va_start(ap, fmt);
    say(fmt, ap);
    va_end(ap);
}

__attribute__((format(printf, 1, 2))) void complain(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    say(fmt, ap);
    va_end(ap);
}

bool parse_ll(const char* text, long long lo, long long hi, long long* out) {
    if (!text || !*text) return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    *out = v;
    return true;
}

bool parse_rate(const char* text, double* out) {
    if (!text || !*text) return false;
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < 0 || v > 1e7) return false;
    *out = v;
    return true;
}

bool parse_values(const char* text, int16_t out[3]) {
    std::string t(text);
    std::replace(t.begin(), t.end(), ',', ' ');
    std::istringstream in(t);
    std::string a[3], extra;
    if (!(in >> a[0] >> a[1] >> a[2]) || (in >> extra)) return false;
    for (int i = 0; i < 3; ++i) {
        long long v;
        if (!parse_ll(a[i].c_str(), -32768, 32767, &v)) return false;
        out[i] = int16_t(v);
    }
    return true;
}

uint8_t next_random(Sim& s) {
    s.rng ^= s.rng >> 12;
    s.rng ^= s.rng << 25;
    s.rng ^= s.rng >> 27;
    return uint8_t((s.rng * 0x2545F4914F6CDD1Dull) >> 56);
}

// Garbage never contains the sync pair, even across its boundary with what
// was written before, so a reader's resynchronisation is predictable.
void append_garbage(Sim& s, std::vector<uint8_t>& buf, size_t len) {
    uint8_t prev = buf.empty() ? s.last_byte : buf.back();
    for (size_t i = 0; i < len; ++i) {
        uint8_t b;
        do {
            b = next_random(s);
        } while (prev == kSync0 && b == kSync1);
        buf.push_back(b);
        prev = b;
    }
}

void rebase_schedule(Sim& s, int64_t now) {
    s.sched_base = now;
    s.sched_k = 0;
    s.backoff_until = 0;
}

int64_t scheduled_due(const Sim& s) {
    if (s.rate <= 0) return s.backoff_until;
    return s.sched_base + int64_t(std::llround((long double)s.sched_k * kSec / s.rate));
}

int64_t next_frame_time(const Sim& s) { return std::max(scheduled_due(s), s.wire_free); }

bool reader_present(const Sim& s) {
    if (!s.opt.out.empty()) return true;
    pollfd pfd{s.fd, POLLOUT, 0};
    return poll(&pfd, 1, 0) >= 0 && !(pfd.revents & POLLHUP);
}

// Returns the number of bytes that went out; the rest counts as dropped.
// A full buffer drops the data instead of blocking the pacing, except that a
// frame already begun is given a moment to finish so the stream stays aligned.
size_t write_out(Sim& s, const uint8_t* p, size_t n) {
    if (n == 0) return 0;
    if (s.fd < 0 || !reader_present(s)) {
        s.bytes_dropped += n;
        return 0;
    }
    const bool patient = s.rate <= 0;
    const int64_t start = mono_ns();
    const int64_t limit = start + (patient ? 100 : 20) * kMs;
    size_t off = 0;
    while (off < n) {
        ssize_t w = write(s.fd, p + off, n - off);
        if (w > 0) {
            off += size_t(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (off == 0 && !patient) break;
            int64_t left = limit - mono_ns();
            if (left <= 0) break;
            pollfd pfd{s.fd, POLLOUT, 0};
            int r = poll(&pfd, 1, int((left + kMs - 1) / kMs));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0 || !(pfd.revents & POLLOUT)) break;
            continue;
        }
        break;
    }
    s.bytes_written += off;
    s.bytes_dropped += n - off;
    if (off > 0) {
        s.last_byte = p[off - 1];
        if (s.opt.baud > 0) {
            // Charge against the wire's own timeline unless it has been idle,
            // so wake-up latency does not erode the average throughput.
            int64_t wire_start = start - s.wire_free > 50 * kMs ? start : s.wire_free;
            s.wire_free = wire_start + int64_t(off) * 10 * kSec / s.opt.baud;
        }
    }
    return off;
}

size_t write_out(Sim& s, const std::vector<uint8_t>& buf) { return write_out(s, buf.data(), buf.size()); }

void wave_values(const Sim& s, int16_t v[3]) {
    if (s.const_values) {
        std::copy(s.values, s.values + 3, v);
        return;
    }
    uint64_t n = s.wave_n;
    if (s.counter) {
        // Lets a reader prove that no frame went missing between two it kept.
        v[0] = int16_t(uint16_t(n));
        v[1] = int16_t(uint16_t(0u - uint16_t(n)));
        v[2] = 0;
        return;
    }
    const double pi = 3.14159265358979323846;
    const uint64_t period = uint64_t(s.opt.sine_period);
    v[0] = int16_t(std::lround(24000.0 * std::sin(2.0 * pi * double(n % period) / double(period))));
    long p = long(n % 200);
    long tri = p < 50 ? 400 * p : (p < 150 ? 20000 - 400 * (p - 50) : 400 * (p - 200));
    v[1] = int16_t(tri);
    v[2] = int16_t((n % 128) < 64 ? 12000 : -12000);
}

bool every(long long n, uint64_t k) { return n > 0 && k % uint64_t(n) == 0; }

void send_frame(Sim& s, int64_t now) {
    if (s.rate > 0 && now - scheduled_due(s) > kSec) rebase_schedule(s, now);

    const uint64_t k = ++s.frames_generated;
    int16_t v[3];
    wave_values(s, v);
    ++s.wave_n;
    const bool marked = !s.marks.empty();
    if (marked) v[0] = s.marks.front();

    uint8_t frame[kFrameLen] = {kSync0, kSync1};
    for (int i = 0; i < 3; ++i) {
        uint16_t u = uint16_t(v[i]);
        frame[2 + 2 * i] = uint8_t(u >> 8);
        frame[3 + 2 * i] = uint8_t(u & 0xff);
    }
    bool drop = every(s.opt.drop_every, k);
    if (s.pending_drops > 0) {
        drop = true;
        --s.pending_drops;
    }
    std::vector<uint8_t> buf;
    for (int i = (k == 1 ? s.opt.start_offset : 0); i < kFrameLen; ++i) {
        if (drop && i == 3) continue;
        buf.push_back(frame[i]);
    }

    size_t w = write_out(s, buf);
    const int64_t done = mono_ns();
    if (w == buf.size()) {
        ++s.frames_sent;
        if (marked) {
            std::printf("mark %d %lld\n", int(s.marks.front()), (long long)done);
            std::fflush(stdout);
            s.marks.pop_front();
        }
    } else if (s.rate <= 0) {
        // Nothing will drain the buffer soon (or the line is dead): avoid spinning.
        s.backoff_until = done + 20 * kMs;
    }

    std::vector<uint8_t> extra;
    if (every(s.opt.insert_every, k)) extra.push_back(0x00);
    if (every(s.opt.garbage_every, k)) append_garbage(s, extra, size_t(s.opt.garbage_len));
    write_out(s, extra);

    ++s.sched_k;
    if (s.opt.count >= 0 && s.frames_generated >= uint64_t(s.opt.count)) s.quit = true;
}

void close_device(Sim& s) {
    if (s.fd >= 0) close(s.fd);
    s.fd = -1;
}

bool make_parent_dirs(const std::string& path) {
    for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1)) {
        std::string dir = path.substr(0, pos);
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return true;
}

// Readers such as a Wine COM-port mapping follow the link, so it must never
// be missing: build it aside and rename it over the old one.
bool update_link(const Sim& s) {
    const std::string& link = s.opt.link;
    if (link.empty()) return true;
    if (!make_parent_dirs(link)) {
        complain("cannot create directories for %s: %s", link.c_str(), std::strerror(errno));
        return false;
    }
    std::string tmp = link + ".tmp." + std::to_string(getpid());
    unlink(tmp.c_str());
    if (symlink(s.port.c_str(), tmp.c_str()) != 0) {
        complain("symlink %s: %s", tmp.c_str(), std::strerror(errno));
        return false;
    }
    if (rename(tmp.c_str(), link.c_str()) != 0) {
        complain("rename %s -> %s: %s", tmp.c_str(), link.c_str(), std::strerror(errno));
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

void make_raw(int fd) {
    termios t;
    if (tcgetattr(fd, &t) != 0) return;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    tcsetattr(fd, TCSANOW, &t);
}

bool open_pty(Sim& s) {
    int m = posix_openpt(O_RDWR | O_NOCTTY);
    if (m < 0) {
        complain("posix_openpt: %s", std::strerror(errno));
        return false;
    }
    const char* name = nullptr;
    if (grantpt(m) != 0 || unlockpt(m) != 0 || !(name = ptsname(m))) {
        complain("pty setup: %s", std::strerror(errno));
        close(m);
        return false;
    }
    std::string path(name);
    int sl = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (sl < 0) {
        complain("open %s: %s", path.c_str(), std::strerror(errno));
        close(m);
        return false;
    }
    // Opened once for the line settings, then closed: like a real device,
    // what is sent while no program has the port open is lost, not queued.
    make_raw(sl);
    close(sl);
    fcntl(m, F_SETFD, FD_CLOEXEC);
    fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
    s.fd = m;
    s.port = path;
    return true;
}

bool open_out(Sim& s) {
    const char* path = s.opt.out.c_str();
    int fd = open(path, O_WRONLY | O_NOCTTY | O_APPEND | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 && errno == ENXIO) {
        // A FIFO without a reader refuses non-blocking opens; wait for one.
        fd = open(path, O_WRONLY | O_NOCTTY | O_APPEND | O_CLOEXEC);
    }
    if (fd < 0) {
        complain("open %s: %s", path, std::strerror(errno));
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    if (isatty(fd)) make_raw(fd);
    s.fd = fd;
    s.port = s.opt.out;
    return true;
}

// The port line is the readiness signal, so everything it implies (link,
// control FIFO) is in place before it is printed.
bool open_device(Sim& s) {
    bool ok = s.opt.out.empty() ? open_pty(s) : open_out(s);
    if (!ok) return false;
    if (s.opt.out.empty()) update_link(s);
    std::printf("port %s\n", s.port.c_str());
    std::fflush(stdout);
    return true;
}

void reopen_device(Sim& s, int64_t now) {
    close_device(s);
    if (open_device(s)) {
        note(s, "reopened on %s", s.port.c_str());
        rebase_schedule(s, now);
    }
}

void start_silence(Sim& s, int64_t now, long long ms) {
    s.silent = true;
    s.silent_until = ms > 0 ? now + ms * kMs : kNever;
    if (ms > 0)
        note(s, "silent for %lld ms", ms);
    else
        note(s, "silent until resumed");
}

void end_silence(Sim& s, int64_t now) {
    s.silent = false;
    s.silent_until = kNever;
    rebase_schedule(s, now);
    note(s, "resumed");
}

bool open_control(Sim& s) {
    const char* path = s.opt.control.c_str();
    struct stat st;
    if (lstat(path, &st) == 0) {
        if (!S_ISFIFO(st.st_mode)) {
            complain("%s exists and is not a FIFO", path);
            return false;
        }
        unlink(path);
    }
    if (mkfifo(path, 0660) != 0) {
        complain("mkfifo %s: %s", path, std::strerror(errno));
        return false;
    }
    s.fifo_made = true;
    s.ctl_fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (s.ctl_fd >= 0) s.ctl_wfd = open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (s.ctl_fd < 0 || s.ctl_wfd < 0) {
        complain("open %s: %s", path, std::strerror(errno));
        return false;
    }
    return true;
}

// The answer to "?": a text line, which a reader skips as bytes that start no frame.
void answer_query(Sim& s) {
    char text[96];
    int n = std::snprintf(text, sizeof text, "simdev %g frames/s, ", s.rate);
    if (s.const_values)
        n += std::snprintf(text + n, sizeof text - size_t(n), "values %d %d %d\r\n", s.values[0], s.values[1], s.values[2]);
    else
        n += std::snprintf(text + n, sizeof text - size_t(n), "%s\r\n", s.counter ? "counter" : "waves");
    write_out(s, reinterpret_cast<const uint8_t*>(text), size_t(n));
}

void run_command(Sim& s, const std::string& line) {
    std::istringstream in(line);
    std::string cmd;
    if (!(in >> cmd)) return;
    std::vector<std::string> args;
    for (std::string a; in >> a;) args.push_back(a);
    const int64_t now = mono_ns();
    long long n = 0;
    auto arg_ok = [&](size_t count) { return args.size() == count; };

    if (cmd == "silent" && arg_ok(1) && parse_ll(args[0].c_str(), 0, INT64_MAX / kMs, &n)) {
        start_silence(s, now, n);
    } else if (cmd == "resume" && arg_ok(0)) {
        if (s.silent) end_silence(s, now);
    } else if (cmd == "hangup" && arg_ok(0)) {
        close_device(s);
        note(s, "hung up");
    } else if (cmd == "reopen" && arg_ok(0)) {
        reopen_device(s, now);
    } else if (cmd == "garbage" && arg_ok(1) && parse_ll(args[0].c_str(), 0, 1 << 20, &n)) {
        std::vector<uint8_t> buf;
        append_garbage(s, buf, size_t(n));
        write_out(s, buf);
    } else if (cmd == "drop" && arg_ok(0)) {
        ++s.pending_drops;
    } else if (cmd == "insert" && arg_ok(0)) {
        const uint8_t zero = 0;
        write_out(s, &zero, 1);
    } else if (cmd == "values" && arg_ok(3)) {
        int16_t v[3];
        if (!parse_values((args[0] + "," + args[1] + "," + args[2]).c_str(), v)) {
            complain("bad command: %s", line.c_str());
            return;
        }
        std::copy(v, v + 3, s.values);
        s.const_values = true;
    } else if (cmd == "wave" && arg_ok(0)) {
        s.const_values = false;
    } else if (cmd == "mark" && arg_ok(1) && parse_ll(args[0].c_str(), -32768, 32767, &n)) {
        s.marks.push_back(int16_t(n));
    } else if (cmd == "rate" && arg_ok(1) && parse_rate(args[0].c_str(), &s.rate)) {
        rebase_schedule(s, now);
    } else if (cmd == "?" && arg_ok(0)) {
        answer_query(s);
    } else if (cmd == "quit" && arg_ok(0)) {
        s.quit = true;
    } else {
        complain("bad command: %s", line.c_str());
    }
}

// Appends everything `fd` holds now to `buffer`.
void drain(int fd, std::string& buffer) {
    char chunk[4096];
    for (;;) {
        ssize_t r = read(fd, chunk, sizeof chunk);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        buffer.append(chunk, size_t(r));
    }
}

void read_control(Sim& s) {
    drain(s.ctl_fd, s.ctl_buf);
    size_t nl;
    while ((nl = s.ctl_buf.find('\n')) != std::string::npos) {
        std::string line = s.ctl_buf.substr(0, nl);
        s.ctl_buf.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        run_command(s, line);
        if (s.quit) break;
    }
    if (s.ctl_buf.size() > 65536) s.ctl_buf.clear();
}

// What the program sends is read as commands too, a line (LF or CR ended)
// each; every line is noted on stdout as "heard NS LINE" with the time it was
// read, for the latency from the program's send to the device.
void read_device(Sim& s) {
    drain(s.fd, s.line_buf);
    const long long read_at = (long long)mono_ns();
    size_t end;
    while ((end = s.line_buf.find_first_of("\r\n")) != std::string::npos) {
        std::string line = s.line_buf.substr(0, end);
        s.line_buf.erase(0, end + 1);
        if (line.empty()) continue;
        std::printf("heard %lld %s\n", read_at, line.c_str());
        std::fflush(stdout);
        run_command(s, line);
        if (s.quit || s.fd < 0) break;
    }
    if (s.line_buf.size() > 65536) s.line_buf.clear();
}

void wait_until(Sim& s, int64_t deadline) {
    int64_t now = mono_ns();
    if (deadline <= now) return;
    pollfd pfds[2];
    nfds_t count = 0;
    if (s.ctl_fd >= 0) pfds[count++] = {s.ctl_fd, POLLIN, 0};
    const bool listening = s.opt.out.empty() && s.fd >= 0 && reader_present(s);
    if (listening) pfds[count++] = {s.fd, POLLIN, 0};
    if (count > 0) {
        timespec rel = to_timespec(deadline - now);
        const int r = ppoll(pfds, count, &rel, nullptr);
        if (r > 0 && s.ctl_fd >= 0 && (pfds[0].revents & POLLIN)) read_control(s);
        if (r > 0 && listening && (pfds[count - 1].revents & POLLIN) && !s.quit && s.fd >= 0) read_device(s);
        return;
    }
    timespec abs = to_timespec(deadline);
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &abs, nullptr);
}

// Closing the master discards whatever the reader has not picked up yet, so
// a normal end gives a reader a moment to catch up.
void drain(Sim& s) {
    if (s.fd < 0 || !reader_present(s)) return;
    timespec ts = to_timespec(200 * kMs);
    nanosleep(&ts, nullptr);
}

void cleanup(Sim& s) {
    close_device(s);
    if (!s.opt.link.empty()) {
        struct stat st;
        if (lstat(s.opt.link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(s.opt.link.c_str());
    }
    if (s.ctl_fd >= 0) close(s.ctl_fd);
    if (s.ctl_wfd >= 0) close(s.ctl_wfd);
    s.ctl_fd = s.ctl_wfd = -1;
    if (s.fifo_made) unlink(s.opt.control.c_str());
    note(s, "%llu frames sent, %llu bytes written, %llu bytes dropped", (unsigned long long)s.frames_sent,
         (unsigned long long)s.bytes_written, (unsigned long long)s.bytes_dropped);
}

void usage(FILE* f) {
    std::fputs(
        "usage: tarquell-simdev [options]\n"
        "Streams 8-byte frames (0x11 0x55, three big-endian int16) to a new pty and\n"
        "prints 'port /dev/pts/N' as the first line of stdout.\n"
        "\n"
        "  --rate FPS            frames per second (default 100; 0 = as fast as possible)\n"
        "  --baud B              also cap throughput at B/10 bytes per second\n"
        "  --out PATH            write to an existing file/device instead of a new pty\n"
        "  --link PATH           keep a symlink PATH -> current pty (removed at exit)\n"
        "  --wave sine|const|counter\n"
        "                        waveforms (default: y1 a sine, y2 a triangle of 200\n"
        "                        frames, y3 a square of 128), constant values, or a\n"
        "                        counter: y1 = frame number from 0 (wrapping as int16),\n"
        "                        y2 = -y1, y3 = 0\n"
        "  --sine-period N       frames per period of the y1 sine (default 256)\n"
        "  --values A,B,C        constant values (default 1000,-1000,0; implies const)\n"
        "  --start-offset K      skip the first K (0..7) bytes of the first frame\n"
        "  --drop-every N        drop byte 3 of every Nth frame\n"
        "  --insert-every N      write an extra 0x00 after every Nth frame\n"
        "  --garbage-every N     write random bytes after every Nth frame\n"
        "  --garbage-len L       garbage length (default 13); never contains 11 55\n"
        "  --silent-after MS     stop writing after MS ms...\n"
        "  --silent-for MS       ...for MS ms (0 or absent: for good)\n"
        "  --hangup-after MS     close the pty after MS ms\n"
        "  --reopen-after MS     then open a new one MS ms later (prints a new port line)\n"
        "  --control PATH        FIFO for commands: silent MS, resume, hangup, reopen,\n"
        "                        garbage L, drop, insert, values A B C, wave, mark V,\n"
        "                        rate FPS, ? (answers a text line on the port), quit;\n"
        "                        each line the program sends on the port (LF or CR\n"
        "                        ended) is taken as one too, noted as 'heard NS LINE'\n"
        "  --duration MS         exit after MS ms\n"
        "  --count N             exit after N frames\n"
        "  --quiet               print only the port, mark and heard lines\n"
        "  --help                show this help\n",
        f);
}

enum OptId {
    kOptRate = 256,
    kOptBaud,
    kOptOut,
    kOptLink,
    kOptWave,
    kOptSinePeriod,
    kOptValues,
    kOptStartOffset,
    kOptDropEvery,
    kOptInsertEvery,
    kOptGarbageEvery,
    kOptGarbageLen,
    kOptSilentAfter,
    kOptSilentFor,
    kOptHangupAfter,
    kOptReopenAfter,
    kOptControl,
    kOptDuration,
    kOptCount,
    kOptQuiet,
    kOptHelp,
};

// Returns -1 to continue, otherwise an exit status.
int parse_args(int argc, char** argv, Options& o) {
    static const option longopts[] = {
        {"rate", required_argument, nullptr, kOptRate},
        {"baud", required_argument, nullptr, kOptBaud},
        {"out", required_argument, nullptr, kOptOut},
        {"link", required_argument, nullptr, kOptLink},
        {"wave", required_argument, nullptr, kOptWave},
        {"sine-period", required_argument, nullptr, kOptSinePeriod},
        {"values", required_argument, nullptr, kOptValues},
        {"start-offset", required_argument, nullptr, kOptStartOffset},
        {"drop-every", required_argument, nullptr, kOptDropEvery},
        {"insert-every", required_argument, nullptr, kOptInsertEvery},
        {"garbage-every", required_argument, nullptr, kOptGarbageEvery},
        {"garbage-len", required_argument, nullptr, kOptGarbageLen},
        {"silent-after", required_argument, nullptr, kOptSilentAfter},
        {"silent-for", required_argument, nullptr, kOptSilentFor},
        {"hangup-after", required_argument, nullptr, kOptHangupAfter},
        {"reopen-after", required_argument, nullptr, kOptReopenAfter},
        {"control", required_argument, nullptr, kOptControl},
        {"duration", required_argument, nullptr, kOptDuration},
        {"count", required_argument, nullptr, kOptCount},
        {"quiet", no_argument, nullptr, kOptQuiet},
        {"help", no_argument, nullptr, kOptHelp},
        {nullptr, 0, nullptr, 0},
    };
    const long long kMaxMs = INT64_MAX / kMs / 4;
    int c;
    while ((c = getopt_long(argc, argv, "h", longopts, nullptr)) != -1) {
        bool ok = true;
        long long v = 0;
        switch (c) {
            case kOptRate: ok = parse_rate(optarg, &o.rate); break;
            case kOptBaud: ok = parse_ll(optarg, 0, 100000000, &o.baud); break;
            case kOptOut: o.out = optarg; ok = !o.out.empty(); break;
            case kOptLink: o.link = optarg; ok = !o.link.empty(); break;
            case kOptWave:
                o.wave_given = true;
                o.wave_const = std::strcmp(optarg, "const") == 0;
                o.wave_counter = std::strcmp(optarg, "counter") == 0;
                ok = o.wave_const || o.wave_counter || std::strcmp(optarg, "sine") == 0;
                break;
            case kOptSinePeriod: ok = parse_ll(optarg, 1, 1 << 30, &o.sine_period); break;
            case kOptValues: ok = parse_values(optarg, o.values); o.values_given = true; break;
            case kOptStartOffset:
                ok = parse_ll(optarg, 0, kFrameLen - 1, &v);
                o.start_offset = int(v);
                break;
            case kOptDropEvery: ok = parse_ll(optarg, 1, INT64_MAX, &o.drop_every); break;
            case kOptInsertEvery: ok = parse_ll(optarg, 1, INT64_MAX, &o.insert_every); break;
            case kOptGarbageEvery: ok = parse_ll(optarg, 1, INT64_MAX, &o.garbage_every); break;
            case kOptGarbageLen: ok = parse_ll(optarg, 0, 1 << 20, &o.garbage_len); break;
            case kOptSilentAfter: ok = parse_ll(optarg, 0, kMaxMs, &o.silent_after); break;
            case kOptSilentFor: ok = parse_ll(optarg, 0, kMaxMs, &o.silent_for); break;
            case kOptHangupAfter: ok = parse_ll(optarg, 0, kMaxMs, &o.hangup_after); break;
            case kOptReopenAfter: ok = parse_ll(optarg, 0, kMaxMs, &o.reopen_after); break;
            case kOptControl: o.control = optarg; ok = !o.control.empty(); break;
            case kOptDuration: ok = parse_ll(optarg, 0, kMaxMs, &o.duration); break;
            case kOptCount: ok = parse_ll(optarg, 0, INT64_MAX, &o.count); break;
            case kOptQuiet: o.quiet = true; break;
            case kOptHelp:
            case 'h': usage(stdout); return 0;
            default: usage(stderr); return 2;
        }
        if (!ok) {
            const char* name = "?";
            for (const option* lo = longopts; lo->name; ++lo)
                if (lo->val == c) name = lo->name;
            complain("invalid value for --%s: %s", name, optarg ? optarg : "");
            return 2;
        }
    }
    if (optind < argc) {
        complain("unexpected argument: %s", argv[optind]);
        return 2;
    }
    if (o.values_given && !o.wave_given) o.wave_const = true;
    if (o.silent_for >= 0 && o.silent_after < 0) {
        complain("--silent-for needs --silent-after");
        return 2;
    }
    if (o.reopen_after >= 0 && o.hangup_after < 0) {
        complain("--reopen-after needs --hangup-after");
        return 2;
    }
    if (!o.out.empty() && !o.link.empty()) {
        complain("--link only applies to a pty, not to --out");
        return 2;
    }
    return -1;
}

int64_t earliest(std::initializer_list<int64_t> times) {
    int64_t best = kNever;
    for (int64_t t : times)
        if (t != kNever && (best == kNever || t < best)) best = t;
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    Sim s;
    int status = parse_args(argc, argv, s.opt);
    if (status >= 0) return status;
    s.rate = s.opt.rate;
    s.const_values = s.opt.wave_const;
    s.counter = s.opt.wave_counter;
    std::copy(s.opt.values, s.opt.values + 3, s.values);

    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    if ((!s.opt.control.empty() && !open_control(s)) || !open_device(s)) {
        cleanup(s);
        return 1;
    }

    const int64_t t0 = mono_ns();
    rebase_schedule(s, t0);
    const int64_t end_at = s.opt.duration >= 0 ? t0 + s.opt.duration * kMs : kNever;
    int64_t silence_at = s.opt.silent_after >= 0 ? t0 + s.opt.silent_after * kMs : kNever;
    int64_t hangup_at = s.opt.hangup_after >= 0 ? t0 + s.opt.hangup_after * kMs : kNever;
    int64_t reopen_at = kNever;
    if (s.opt.count == 0) s.quit = true;

    while (!g_signal && !s.quit) {
        int64_t now = mono_ns();
        if (end_at != kNever && now >= end_at) break;
        if (silence_at != kNever && now >= silence_at) {
            silence_at = kNever;
            start_silence(s, now, s.opt.silent_for);
        }
        if (s.silent && s.silent_until != kNever && now >= s.silent_until) end_silence(s, now);
        if (hangup_at != kNever && now >= hangup_at) {
            hangup_at = kNever;
            close_device(s);
            note(s, "hung up");
            if (s.opt.reopen_after >= 0) reopen_at = now + s.opt.reopen_after * kMs;
        }
        if (reopen_at != kNever && now >= reopen_at) {
            reopen_at = kNever;
            reopen_device(s, now);
        }

        const bool streaming = s.fd >= 0 && !s.silent;
        const int64_t frame_at = streaming ? next_frame_time(s) : kNever;
        if (streaming && frame_at <= now) {
            send_frame(s, now);
            continue;
        }
        int64_t wake = earliest({frame_at, end_at, silence_at, s.silent ? s.silent_until : kNever, hangup_at,
                                 reopen_at, now + 200 * kMs});
        wait_until(s, wake);
    }

    if (!g_signal) drain(s);
    cleanup(s);
    return 0;
}
