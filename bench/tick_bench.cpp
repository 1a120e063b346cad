// What one beat costs on the window's thread, what it costs the whole process on a real
// sound server, and what preparing a clip costs once.
// Run: bash bench/rig/rig.sh --micro (on a private sound server, so that the real output is
// measured too), or build-bench/bench/tick_bench against the server PULSE_SERVER names.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <thread>

#include "engine/beat_engine.h"
#include "resources/embedded_resources.h"
#include "sound/click_sound_bank.h"
#include "sound/clip_decoder.h"
#include "sound/pulse_click_output.h"

namespace vindelor {
namespace {

using namespace std::chrono_literals;

// Context switches of all the process's threads so far.
long contextSwitches() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw + usage.ru_nivcsw;
}

class NoInput final : public InputPump {
  public:
    bool isInputWaiting() override { return false; }
    void processPendingEvents() override {}
};

class RealTimeTiming final : public BeatTiming {
  public:
    std::chrono::nanoseconds dueOfCurrentBeat() const override { return due; }
    bool currentBeatStartsRun() const override { return first; }
    std::chrono::nanoseconds now() const override { return due; }
    std::chrono::nanoseconds due{0};
    bool first = true;
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

// The beat's path into a real sound server's stream, beats timed on the real clock.
struct ServerBeatPath {
    // Whether the output reaches a sound server within two seconds; the benchmark is skipped
    // otherwise.
    bool connect(benchmark::State& state) {
        for (int i = 0; i < 200 && !output.connected(); ++i) {
            std::this_thread::sleep_for(10ms);
        }
        if (!output.connected()) {
            state.SkipWithError("no sound server");
            return false;
        }
        path.emplace(output, timing);
        return true;
    }
    PulseClickOutput output;
    RealTimeTiming timing;
    std::optional<BeatPath> path;
};

// How long a call keeps the calling thread, on the monotonic clock. The benchmark's own CPU
// clock is a system call per reading here, dearer than the calls measured with it.
template <typename Call>
void timeCall(benchmark::State& state, Call call) {
    const auto before = std::chrono::steady_clock::now();
    call();
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count());
}

// As the program hands beats over: at a steady pace, each a little ahead of its due time on
// the real clock, into a stream that plays. The run's first two beats wake the server's
// thread; from then on it looks for each beat by itself, as it does in the program.
void BM_TickThroughEngineToASoundServer(benchmark::State& state) {
    ServerBeatPath server;
    if (!server.connect(state)) {
        return;
    }
    auto& [output, timing, path] = server;
    for (auto _ : state) {
        std::this_thread::sleep_for(20ms);
        timing.due = std::chrono::steady_clock::now().time_since_epoch() + 100ms;
        timeCall(state, [&] { path->engine.onTick(); });
        timing.first = false;
    }
    output.stop(std::chrono::steady_clock::now().time_since_epoch());
}
BENCHMARK(BM_TickThroughEngineToASoundServer)
    ->Iterations(200)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// What a hand-off costs that wakes the sound thread, measured the same way: the price that
// a run's first beat, Stop and a beat the sound thread did not foresee still pay.
void BM_WakeASleepingThread(benchmark::State& state) {
    const int wake = eventfd(0, EFD_CLOEXEC);
    std::thread sleeper([wake] {
        for (std::uint64_t count = 0; count < (1u << 30);) {
            pollfd ready{wake, POLLIN, 0};
            poll(&ready, 1, -1);
            if (read(wake, &count, sizeof count) != sizeof count) {
                break;
            }
        }
    });
    std::uint64_t one = 1;
    for (auto _ : state) {
        std::this_thread::sleep_for(20ms);
        timeCall(state, [&] { benchmark::DoNotOptimize(write(wake, &one, sizeof one)); });
    }
    std::uint64_t last = 1u << 30;
    benchmark::DoNotOptimize(write(wake, &last, sizeof last));
    sleeper.join();
    close(wake);
}
BENCHMARK(BM_WakeASleepingThread)->Iterations(200)->UseManualTime()->Unit(benchmark::kMicrosecond);

// A run at 200 BPM as the program drives it, each beat handed over a lead before it is due:
// the CPU column is what one beat costs the whole process, the sound thread and the
// stream's refills included.
void BM_BeatAt200BpmToTheWholeProcess(benchmark::State& state) {
    ServerBeatPath server;
    if (!server.connect(state)) {
        return;
    }
    auto& [output, timing, path] = server;
    auto due = std::chrono::steady_clock::now();
    const long switchesBefore = contextSwitches();
    for (auto _ : state) {
        // The first beat sounds at once; the others are handed over a lead before they are due.
        if (!timing.first) {
            due += 300ms;
            std::this_thread::sleep_until(due - output.lead());
        }
        timing.due = due.time_since_epoch();
        path->engine.onTick();
        timing.first = false;
    }
    // Each time a thread of ours sleeps and is woken again: on a virtual machine, these
    // wake-ups are most of what a beat costs.
    state.counters["wake-ups"] =
        benchmark::Counter(static_cast<double>(contextSwitches() - switchesBefore),
                           benchmark::Counter::kAvgIterations);
    output.stop(std::chrono::steady_clock::now().time_since_epoch());
}
BENCHMARK(BM_BeatAt200BpmToTheWholeProcess)
    ->Iterations(100)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

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
