// What one frame costs the watcher: the real packet_handler, the real loader
// and a real list file, in a temporary working directory removed at the end.
// Registered stations only, so nothing is printed or written per frame; a run
// that raised an alert or learned a station reports an error instead.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <limits.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>

#include "quorvale_mon.h"

namespace {

using Frame = std::array<u_char, 42>;

constexpr const char* REPLAY_FILE = "replay.pcap";
constexpr long REPLAY_FRAMES = 1000000;

// Station n (1-based) has the source address 02:5E:10:00:hi:lo.
void station_address(int n, u_char* out) {
    const u_char address[6] = {0x02,
                               0x5E,
                               0x10,
                               static_cast<u_char>(n >> 16),
                               static_cast<u_char>(n >> 8),
                               static_cast<u_char>(n)};
    memcpy(out, address, 6);
}

Frame arp_frame(int n) {
    Frame f{};
    memset(f.data(), 0xFF, 6);
    station_address(n, &f[6]);
    f[12] = 0x08, f[13] = 0x06;
    f[14] = 0x00, f[15] = 0x01;
    f[16] = 0x08, f[17] = 0x00;
    f[18] = 6, f[19] = 4;
    f[20] = 0x00, f[21] = 0x01;
    station_address(n, &f[22]);
    f[28] = 10, f[29] = static_cast<u_char>(n >> 16), f[30] = static_cast<u_char>(n >> 8);
    f[31] = static_cast<u_char>(n);
    return f;
}

off_t file_size(const char* name) {
    struct stat st;
    return stat(name, &st) == 0 ? st.st_size : -1;
}

// Writes a list of stations 1 to `rows` and loads it as a start does. The
// loader's count line goes to /dev/null.
bool load_stations(int rows) {
    FILE* list = fopen(STATION_LIST_FILE, "wb");
    if (list == nullptr) return false;
    for (int n = 1; n <= rows; n++) {
        u_char a[6];
        station_address(n, a);
        fprintf(list, "%02X:%02X:%02X:%02X:%02X:%02X\r\n", a[0], a[1], a[2], a[3], a[4], a[5]);
    }
    if (fclose(list) != 0) return false;

    memset(station_table, 0, sizeof station_table);
    station_count = 0;
    fflush(stderr);
    int saved_err = dup(2);
    int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    dup2(null_fd, 2);
    close(null_fd);
    load_station_list();
    dup2(saved_err, 2);
    close(saved_err);
    return station_count == rows;
}

// Processor time the benchmark's thread spends in its whole timed loop, in
// user and kernel mode (file reads included), so that other work on a shared
// machine does not count against the watcher.
class LoopClock {
  public:
    void start() { begin_ = now(); }
    void stop() { seconds_ = now() - begin_; }
    double seconds() const { return seconds_; }

  private:
    static double now() {
        timespec ts;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
    }
    double begin_ = 0;
    double seconds_ = 0;
};

void report_frames(benchmark::State& state, double frames, const LoopClock& clock) {
    if (frames <= 0 || clock.seconds() <= 0) return;
    state.counters["frames/s"] = frames / clock.seconds();
    state.counters["ns/frame"] = clock.seconds() * 1e9 / frames;
}

// Hands the same frame to packet_handler once per benchmark iteration.
LoopClock handle_repeatedly(benchmark::State& state, const Frame& frame) {
    pcap_pkthdr header{};
    header.caplen = header.len = frame.size();
    LoopClock clock;
    clock.start();
    for (auto _ : state) {
        packet_handler(nullptr, &header, frame.data());
        benchmark::ClobberMemory();
    }
    clock.stop();
    return clock;
}

// The row the station sits in: 0 first, 1 middle, 2 last.
int row_at(int rows, int where) {
    return where == 0 ? 1 : where == 1 ? (rows + 1) / 2 : rows;
}

const char* const WHERE[] = {"first", "middle", "last"};

void alert_registered(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    const int where = static_cast<int>(state.range(1));
    if (!load_stations(rows)) {
        state.SkipWithError("the station list did not load");
        return;
    }
    unlink(ALERT_LOG_FILE);
    run_mode = MODE_ALERT;
    const LoopClock clock = handle_repeatedly(state, arp_frame(row_at(rows, where)));

    if (file_size(ALERT_LOG_FILE) >= 0) state.SkipWithError("an alert was raised");
    report_frames(state, static_cast<double>(state.iterations()), clock);
    state.SetLabel(std::to_string(rows) + " rows, station in the " + WHERE[where] + " row");
}

void learn_known(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    if (!load_stations(rows)) {
        state.SkipWithError("the station list did not load");
        return;
    }
    const off_t list_size = file_size(STATION_LIST_FILE);
    run_mode = MODE_LEARN;
    const LoopClock clock = handle_repeatedly(state, arp_frame(rows));

    if (station_count != rows || file_size(STATION_LIST_FILE) != list_size) {
        state.SkipWithError("a station was learned");
    }
    report_frames(state, static_cast<double>(state.iterations()), clock);
    state.SetLabel(std::to_string(rows) + " rows, station in the last row, list file opened " +
                   "and closed per frame");
}

// REPLAY_FRAMES frames from all 4047 stations in random order.
bool write_replay_file() {
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    if (dead == nullptr) return false;
    pcap_dumper_t* dumper = pcap_dump_open(dead, REPLAY_FILE);
    if (dumper == nullptr) {
        pcap_close(dead);
        return false;
    }
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> station(1, STATION_CAPACITY);
    pcap_pkthdr header{};
    for (long i = 0; i < REPLAY_FRAMES; i++) {
        const Frame frame = arp_frame(station(rng));
        header.ts.tv_sec = 1700000000 + i / 1000000;
        header.ts.tv_usec = i % 1000000;
        header.caplen = header.len = frame.size();
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header, frame.data());
    }
    bool ok = pcap_dump_flush(dumper) == 0;
    pcap_dump_close(dumper);
    pcap_close(dead);
    return ok;
}

