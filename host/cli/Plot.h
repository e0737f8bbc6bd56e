// PNG plots through gnuplot: output panels over time, each with a second
// axis in Hz or note names, and the input underneath.
#pragma once

#include <string>
#include <vector>

#include "Settings.h"

namespace tonevolt {

struct PlotPanel {
  std::string title;
  const std::vector<float>* values;  // module output, 1.0 = 10 V
  Settings settings;                 // labels the second axis
};

struct PlotRequest {
  std::string title;
  double sample_rate = kReferenceRate;
  std::vector<PlotPanel> outputs;
  const std::vector<float>* input = nullptr;
};

// Draws the plot into png_path with gnuplot.
bool WritePlot(const PlotRequest& request, const std::string& png_path, std::string* error);

}  // namespace tonevolt
