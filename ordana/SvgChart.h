#pragma once

// The small charts of the report pages, as inline SVG text. AccuracyChart draws figures in [0, 1]
// over the repetitions 1 ... n as a line with a dot per repetition, on a grid at 0, 0.25, ... 1;
// every dot's hover title names its repetition and figure (in the report's formatting), and the
// chart's label (an accessible name) says what it shows. FigureBar draws one figure in [0, 1] as
// a bar of kFigureBarWidth pixels (an empty frame for a figure that is not defined); it is
// decorative and hidden from screen readers, so the figure must be written beside it. Text
// arguments are escaped here.

#include <optional>
#include <string>
#include <vector>

namespace velkar::ordana {

constexpr int kFigureBarWidth = 120;

std::string AccuracyChart(const std::vector<double>& figures, const std::string& label);

std::string FigureBar(const std::optional<double>& figure);

}  // namespace velkar::ordana
