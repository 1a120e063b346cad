// Finds the clicks in a recording and reports, as key=value lines, how steady they were and
// when they sounded against the presses that started and stopped them.
//
//   rig analyse --wav rec.wav --timing rec.timing --bpm 120 [--presses FILE] [--grid NS]
//               [--frames FILE] [--bare FILE]
//
// FILE holds one line per run, "start_ns [stop_ns [bpm]]": the CLOCK_MONOTONIC times at which
// Start and Stop reached the X server, and the run's tempo if not --bpm. Intervals are
// measured within each run, in the recording's own samples (the sink's clock); the program's
// clicks after a Stop are counted and kept out of them. Reference clicks ('R', the rig's own
// regular track) are measured apart: a machine that holds the sink back moves them too.
//
// A PulseAudio sink plays a run's first click at once by rewinding: it mixes again what it
// had already mixed ahead. Its monitor cannot show that: it hands out what it had before the
// rewind, and the first click comes out without its start. Such a click is dated back by what
// is missing of it. For the same reason a click taken back at Stop may show as a fragment,
// which is not counted as a click after Stop.
//
// With --grid NS, how far the program's clicks lie from the grid of beats through NS at the
// first run's tempo (grid_worst_ms): a run that goes on over a lost server keeps its grid. With
// --frames too, only up to where the server moved the stream, if it did.
//
// With --bare FILE, the times (one per line) at which a bare stream was started between the
// runs, the quickest start the chain allows (`rig probe`): its clicks are kept apart, and each
// run's start is also told against the bare start just before it (start_over_bare_ms). The
// two share the recording's time map and the sink's state at that moment, which a figure
// taken apart does not: on PulseAudio the map may stray by milliseconds from one stretch of
// a recording to the next.
//
// Clicks cut short by time the recorder missed (it wrote silence there) are mended, and
// counted (cut_by_recorder): they say nothing of the sound.
//
// With --frames FILE, the program's own log of where it wrote each click (VINDELOR_FRAME_LOG):
// whether every click went on its run's grid to the frame (written_off_grid, a fault of
// ours), and how far what the sink played strays from what was written
// (played_vs_written_worst_samples, the server's), with the clicks heard that were never
// written.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <ranges>
#include <sstream>
#include <string>
#include <vector>

#include "bench/rig/recording.h"
#include "bench/rig/rig.h"
#include "bench/rig/time_map.h"

