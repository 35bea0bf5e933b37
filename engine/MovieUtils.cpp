#include "engine/MovieUtils.h"

namespace quorvex::MovieUtils {

void CalcActualVideoSize(int32_t area_width, int32_t area_height, int32_t aspect_x,
                         int32_t aspect_y, int32_t& width, int32_t& height) {
  width = area_width;
  height = area_height;
  // Nothing sensible to fit (and a division by zero to avoid): keep the area.
  if (area_width <= 0 || area_height <= 0 || aspect_x <= 0 || aspect_y <= 0)
    return;
  const double video_aspect = double(aspect_x) / double(aspect_y);
  const double area_aspect = double(area_width) / double(area_height);
  if (video_aspect < area_aspect)
    width = int32_t(area_height * video_aspect);
  else
    height = int32_t(area_width / video_aspect);
}

}  // namespace quorvex::MovieUtils
