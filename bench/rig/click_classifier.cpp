#include "bench/rig/click_classifier.h"

#include <algorithm>
#include <cmath>

namespace vindelor::rig {

namespace {

constexpr double kNormalPitchHz = 835;
constexpr double kAccentPitchHz = 902;
constexpr double kNormalLengthMs = 34.4;
constexpr double kAccentLengthMs = 52.6;
constexpr double kTripleAccentLengthMs = 101.9;
constexpr double kReferencePitchHz = 1400;
constexpr double kReferenceLengthMs = 20;

// A clip's measured pitch and length may stray this far from its own, relatively. Halfway
// between the two pitches is 3.9 % from either; the lengths are 35 % apart or more.
constexpr double kPitchTolerance = 0.035;
constexpr double kLengthTolerance = 0.15;

bool near(double measured, double expected, double tolerance) {
    return std::abs(measured - expected) <= tolerance * expected;
}

}  // namespace

ClickKind classifyClick(double pitchHz, double lengthMs) {
    if (near(pitchHz, kNormalPitchHz, kPitchTolerance) &&
        near(lengthMs, kNormalLengthMs, kLengthTolerance)) {
        return ClickKind::normal;
    }
    if (near(pitchHz, kAccentPitchHz, kPitchTolerance)) {
        if (near(lengthMs, kAccentLengthMs, kLengthTolerance)) {
            return ClickKind::accent;
        }
        if (near(lengthMs, kTripleAccentLengthMs, kLengthTolerance)) {
            return ClickKind::tripleAccent;
        }
    }
    if (near(pitchHz, kReferencePitchHz, kPitchTolerance)) {
        return near(lengthMs, kReferenceLengthMs, kLengthTolerance) ? ClickKind::reference
               : lengthMs < kReferenceLengthMs                      ? ClickKind::referencePart
                                                                    : ClickKind::unknown;
    }
    return ClickKind::unknown;
}

void markReferenceLeadIn(std::vector<DetectedClick>& clicks, double sampleRate) {
    const auto isReference = [](const DetectedClick& c) { return c.kind == ClickKind::reference; };
    const auto first = std::find_if(clicks.begin(), clicks.end(), isReference);
    if (first == clicks.end()) {
        return;
    }
    const auto second = std::find_if(first + 1, clicks.end(), isReference);
    if (second == clicks.end()) {
        return;
    }
    const double beat = second->onset - first->onset;
    const double leadInEnd = static_cast<double>(first->end) - beat;
    for (auto c = clicks.begin(); c != first; ++c) {
        if (c->lengthMs < kReferenceLengthMs &&
            std::abs(static_cast<double>(c->end) - leadInEnd) <= sampleRate / 1000) {
            c->kind = ClickKind::referencePart;
        }
    }
}

}  // namespace vindelor::rig
