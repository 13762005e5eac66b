// Nanoseconds per sentence through the receiver status model (split, checksum, decode,
// history), for one receiver epoch of all six sentences such as the receive loop hands over:
// the price every line pays, whether the status window is open or not.
#include <benchmark/benchmark.h>

#include <string_view>

#include "config/Receiverstatus.h"

namespace {

constexpr std::string_view kEpoch[] = {
    "$GPGGA,140400.00,4807.03800,N,01131.00200,E,2,09,0.9,519.0,M,47.0,M,3.0,0120*4E\r\n",
    "$GPGSA,A,3,02,05,07,09,13,16,20,27,30,,,,1.6,0.9,1.3*36\r\n",
    "$GPVTG,97.7,T,,M,11.66,N,21.60,K,D*34\r\n",
    "$GPZDA,140400.00,08,12,2026,00,00*6A\r\n",
    "$GPRMC,140400.00,A,4807.03800,N,01131.00200,E,11.66,97.7,081226,,,D*6C\r\n",
    "$PNSNR,92,11.5,44.2,38.7,1*52\r\n",
};

void BM_ReceiverStatus(benchmark::State& state) {
    static ReceiverStatus status;  // large: kept off the stack
    int64_t ms = 0;
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
        ms += 200;
        for (std::string_view line : kEpoch) {
            status.TakeLine(line, ms);
        }
        benchmark::DoNotOptimize(status.Values());
    }
    const double sentences = static_cast<double>(state.iterations()) * static_cast<double>(std::size(kEpoch));
    state.counters["ns_per_sentence"] =
        benchmark::Counter(sentences, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["bad_checksums"] = static_cast<double>(status.ChecksumFailures());
}

}  // namespace

BENCHMARK(BM_ReceiverStatus);
BENCHMARK_MAIN();
