// Units shared by the wire, the track files and the drawing.
#pragma once

namespace gs {

// One world unit is 5 metres: positions on the wire and in the track files
// count 1/65536 metre, so a world unit is 327680 of them.
constexpr double WorldScaleD = 1.0 / 327680.0;
constexpr float WorldScale = static_cast<float>(WorldScaleD);

}  // namespace gs
