// Gain and pitch ratio for each slider position, identical in every build.
#pragma once

constexpr int VOLUME_POSITION_MIN = -100;
constexpr int VOLUME_POSITION_MAX = 100;
constexpr int PITCH_POSITION_MIN = -200;
constexpr int PITCH_POSITION_MAX = 200;
constexpr int VOLUME_POSITION_COUNT = VOLUME_POSITION_MAX - VOLUME_POSITION_MIN + 1;
constexpr int PITCH_POSITION_COUNT = PITCH_POSITION_MAX - PITCH_POSITION_MIN + 1;

inline int ClampPosition(int position, int low, int high) {
    return position < low ? low : (position > high ? high : position);
}

// 10^(-position/100): 10.0 at -100, 1.0 at 0, 0.1 at 100. Positions outside the range take
// the nearest end.
double GainForVolumePosition(int position);

// 1.0594630943592953^((-position*12)/200): about 2.0 at -200, 1.0 at 0, 0.5 at 200.
double PitchRatioForPosition(int position);
