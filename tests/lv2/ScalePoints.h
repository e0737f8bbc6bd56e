// A port's scale points as liblilv reads them, sorted by value, so that the
// description tests compare them with a table in any order the TTL gives.
#pragma once

#include <lilv/lilv.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

inline std::vector<std::pair<float, std::string>> ScalePoints(const LilvPlugin* plugin,
                                                              const LilvPort* port) {
  std::vector<std::pair<float, std::string>> points;
  LilvScalePoints* found = lilv_port_get_scale_points(plugin, port);
  LILV_FOREACH(scale_points, i, found) {
    const LilvScalePoint* point = lilv_scale_points_get(found, i);
    points.emplace_back(lilv_node_as_float(lilv_scale_point_get_value(point)),
                        lilv_node_as_string(lilv_scale_point_get_label(point)));
  }
  lilv_scale_points_free(found);
  std::sort(points.begin(), points.end());
  return points;
}
