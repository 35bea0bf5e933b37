#pragma once

#include <cstdint>

namespace quorvex::MovieUtils {

// The largest size of aspect ratio aspect_x:aspect_y that fits an area of area_width by
// area_height pixels (truncated toward zero). A video narrower than the area keeps the area's
// height; otherwise (equal aspects included) it keeps the area's width. An area or aspect
// with a side of 0 or less yields the area itself.
void CalcActualVideoSize(int32_t area_width, int32_t area_height, int32_t aspect_x,
                         int32_t aspect_y, int32_t& width, int32_t& height);

}  // namespace quorvex::MovieUtils
