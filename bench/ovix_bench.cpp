// Reassembly of ovix records from receives of the size a batching receive gets.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "ovix/wire.h"

using namespace velmora::ovix;

static void BM_FrameStream(benchmark::State& state) {
    const std::size_t frame = static_cast<std::size_t>(state.range(0));
    std::vector<std::uint8_t> stream;
    while (stream.size() + kLengthSize + frame <= 1 << 20) {
        const std::size_t at = stream.size();
        stream.resize(at + kLengthSize + frame, 0x5A);
        put_length(stream.data() + at, frame);
    }
    const std::size_t frames_per_pass = stream.size() / (kLengthSize + frame);
    FrameStream frames;
    for (auto _ : state) {
        std::size_t fed = 0;
        while (fed < stream.size()) {
            std::size_t room = 0;
            std::uint8_t* space = frames.space(&room);
            const std::size_t n = std::min<std::size_t>({room, 65536, stream.size() - fed});
            std::memcpy(space, stream.data() + fed, n);
            frames.commit(n);
            fed += n;
            const std::uint8_t* f;
            std::size_t length;
            while (frames.next(&f, &length)) {
                benchmark::DoNotOptimize(f);
            }
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * frames_per_pass));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_FrameStream)->Arg(60)->Arg(1514)->Arg(9000);
BENCHMARK_MAIN();
