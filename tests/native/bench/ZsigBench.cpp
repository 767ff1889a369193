// Speed of the signature core against libgcrypt, measured in one run on
// this machine: GOST R 34.11-94 throughput and one GOST R 34.10-2001
// verification. Prints Google Benchmark's table, then the ratios.
//
//   make bench      (or build/native/tests/native/bench/zsig_bench)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "signature/GostSign.h"
#include "signature/Gostr3410.h"
#include "signature/Gostr3411.h"
#include "tests/native/GcryptHelpers.h"

using namespace zsig;
using namespace zev::test;

namespace {

constexpr size_t kHashSize = 1 << 20;

const std::vector<uint8_t>& Message() {
    static const std::vector<uint8_t> data = [] {
        std::vector<uint8_t> d(kHashSize);
        for (size_t i = 0; i < d.size(); ++i)
            d[i] = uint8_t(i * 131 + (i >> 8));
        return d;
    }();
    return data;
}

void HashOurs(benchmark::State& state) {
    uint8_t digest[32];
    for (auto _ : state) {
        Gostr3411::Digest(Message().data(), kHashSize, digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kHashSize));
}

void HashGcrypt(benchmark::State& state) {
    uint8_t digest[32];
    for (auto _ : state) {
        GcryptDigest(Message().data(), kHashSize, digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kHashSize));
}

// One key pair and one signature shared by both verifiers.
struct Fixture {
    AffinePoint q;
    U256 e, r, s;
    Fixture() {
        const Curve& curve = DefaultCurveContext();
        U256 d, k;
        RandomScalar(curve, d);
        q = DerivePublicKey(curve, d);
        uint8_t digest[32];
        Gostr3411::Digest("benchmark", 9, digest);
        e = curve.MessageNumber(digest);
        do
            RandomScalar(curve, k);
        while (!SignRaw(curve, d, e, k, r, s));
    }
};
const Fixture& Sig() {
    static const Fixture f;
    return f;
}

void VerifyOurs(benchmark::State& state) {
    const Curve& curve = DefaultCurveContext();
    const Fixture& f = Sig();
    for (auto _ : state) {
        if (!curve.VerifyRaw(f.q, f.e, f.r, f.s))
            state.SkipWithError("verification failed");
    }
}

void VerifyGcrypt(benchmark::State& state) {
    const Fixture& f = Sig();
    gcry_sexp_t key = GcryptPublicKey(f.q), data = GcryptData(f.e), sig = GcryptSignature(f.r, f.s);
    for (auto _ : state) {
        if (gcry_pk_verify(sig, data, key) != 0)
            state.SkipWithError("verification failed");
    }
    gcry_sexp_release(sig);
    gcry_sexp_release(data);
    gcry_sexp_release(key);
}

BENCHMARK(HashOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(HashGcrypt)->Unit(benchmark::kMillisecond);
BENCHMARK(VerifyOurs)->Unit(benchmark::kMicrosecond);
BENCHMARK(VerifyGcrypt)->Unit(benchmark::kMicrosecond);

// Keeps every run's CPU time for the ratios (the wall clock of a shared
// machine is noisier).
class Collector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            m_seconds[r.benchmark_name()] = r.GetAdjustedCPUTime() / 1e9 *
                                            (r.time_unit == benchmark::kMillisecond   ? 1e6
                                             : r.time_unit == benchmark::kMicrosecond ? 1e3
                                                                                      : 1.0);
        ConsoleReporter::ReportRuns(runs);
    }
    double Seconds(const std::string& name) const {
        const auto it = m_seconds.find(name);
        return it == m_seconds.end() ? 0 : it->second;
    }

private:
    std::map<std::string, double> m_seconds;
};

} // namespace

int main(int argc, char** argv) {
    InitGcrypt();
    benchmark::Initialize(&argc, argv);
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    const double hashOurs = collector.Seconds("HashOurs"),
                 hashTheirs = collector.Seconds("HashGcrypt");
    const double verOurs = collector.Seconds("VerifyOurs"),
                 verTheirs = collector.Seconds("VerifyGcrypt");
    if (hashOurs > 0 && hashTheirs > 0)
        std::printf("GOST R 34.11-94 throughput: ours %.1f MB/s, libgcrypt %.1f MB/s, ratio %.2fx "
                    "(goal >= 1.3x, floor 1.0x)\n",
                    kHashSize / hashOurs / 1e6, kHashSize / hashTheirs / 1e6,
                    hashTheirs / hashOurs);
    if (verOurs > 0 && verTheirs > 0)
        std::printf("GOST R 34.10-2001 verification: ours %.0f us, libgcrypt %.0f us, speed ratio "
                    "%.2fx (floor 1.0x)\n",
                    verOurs * 1e6, verTheirs * 1e6, verTheirs / verOurs);
    benchmark::Shutdown();
    return 0;
}
