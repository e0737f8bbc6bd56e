// PNG plots through gnuplot: output panels over time, each with a second
// axis in Hz or note names, and the input underneath. The signals come as
// envelopes, so a plot costs the same memory for any length.
#pragma once

#include <string>
#include <vector>

#include "Settings.h"
#include "Summaries.h"

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

// Draws the plot into png with gnuplot.
bool WritePlot(const PlotRequest& request, const StagedFile& png, std::string* error);

// Runs a gnuplot script whose output is its standard output ("set output"
// with no name), which goes into png; false with gnuplot's reason.
bool RunGnuplotScript(const std::string& script, const StagedFile& png, std::string* error);

// gnuplot's single-quoted string: a quote is written twice.
std::string GnuplotQuote(const std::string& text);

}  // namespace tonevolt
