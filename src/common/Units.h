// Units shared by the wire, the track files and the drawing.
#pragma once

#include <cstdint>

namespace gs {

// One world unit is 5 metres: positions on the wire and in the track files
// count 1/65536 metre, so a world unit is 327680 of them.
constexpr double WorldScaleD = 1.0 / 327680.0;
constexpr float WorldScale = static_cast<float>(WorldScaleD);

// A position or length in 1/65536 metre, as the wire and the mesh files hold
// it, in world units. The product is taken in double so that large values
// keep every bit a float can hold.
constexpr float WorldFromFixed(std::int32_t value) { return static_cast<float>(value * WorldScaleD); }

}  // namespace gs
