// PNG plots through gnuplot: output panels over time, each with a second
// axis in Hz or note names, and the input underneath. The signals come as
// envelopes, so a plot costs the same memory for any length.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "module/Settings.h"
#include "stream/Summaries.h"

namespace tonevolt {

class StagedFile;

struct PlotPanel {
  std::string title;
  const Envelope* values;  // module output, 1.0 = 10 V
  Settings settings;       // labels the second axis
};

struct PlotRequest {
  std::string title;
  double sample_rate = kReferenceRate;  // of the signals
  double module_rate = 0;               // the module ran at; 0: sample_rate
  std::vector<PlotPanel> outputs;
  const Envelope* input = nullptr;
};

// False with a one-line reason, naming gnuplot and how to install it, when
// there is no gnuplot on PATH.
bool CheckGnuplot(std::string* error);
// A --plot path names a PNG file: ".png" in any case, or a one-line error.
bool CheckPlotPath(const std::string& path, std::string* error);

// Draws the plot into png with gnuplot.
bool WritePlot(const PlotRequest& request, const StagedFile& png, std::string* error);

// A render's output frame by frame, drawn as its implied pitch: a band from
// each frame's lowest to its highest value.
struct PitchBand {
  const std::vector<float>* lo;  // module output, 1.0 = 10 V
  const std::vector<float>* hi;
  Settings settings;  // the values are read under
  std::string name, colour, title;
};

// Implied pitch over time on a logarithmic axis with note names, against
// the tracked pitch, the input underneath.
struct PitchPlotRequest {
  std::string title;
  double seconds = 0;                    // the x axis
  double frame_seconds = 0;              // a band's frames are this far apart
  double module_rate = kReferenceRate;   // the bands' values were made at
  double lowest_hz = 0, highest_hz = 0;  // shown at least
  std::vector<PitchBand> bands;
  std::vector<std::pair<float, float>> tracked;  // time (s), Hz
  std::string tracked_title;
  const Envelope* input = nullptr;
  double sample_rate = kReferenceRate;  // of the input
};

// Draws the pitch plot into png with gnuplot.
bool WritePitchPlot(const PitchPlotRequest& request, const StagedFile& png, std::string* error);

}  // namespace tonevolt
