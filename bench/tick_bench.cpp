// What one beat costs on the window's thread, and what preparing a clip costs once.
// Run: build/bench/tick_bench (with a sound server reachable, the real output is measured too).
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "engine/beat_engine.h"
#include "resources/embedded_resources.h"
#include "sound/click_sound_bank.h"
#include "sound/click_track.h"
#include "sound/clip_decoder.h"
#include "sound/pulse_click_output.h"

namespace vindelor {
namespace {

using namespace std::chrono_literals;

class NoInput final : public InputPump {
  public:
    bool isInputWaiting() override { return false; }
    void processPendingEvents() override {}
};

// Beats 500 ms apart, as at 120 BPM.
class SteppingTiming final : public BeatTiming {
  public:
    std::chrono::nanoseconds dueOfCurrentBeat() const override { return due; }
    bool currentBeatStartsRun() const override { return beat == 0; }
    void next() {
        ++beat;
        due += 500ms;
    }
    std::int64_t beat = 0;
    std::chrono::nanoseconds due{0};
};

class RealTimeTiming final : public BeatTiming {
  public:
    std::chrono::nanoseconds dueOfCurrentBeat() const override { return due; }
    bool currentBeatStartsRun() const override { return first; }
    std::chrono::nanoseconds due{0};
    bool first = true;
};

// The output's own work without a server: the click's place in the stream and the copy of
// its samples into a stream buffer.
class MemoryOutput final : public ClickOutput {
  public:
    void prepare(ClickClip clip, std::span<const std::uint8_t> image) override {
        clips[static_cast<std::size_t>(resourceIdOf(clip) - 101)] = decodeClip(image, 48000);
    }
    void play(ClickClip clip, std::chrono::nanoseconds due, bool startsRun) override {
        const ClipSamples& samples = clips[static_cast<std::size_t>(resourceIdOf(clip) - 101)];
        const auto length = static_cast<ClickTrack::Frames>(samples.size());
        if (startsRun) {
            track.anchor(due, 0, length);
        }
        const ClickTrack::Write write = track.place(track.frameOf(due), length, 0);
        const auto at = static_cast<std::size_t>(write.frame) % (stream.size() - samples.size());
        std::copy(samples.begin(), samples.end(), stream.begin() + static_cast<std::ptrdiff_t>(at));
    }
    void stop(std::chrono::nanoseconds) override {}

    std::array<ClipSamples, 3> clips;
    ClickTrack track{48000};
    std::vector<std::int16_t> stream = std::vector<std::int16_t>(48000);
};

// The engine and the bank on an output, wired as the window wires them, in "4 / 4".
struct BeatPath {
    BeatPath(ClickOutput& output, const BeatTiming& timing)
        : bank(window, output, timing), engine(window, bank, input) {
        bank.loadClickSounds(findEmbeddedResource);
        engine.selectMeter(1);
    }
    ClickerWindow window;
    NoInput input;
    ClickSoundBank bank;
    BeatEngine engine;
};

void BM_TickThroughEngineToThePlacedClick(benchmark::State& state) {
    MemoryOutput output;
    SteppingTiming timing;
    BeatPath path(output, timing);
    for (auto _ : state) {
        path.engine.onTick();
        timing.next();
    }
}

BENCHMARK(BM_TickThroughEngineToThePlacedClick);

// As the program hands beats over: each a little ahead of its due time on the real clock,
// into a stream that plays.
void BM_TickThroughEngineToASoundServer(benchmark::State& state) {
    PulseClickOutput output;
    for (int i = 0; i < 200 && !output.connected(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    if (!output.connected()) {
        state.SkipWithError("no sound server");
        return;
    }
    RealTimeTiming timing;
    BeatPath path(output, timing);
    for (auto _ : state) {
        state.PauseTiming();
        std::this_thread::sleep_for(20ms);
        timing.due = std::chrono::steady_clock::now().time_since_epoch() + 100ms;
        state.ResumeTiming();
        path.engine.onTick();
        timing.first = false;
    }
    output.stop(std::chrono::steady_clock::now().time_since_epoch());
}
BENCHMARK(BM_TickThroughEngineToASoundServer)->Iterations(200)->Unit(benchmark::kMicrosecond);

void BM_PrepareClip(benchmark::State& state) {
    const auto image = *findEmbeddedResource("VINDELOR", static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(decodeClip(image, 48000));
    }
}
BENCHMARK(BM_PrepareClip)->Arg(101)->Arg(102)->Arg(103)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vindelor

BENCHMARK_MAIN();
