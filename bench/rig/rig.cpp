// The timing rig's one program: it records what a sink plays, tied to the monotonic clock,
// judges the clicks in a recording, drives the program's window as a user would, starts a
// bare stream the quickest way, and writes regular click tracks. bench/rig/rig.sh runs it.

#include "bench/rig/rig.h"

#include <time.h>

#include <cstdio>
#include <exception>
#include <utility>

#include "bench/rig/recording.h"

namespace vindelor::rig {

Args::Args(const std::vector<std::string>& words) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (!words[i].starts_with("--")) {
            plain_.push_back(words[i]);
        } else if (i + 1 < words.size()) {
            options_[words[i]] = words[i + 1];
            ++i;
        } else {
            throw UsageError(words[i] + " wants a value");
        }
    }
}

std::optional<std::string> Args::option(const std::string& name) {
    const auto found = options_.find(name);
    return found == options_.end() ? std::nullopt
                                   : std::optional(options_.extract(found).mapped());
}

std::string Args::required(const std::string& name) {
    std::optional<std::string> value = option(name);
    return value ? *value : throw UsageError(name + " is needed");
}

double Args::number(const std::string& name, double fallback) {
    const std::optional<std::string> value = option(name);
    char* end = nullptr;
    const double parsed = value ? std::strtod(value->c_str(), &end) : fallback;
    if (value && (value->empty() || *end != '\0')) {
        throw UsageError(name + " wants a number, not \"" + *value + "\"");
    }
    return parsed;
}

void Args::finish() const {
    if (!options_.empty() || !plain_.empty()) {
        throw UsageError("what is \"" +
                         (options_.empty() ? plain_.front() : options_.begin()->first) + "\"?");
    }
}

std::int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void sleepUntilNs(std::int64_t ns) {
    const timespec at{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) != 0) {
    }
}

namespace {

int now(Args& args) {
    args.finish();
    std::printf("%lld\n", static_cast<long long>(monotonicNs()));
    return 0;
}

int clickTrack(Args& args) {
    const std::string out = args.required("--out");
    const std::string pattern = args.option("--pattern").value_or("Annn");
    const ClickTrackSettings settings{.bpm = static_cast<int>(args.number("--bpm", 120)),
                                      .pattern = pattern,
                                      .seconds = args.number("--seconds", 10),
                                      .leadInSeconds = args.number("--lead-in", 0.2)};
    args.finish();
    writeMonoWav(out, makeClickTrack(settings), settings.sampleRate);
    return 0;
}

struct Command {
    const char* name;
    int (*run)(Args&);
    const char* usage;
};

const Command kCommands[] = {
    {"now", now, "                      the monotonic clock, in ns"},
    {"record", record,
     "--server pulseaudio|pipewire --sink NAME --wav FILE --log FILE [--latency FRAMES]"},
    {"analyse", analyse, "--wav FILE --timing FILE --bpm N [--presses FILE] [--grid NS] [--frames FILE]"},
    {"drive", drive,
     "use-devices | wait-window TITLE SECONDS | focus TITLE\n"
     "          | click TITLE X Y [--at NS] | keys TITLE KEY... [--at NS]"},
    {"probe", probe, "[--starts N] [--gap-ms MS] [--latency-ms MS]"},
    {"click-track", clickTrack,
     "--out FILE [--bpm N] [--seconds S] [--pattern Annn] [--lead-in S]"},
};

}  // namespace
}  // namespace vindelor::rig

int main(int argc, char** argv) {
    using namespace vindelor::rig;
    const std::string name = argc > 1 ? argv[1] : "";
    for (const Command& command : kCommands) {
        if (name == command.name) {
            try {
                Args args({argv + 2, argv + argc});
                return command.run(args);
            } catch (const UsageError& error) {
                std::fprintf(stderr, "rig %s: %s\nusage: rig %s %s\n", command.name, error.what(),
                             command.name, command.usage);
                return 2;
            } catch (const std::exception& error) {
                std::fprintf(stderr, "rig %s: %s\n", command.name, error.what());
                return 1;
            }
        }
    }
    for (const Command& command : kCommands) {
        std::fprintf(stderr, "%s rig %s %s\n", &command == kCommands ? "usage:" : "      ",
                     command.name, command.usage);
    }
    return 2;
}
