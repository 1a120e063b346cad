#pragma once

#include <QString>
#include <vector>

#include "sound/click_output.h"

namespace vindelor {

// Hears what the window asks of its sound output. heard() spells the clips played since the
// last clear(): A the accent, T the "3 / 4" accent, n the ordinary click.
class RecordingClickOutput final : public ClickOutput {
  public:
    struct Play {
        ClickClip clip;
        std::chrono::nanoseconds due;
        bool startsRun;
    };

    void prepare(ClickClip clip, std::span<const std::uint8_t> image) override {
        prepared.push_back({clip, image.size()});
    }
    void play(ClickClip clip, std::chrono::nanoseconds due, bool startsRun) override {
        plays.push_back({clip, due, startsRun});
    }
    void stop(std::chrono::nanoseconds now) override { stops.push_back(now); }

    QString heard() const {
        QString letters;
        for (const Play& play : plays) {
            letters += play.clip == ClickClip::AccentClick         ? u'A'
                       : play.clip == ClickClip::TripleAccentClick ? u'T'
                                                                   : u'n';
        }
        return letters;
    }
    void clear() { plays.clear(); }

    std::vector<std::pair<ClickClip, std::size_t>> prepared;
    std::vector<Play> plays;
    std::vector<std::chrono::nanoseconds> stops;
};

}  // namespace vindelor