void replay(benchmark::State& state) {
    static const bool written = write_replay_file();
    if (!written) {
        state.SkipWithError("the replay file could not be written");
        return;
    }
    if (!load_stations(STATION_CAPACITY)) {
        state.SkipWithError("the station list did not load");
        return;
    }
    unlink(ALERT_LOG_FILE);
    run_mode = MODE_ALERT;

    long frames = 0;
    LoopClock clock;
    clock.start();
    for (auto _ : state) {
        char errbuf[PCAP_ERRBUF_SIZE];
        pcap_t* capture = pcap_open_offline(REPLAY_FILE, errbuf);
        if (capture == nullptr) {
            state.SkipWithError(errbuf);
            return;
        }
        // The watcher's own callback, as run_capture hands it to pcap_loop.
        int result = pcap_loop(capture, -1, packet_handler, nullptr);
        pcap_close(capture);
        if (result != 0) {
            state.SkipWithError("the replay file could not be read to its end");
            return;
        }
        frames += REPLAY_FRAMES;
    }
    clock.stop();

    if (file_size(ALERT_LOG_FILE) >= 0) state.SkipWithError("an alert was raised");
    report_frames(state, static_cast<double>(frames), clock);
    state.SetLabel("alert mode, 4047 rows, 1000000 frames from a pcap file");
}

// What the same search cost before the index: every row compared in turn.
void plain_scan_reference(benchmark::State& state) {
    if (!load_stations(STATION_CAPACITY)) {
        state.SkipWithError("the station list did not load");
        return;
    }
    const std::string mac = station_table[STATION_CAPACITY].mac;
    LoopClock clock;
    clock.start();
    for (auto _ : state) {
        bool found = false;
        for (int row = 0; row <= station_count && !found; row++) {
            found = strcmp(station_table[row].mac, mac.c_str()) == 0;
        }
        benchmark::DoNotOptimize(found);
    }
    clock.stop();
    report_frames(state, static_cast<double>(state.iterations()), clock);
    state.SetLabel("reference only: the plain scan, 4047 rows, station in the last row");
}

}  // namespace

BENCHMARK(alert_registered)
    ->ArgsProduct({{1, 100, STATION_CAPACITY}, {0, 1, 2}})
    ->ArgNames({"rows", "where"});
BENCHMARK(learn_known)->Arg(1)->Arg(STATION_CAPACITY)->ArgName("rows");
BENCHMARK(replay)->Unit(benchmark::kMillisecond);
BENCHMARK(plain_scan_reference);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    char work[] = "/tmp/quorvale_bench.XXXXXX";
    char saved_cwd[PATH_MAX];
    if (mkdtemp(work) == nullptr || getcwd(saved_cwd, sizeof saved_cwd) == nullptr ||
        chdir(work) != 0) {
        perror("bench: temporary working directory");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    int status = chdir(saved_cwd) == 0 ? 0 : 1;
    std::error_code error;
    std::filesystem::remove_all(work, error);
    return error ? 1 : status;
}
