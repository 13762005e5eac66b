// Nanoseconds per byte through the framers over a 1 MiB stream such as a receiver sends:
// both framers together byte by byte, through the receive loop's pump, and each alone.
#include <benchmark/benchmark.h>

#include "proto/Crlfproto.h"
#include "proto/Diagproto.h"
#include "proto/Receivepump.h"
#include "support/MixedStream.h"

namespace {

const testsupport::MixedStream& Stream() {
    static const testsupport::MixedStream stream = [] {
        testsupport::MixedStreamOptions options;
        options.randomStart = 2026;
        options.targetBytes = 1 << 20;
        options.maxPayload = 300;  // the receiver's own frames are a few hundred bytes at most
        options.frameShare = 0.1;
        return testsupport::MakeMixedStream(options);
    }();
    return stream;
}

// Adds "ns_per_byte": elapsed time divided by the bytes framed (printed as a time).
void ReportPerByte(benchmark::State& state, size_t bytes) {
    const double framed = static_cast<double>(state.iterations()) * static_cast<double>(bytes);
    state.SetBytesProcessed(static_cast<int64_t>(framed));
    state.counters["ns_per_byte"] =
        benchmark::Counter(framed, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_BothFramers(benchmark::State& state) {
    const auto& bytes = Stream().bytes;
    DiagProto diag;
    CRLFProto crlf;
    size_t messages = 0;
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
        for (uint8_t b : bytes) {
            const bool frameDone = diag.ProcessByte(b);
            messages += frameDone;
            messages += crlf.ProcessByte(b);
            if (frameDone) {
                crlf.Reset();
            }
        }
        benchmark::DoNotOptimize(messages);
    }
    ReportPerByte(state, bytes.size());
}

// The receive loop's pump: the same work in reads of 1024 bytes, quiet runs in bulk.
void BM_ReceivePump(benchmark::State& state) {
    const auto& bytes = Stream().bytes;
    DiagProto diag;
    CRLFProto crlf;
    size_t messages = 0;
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
        for (size_t at = 0; at < bytes.size(); at += 1024) {
            feed_received_bytes(
                diag, crlf, bytes.data() + at, std::min<size_t>(1024, bytes.size() - at),
                [&](const DiagProto&) { ++messages; }, [&](const CRLFProto&) { ++messages; });
        }
        benchmark::DoNotOptimize(messages);
    }
    ReportPerByte(state, bytes.size());
}

void BM_DiagProto(benchmark::State& state) {
    const auto& bytes = Stream().bytes;
    DiagProto diag;
    size_t frames = 0;
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
        for (uint8_t b : bytes) {
            frames += diag.ProcessByte(b);
        }
        benchmark::DoNotOptimize(frames);
    }
    ReportPerByte(state, bytes.size());
}

void BM_CRLFProto(benchmark::State& state) {
    const auto& bytes = Stream().bytes;
    CRLFProto crlf;
    size_t lines = 0;
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
        for (uint8_t b : bytes) {
            lines += crlf.ProcessByte(b);
        }
        benchmark::DoNotOptimize(lines);
    }
    ReportPerByte(state, bytes.size());
}

// Through the base class, as a caller holding SerialProto pointers would feed them.
void BM_BothFramersVirtual(benchmark::State& state) {
    const auto& bytes = Stream().bytes;
    DiagProto diagObject;
    CRLFProto crlfObject;
    SerialProto* diag = &diagObject;
    SerialProto* crlf = &crlfObject;
    benchmark::DoNotOptimize(diag);
    benchmark::DoNotOptimize(crlf);
    size_t messages = 0;
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
        for (uint8_t b : bytes) {
            messages += diag->ProcessByte(b);
            messages += crlf->ProcessByte(b);
        }
        benchmark::DoNotOptimize(messages);
    }
    ReportPerByte(state, bytes.size());
}

}  // namespace

BENCHMARK(BM_BothFramers)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceivePump)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BothFramersVirtual)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DiagProto)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CRLFProto)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