namespace vindelor::rig {
namespace {

constexpr double kNever = std::numeric_limits<double>::infinity();
// Half the shortest clip, the normal click's 34 ms: anything shorter is a part of one.
constexpr double kShortestClickMs = 17;

std::ifstream openToRead(const std::string& path) {
    std::ifstream file(path);
    return file ? std::move(file) : throw std::runtime_error("cannot read " + path);
}

// The recorder's "# missed frame count" lines.
std::vector<MissedSpan> readMissedSpans(const std::string& path) {
    std::ifstream file = openToRead(path);
    std::vector<MissedSpan> spans;
    for (std::string line; std::getline(file, line);) {
        std::istringstream fields(line);
        std::string mark;
        std::string word;
        double from = 0;
        double count = 0;
        if (fields >> mark >> word >> from >> count && mark == "#" && word == "missed") {
            spans.push_back({from, from + count});
        }
    }
    return spans;
}

struct Run {
    double startNs = -kNever;
    double stopNs = kNever;
    int bpm = 0;
};

std::vector<Run> readRuns(const std::string& path, int bpm) {
    if (path.empty()) {
        return {Run{.bpm = bpm}};
    }
    std::ifstream file = openToRead(path);
    std::vector<Run> runs;
    for (std::string line; std::getline(file, line);) {
        std::istringstream fields(line);
        long long start = 0;
        long long stop = 0;
        if (fields >> start) {
            Run& run = runs.emplace_back(Run{static_cast<double>(start), kNever, bpm});
            if (fields >> stop && stop > 0) {
                run.stopNs = static_cast<double>(stop);
            }
            fields >> run.bpm;
        }
    }
    return runs;
}

// "least / median / most", or the one value.
std::string spread(std::vector<double> values) {
    std::ranges::sort(values);
    char text[64];
    if (values.size() == 1) {
        std::snprintf(text, sizeof text, "%.2f", values.front());
    } else {
        std::snprintf(text, sizeof text, "%.1f / %.1f / %.1f", values.front(),
                      values[values.size() / 2], values.back());
    }
    return text;
}

double median(std::vector<double> values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::ranges::nth_element(values, middle);
    return *middle;
}

// Each clip reaches the onset level at its own distance from its first sample: the offset of
// `kind` against the normal click. Beat k of a steady run sits llround(k * nominal) samples
// after the first; what an onset lies beyond that is the offset of its kind (plus the first
// click's). The median keeps a stray click from moving it.
double offsetAgainstNormal(const std::vector<DetectedClick>& clicks, ClickKind kind,
                           double nominal) {
    std::map<ClickKind, std::vector<double>> residuals;
    for (std::size_t k = 0; k < clicks.size(); ++k) {
        residuals[clicks[k].kind].push_back(clicks[k].onset - clicks[0].onset -
                                            std::round(static_cast<double>(k) * nominal));
    }
    return residuals[kind].empty() || residuals[ClickKind::normal].empty()
               ? 0
               : median(residuals[kind]) - median(residuals[ClickKind::normal]);
}

// How steady a run at one tempo was: the worst deviation of an interval from the nominal,
// whole, in samples, and the span from first to last click.
struct Steadiness {
    int intervals = 0;
    double spanSamples = 0;
    double worstSamples = 0;
};
Steadiness steadiness(const std::vector<DetectedClick>& clicks, int bpm, double rate) {
    Steadiness result;
    if (clicks.size() < 2) {
        return result;
    }
    const double nominal = rate * 60 / bpm;
    const double accentOffset = offsetAgainstNormal(clicks, ClickKind::accent, nominal);
    std::vector<double> starts;
    for (const DetectedClick& click : clicks) {
        starts.push_back(click.onset - (click.kind == ClickKind::accent ? accentOffset : 0));
    }
    result.intervals = static_cast<int>(starts.size()) - 1;
    result.spanSamples = starts.back() - starts.front();
    for (std::size_t k = 1; k < starts.size(); ++k) {
        result.worstSamples = std::max(result.worstSamples,
                                       std::abs(starts[k] - starts[k - 1] - std::round(nominal)));
    }
    return result;
}

// "(Annn)x15+An" for a pattern that repeats, once a bar has come round twice; a short one as
// it is; a long one that does not repeat, its beginning and "irregular".
std::string summarizePattern(const std::string& kinds) {
    constexpr std::size_t kLongestBar = 8;
    for (std::size_t period = 1; period <= kLongestBar && 2 * period <= kinds.size(); ++period) {
        bool repeats = true;
        for (std::size_t i = period; i < kinds.size() && repeats; ++i) {
            repeats = kinds[i] == kinds[i - period];
        }
        if (repeats) {
            const std::size_t whole = kinds.size() / period;
            std::string summary = "(";
            summary.append(kinds, 0, period).append(")x").append(std::to_string(whole));
            if (kinds.size() % period != 0) {
                summary.append("+").append(kinds, whole * period);
            }
            return summary;
        }
    }
    return kinds.empty()                    ? "-"
           : kinds.size() < 2 * kLongestBar ? kinds
                                            : kinds.substr(0, 12) + "... irregular";
}

// A run's first click recorded without its start is the rest of an accent: dated back by what
// it lacks against the whole accents of the recording.
void restoreStart(DetectedClick& first, const std::vector<DetectedClick>& all, double rate) {
    std::vector<double> whole;
    for (const DetectedClick& click : all) {
        if (click.kind == ClickKind::accent) {
            whole.push_back(click.lengthMs);
        }
    }
    const double wholeMs = whole.empty() ? clipLengthMs(ClickKind::accent) : median(whole);
    if (std::abs(first.pitchHz - 902) > 0.035 * 902 || first.lengthMs > wholeMs - 0.5) {
        return;  // whole, or not an accent's
    }
    first.onset -= (wholeMs - first.lengthMs) * rate / 1000;
    first.lengthMs = wholeMs;
    first.kind = ClickKind::accent;
}

struct Written {
    char kind;
    unsigned stream;
    long long frame;
    long long dueNs;
    long long atNs;
};

std::vector<Written> readFrameLog(const std::string& path) {
    std::ifstream file = openToRead(path);
    std::vector<Written> log;
    for (std::string line; std::getline(file, line);) {
        std::istringstream fields(line);
        Written w{};
        if (line.front() != '#' && fields >> w.kind >> w.stream >> w.frame >> w.dueNs >> w.atNs) {
            log.push_back(w);
        }
    }
    return log;
}

// Ours: a click off its run's grid. Each click of a stream lies its beat's distance in time
// from the click the grid hangs from ('a'), rounded once.
void judgeWrittenClicks(const std::vector<Written>& log, double rate) {
    int offGrid = 0;
    const Written* anchor = nullptr;
    for (const Written& w : log) {
        if (w.kind == 'a' || (anchor != nullptr && anchor->stream != w.stream)) {
            anchor = w.kind == 'a' ? &w : nullptr;
        } else if (w.kind == 'c' && anchor != nullptr) {
            offGrid += w.frame - anchor->frame !=
                       std::llround(static_cast<double>(w.dueNs - anchor->dueNs) * rate / 1e9);
        }
    }
    std::printf("written_off_grid=%d\n", offGrid);
}

// The server's: what the sink played against what was written. Within a run a click written
// at frame F sounds at sample F + d of the recording (a corked stream stops between runs),
// one d until the server moves the stream: the moves are told apart (server_moved). A click
// sounds after it was written and no later than the longest lead after, which keeps runs of
// one pattern apart. A run's first click is paired but not placed. Returns the onset of the
// first click heard after a move, or infinity.
double judgePlayedClicks(const std::vector<Written>& log, const std::vector<DetectedClick>& heard,
                         const std::function<double(const DetectedClick&)>& heardNs, double rate) {
    std::vector<std::vector<const Written*>> runs;  // the clicks that sound, run by run
    for (const Written& w : log) {
        if (w.kind == 'a') {
            runs.emplace_back();
        }
        if (w.kind == 'w' && !runs.empty()) {
            std::erase_if(runs.back(), [&](const Written* c) { return c->frame >= w.frame; });
        } else if (w.kind != 'w' && !runs.empty() &&
                   (runs.back().empty() || runs.back().front()->stream == w.stream)) {
            runs.back().push_back(&w);
        }
    }
    // A click's onset lies after its clip's start by what its measured length lacks.
    const auto match = [&](const Written* c, double d) {
        return std::ranges::find_if(heard, [&](const DetectedClick& h) {
            const double lacks = std::max(0.0, clipLengthMs(h.kind) - h.lengthMs) * rate / 1000;
            const double late = heardNs(h) - static_cast<double>(c->atNs);
            return h.onset > c->frame + d - 8 && h.onset < c->frame + d + 8 + lacks &&
                   late > -20e6 && late < 600e6;
        });
    };
    // The d, later than `after`, that pairs run[i] and the most clicks after it; NaN unless it
    // pairs two (or the one left).
    const auto segmentFrom = [&](const std::vector<const Written*>& run, std::size_t i,
                                 double after) {
        double best = std::nan("");
        long bestPairs = 0;
        for (const DetectedClick& h : heard) {
            const double d = h.onset - run[i]->frame;
            if (d <= after || match(run[i], d) == heard.end()) {
                continue;
            }
            const long n =
                std::count_if(run.begin() + static_cast<std::ptrdiff_t>(i), run.end(),
                              [&](const Written* w) { return match(w, d) != heard.end(); });
            if (n > bestPairs) {
                best = d;
                bestPairs = n;
            }
        }
        return bestPairs >= std::min<long>(2, std::ssize(run) - static_cast<long>(i))
                   ? best
                   : std::nan("");
    };
    std::vector<bool> paired(heard.size());
    std::map<ClickKind, std::vector<double>> residuals;
    std::vector<double> moves;
    double movedFrom = kNever;
    for (const std::vector<const Written*>& run : runs) {
        // The server may move the whole stream later within a run (cycles it missed): the
        // clicks after sound where they were written, d larger. The first click is placed by
        // the second's d: its onset is dated back.
        double d = run.size() > 1 ? segmentFrom(run, 1, -kNever) : std::nan("");
        for (std::size_t i = 0; i < run.size() && !std::isnan(d); ++i) {
            auto h = match(run[i], d);
            if (h == heard.end() && i > 0) {
                if (const double later = segmentFrom(run, i, d); !std::isnan(later)) {
                    moves.push_back(later - d);
                    d = later;
                    h = match(run[i], d);
                    movedFrom = std::min(movedFrom, run[i]->frame + d);
                }
            }
            if (h != heard.end()) {
                paired[static_cast<std::size_t>(h - heard.begin())] = true;
                if (i > 0) {
                    residuals[h->kind].push_back(h->onset - run[i]->frame - d);
                }
            }
        }
    }
    double worst = 0;
    for (auto& [kind, values] : residuals) {
        const double middle = median(values);
        for (const double r : values) {
            worst = std::max(worst, std::abs(r - middle));
        }
    }
    std::printf("played_vs_written_worst_samples=%.3f\nheard_not_written=%zd\nserver_moved=%zu\n",
                worst, std::ranges::count(paired, false), moves.size());
    for (std::size_t k = 0; k < moves.size(); ++k) {
        std::printf(k == 0 ? "server_moved_samples=%.0f" : ",%.0f", moves[k]);
    }
    std::printf(moves.empty() ? "" : "\n");
    return movedFrom;
}

}  // namespace

int analyse(Args& args) {
    const std::string wavPath = args.required("--wav");
    const std::string timingPath = args.required("--timing");
    const int bpm = static_cast<int>(args.number("--bpm", 0));
    const std::string pressesPath = args.option("--presses").value_or("");
    const std::string framesPath = args.option("--frames").value_or("");
    const std::string barePath = args.option("--bare").value_or("");
    const double gridNs = args.number("--grid", std::nan(""));
    args.finish();
    if (bpm <= 0) {
        throw UsageError("--bpm wants a tempo");
    }
    const MonoRecording recording = readMonoRecording(wavPath);
    const double rate = recording.sampleRate;
    std::ifstream log = openToRead(timingPath);
    const TimeMap timeMap = TimeMap::fromLog(log, rate);
    const auto at = [&](const DetectedClick& click) {
        return timeMap.monotonicNsAt(click.onset).value_or(std::nan(""));
    };
    const ClickDetectorSettings settings{.sampleRate = rate};
    std::vector<DetectedClick> detected = detectClicks(recording.samples, settings);
    if (const std::vector<MissedSpan> missed = readMissedSpans(timingPath); !missed.empty()) {
        const int mended = mendCutClicks(detected, missed, settings);
        std::printf("recorder_missed=%zu\ncut_by_recorder=%d\n", missed.size(), mended);
    }

    std::vector<DetectedClick> program;
    std::vector<DetectedClick> reference;
    for (const DetectedClick& click : detected) {
        // One that sounded as the recording began may be only its end; one still sounding as
        // it ended, only its beginning.
        if (click.onset < 0.005 * rate ||
            static_cast<double>(recording.samples.size() - click.end) <=
                settings.gapMs * rate / 1000) {
            continue;
        }
        if (click.kind == ClickKind::reference) {
            reference.push_back(click);
        } else if (click.kind != ClickKind::referencePart) {
            program.push_back(click);
        }
    }

    // A bare stream's click is the first within 200 ms of its start.
    std::vector<std::pair<double, double>> bareStarts;  // when, and its start latency
    for (const Run& bare : barePath.empty() ? std::vector<Run>{} : readRuns(barePath, bpm)) {
        const auto click = std::ranges::find_if(program, [&](const DetectedClick& c) {
            return at(c) > bare.startNs - 20e6 && at(c) < bare.startNs + 200e6;
        });
        if (click != program.end()) {
            restoreStart(*click, detected, rate);
            bareStarts.emplace_back(bare.startNs, (at(*click) - bare.startNs) / 1e6);
            program.erase(click);
        }
    }

    const std::vector<Run> runs = readRuns(pressesPath, bpm);
    std::string kinds;
    std::string runPatterns;
    int afterStop = 0;
    Steadiness all;
    std::vector<double> startLatencies;
    std::vector<double> overBare;
    std::vector<double> stopOffsets;
    double firstClickNs = std::nan("");
    double lastClickNs = std::nan("");
    std::vector<DetectedClick> heard;  // the program's, in the runs, as judged
    for (std::size_t r = 0; r < runs.size(); ++r) {
        const Run& run = runs[r];
        const double nextStart = r + 1 < runs.size() ? runs[r + 1].startNs : kNever;
        const double stop = run.stopNs < kNever ? run.stopNs : nextStart;
        std::vector<DetectedClick> running;
        for (const DetectedClick& click : program) {
            // A click up to 20 ms before the press would be the map's error, not sound.
            if (at(click) < run.startNs - 20e6 || at(click) >= nextStart - 20e6) {
                continue;
            }
            if (at(click) > stop) {
                afterStop += click.lengthMs >= kShortestClickMs;  // not a fragment taken back
            } else {
                running.push_back(click);
            }
        }
        if (!running.empty()) {
            restoreStart(running.front(), detected, rate);
            if (run.startNs > -kNever) {
                startLatencies.push_back((at(running.front()) - run.startNs) / 1e6);
                // Against the bare start just before it, if it came within 3 s.
                for (auto bare = bareStarts.rbegin(); bare != bareStarts.rend(); ++bare) {
                    if (bare->first < run.startNs) {
                        if (run.startNs - bare->first < 3e9) {
                            overBare.push_back(startLatencies.back() - bare->second);
                        }
                        break;
                    }
                }
            }
            if (run.stopNs < kNever) {
                stopOffsets.push_back((at(running.back()) + 60e9 / run.bpm - run.stopNs) / 1e6);
            }
            firstClickNs = std::isnan(firstClickNs) ? at(running.front()) : firstClickNs;
            lastClickNs = at(running.back());
            heard.insert(heard.end(), running.begin(), running.end());
        }
        runPatterns += r == 0 ? "" : ",";
        for (const DetectedClick& click : running) {
            kinds += static_cast<char>(click.kind);
            runPatterns += static_cast<char>(click.kind);
        }
        const Steadiness steady = steadiness(running, run.bpm, rate);
        all.intervals += steady.intervals;
        all.spanSamples += steady.spanSamples;
        all.worstSamples = std::max(all.worstSamples, steady.worstSamples);
    }

    std::printf("clicks=%zu\n", kinds.size());
    std::printf("pattern=%s\npattern_summary=%s\npattern_runs=%s\n", kinds.c_str(),
                summarizePattern(kinds).c_str(), runPatterns.c_str());
    if (all.intervals > 0) {
        std::printf("mean_interval_ms=%.6f\n", all.spanSamples / all.intervals * 1000 / rate);
        std::printf("worst_deviation_samples=%.3f\nworst_deviation_ms=%.4f\n", all.worstSamples,
                    all.worstSamples * 1000 / rate);
    }
    if (!startLatencies.empty()) {
        std::printf("start_latency_ms=%s\n", spread(startLatencies).c_str());
    }
    if (!bareStarts.empty()) {
        std::vector<double> bare;
        for (const auto& start : bareStarts) {
            bare.push_back(start.second);
        }
        std::printf("bare_clicks=%zu\nbare_start_latency_ms=%s\n", bare.size(),
                    spread(bare).c_str());
    }
    if (!overBare.empty()) {
        std::printf("start_over_bare_ms=%s\n", spread(overBare).c_str());
    }
    if (!stopOffsets.empty()) {
        std::printf("stop_before_beat_ms=");
        for (std::size_t k = 0; k < stopOffsets.size(); ++k) {
            std::printf(k == 0 ? "%.2f" : ",%.2f", stopOffsets[k]);
        }
        std::printf("\n");
    }
    if (!pressesPath.empty()) {
        std::printf("clicks_after_stop=%d\n", afterStop);
    }
    if (!std::isnan(lastClickNs)) {
        std::printf("first_click_ns=%.0f\nlast_click_ns=%.0f\n", firstClickNs, lastClickNs);
    }
    double movedFrom = kNever;
    if (!framesPath.empty()) {
        const std::vector<Written> log = readFrameLog(framesPath);
        judgeWrittenClicks(log, rate);
        movedFrom = judgePlayedClicks(log, heard, at, rate);
    }
    // Up to where the server moved the stream, if it did: the clicks after lie where it put them.
    if (!std::isnan(gridNs) && !heard.empty()) {
        double gridWorstMs = 0;
        for (const DetectedClick& click : heard) {
            if (click.onset < movedFrom - 8) {
                const double off = std::remainder(at(click) - gridNs, 60e9 / runs.front().bpm);
                gridWorstMs = std::max(gridWorstMs, std::abs(off) / 1e6);
            }
        }
        std::printf("grid_worst_ms=%.3f\n", gridWorstMs);
    }
    std::printf("reference_clicks=%zu\n", reference.size());
    if (reference.size() >= 2) {
        std::printf("reference_worst_deviation_samples=%.3f\n",
                    steadiness(reference, bpm, rate).worstSamples);
    }
    return 0;
}

}  // namespace vindelor::rig
