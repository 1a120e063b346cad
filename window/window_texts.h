#pragma once

#include <QStringView>

namespace vindelor::texts {

// Every text the window shows or tells a screen reader, exactly as the user meets it.
// The meter rows and the starting tempo live with the engine (engine/meter.h, engine/tempo.h).

inline constexpr QStringView kCaption = u"              Vindelor";  // 14 blanks first
inline constexpr QStringView kStart = u"&Start";                    // the clicker is stopped
inline constexpr QStringView kStop = u"&Stop";                      // the clicker runs
inline constexpr QStringView kCancel = u"&Avbryt";
inline constexpr QStringView kTempoLabel = u"BPM";   // Label2, over the spin button
inline constexpr QStringView kMeterLabel = u"Takt";  // Label1, over the meter list

// Accessible names: the tempo controls are named after "BPM", the meter list after "Takt".
inline constexpr QStringView kTempoSliderName = u"BPM";
inline constexpr QStringView kTempoBoxName = u"BPM";
inline constexpr QStringView kMeterListName = u"Takt";
inline constexpr QStringView kSpinButtonName = u"BPM i steg om 5";
inline constexpr QStringView kSpinUpName = u"Öka BPM med 5";
inline constexpr QStringView kSpinDownName = u"Minska BPM med 5";
inline constexpr QStringView kUpDownName = u"BPM i steg om 1";
inline constexpr QStringView kUpDownUpName = u"Öka BPM med 1";
inline constexpr QStringView kUpDownDownName = u"Minska BPM med 1";

// The title of the box that reports a failure to start.
inline constexpr QStringView kErrorTitle = u"Vindelor";

}  // namespace vindelor::texts
