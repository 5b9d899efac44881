#pragma once

#include <QtGlobal>

#include <cmath>
#include <limits>

namespace CustomControls {

// Model values arrive as doubles; a plain cast of NaN or of a value beyond the
// target range is undefined, so such values saturate (NaN gives 0).
template<typename Int>
Int truncateTo(double value)
{
    if (std::isnan(value))
        return 0;
    if (value <= double(std::numeric_limits<Int>::min()))
        return std::numeric_limits<Int>::min();
    if (value >= double(std::numeric_limits<Int>::max()))
        return std::numeric_limits<Int>::max();
    return Int(value);
}

} // namespace CustomControls
