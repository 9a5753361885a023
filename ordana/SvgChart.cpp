#include "ordana/SvgChart.h"

#include <algorithm>
#include <sstream>

#include "ordana/AccuracyReport.h"
#include "ordana/PageText.h"

namespace velkar::ordana {

namespace {

constexpr int kChartWidth = 360;
constexpr int kChartHeight = 180;
constexpr int kLeft = 44;
constexpr int kRight = 12;
constexpr int kTop = 10;
constexpr int kBottom = 30;
constexpr int kPlotWidth = kChartWidth - kLeft - kRight;
constexpr int kPlotHeight = kChartHeight - kTop - kBottom;

double ChartX(std::size_t repetition, std::size_t count) {
    if (count <= 1) {
        return kLeft + kPlotWidth / 2.0;
    }
    return kLeft + kPlotWidth * static_cast<double>(repetition) / static_cast<double>(count - 1);
}

double ChartY(double figure) { return kTop + kPlotHeight * (1.0 - std::clamp(figure, 0.0, 1.0)); }

}  // namespace

std::string AccuracyChart(const std::vector<double>& figures, const std::string& label) {
    std::ostringstream svg;
    svg.precision(6);
    svg << "<svg class=\"chart\" role=\"img\" aria-label=\"" << EscapeHtml(label) << "\" width=\""
        << kChartWidth << "\" height=\"" << kChartHeight << "\" viewBox=\"0 0 " << kChartWidth
        << " " << kChartHeight << "\"><title>" << EscapeHtml(label) << "</title>";
    for (int step = 0; step <= 4; ++step) {
        const double figure = step / 4.0;
        svg << "<line x1=\"" << kLeft << "\" x2=\"" << kLeft + kPlotWidth << "\" y1=\""
            << ChartY(figure) << "\" y2=\"" << ChartY(figure)
            << "\" stroke=\"#d0d4da\" stroke-width=\"1\"/><text x=\"" << kLeft - 6 << "\" y=\""
            << ChartY(figure) + 4 << "\" text-anchor=\"end\">" << figure << "</text>";
    }
    svg << "<text x=\"" << kLeft + kPlotWidth / 2 << "\" y=\"" << kChartHeight - 4
        << "\" text-anchor=\"middle\">repetition 1 to " << figures.size() << "</text>";
    if (figures.size() > 1) {
        svg << "<polyline fill=\"none\" stroke=\"#1f4e8c\" stroke-width=\"2\" points=\"";
        for (std::size_t i = 0; i < figures.size(); ++i) {
            svg << (i == 0 ? "" : " ") << ChartX(i, figures.size()) << "," << ChartY(figures[i]);
        }
        svg << "\"/>";
    }
    for (std::size_t i = 0; i < figures.size(); ++i) {
        svg << "<circle cx=\"" << ChartX(i, figures.size()) << "\" cy=\"" << ChartY(figures[i])
            << "\" r=\"3.5\" fill=\"#1f4e8c\"><title>repetition " << i + 1 << ": "
            << ReportFigure(figures[i]) << "</title></circle>";
    }
    svg << "</svg>";
    return svg.str();
}

std::string FigureBar(const std::optional<double>& figure) {
    std::ostringstream svg;
    svg.precision(6);
    svg << "<svg class=\"bar\" aria-hidden=\"true\" width=\"" << kFigureBarWidth
        << "\" height=\"12\"><rect x=\"0.5\" y=\"0.5\" width=\"" << kFigureBarWidth - 1
        << "\" height=\"11\" fill=\"#eef1f5\" stroke=\"#8a94a3\"/>";
    if (figure) {
        svg << "<rect x=\"0.5\" y=\"0.5\" width=\""
            << (kFigureBarWidth - 1) * std::clamp(*figure, 0.0, 1.0)
            << "\" height=\"11\" fill=\"#1f4e8c\"/>";
    }
    svg << "</svg>";
    return svg.str();
}

}  // namespace velkar::ordana
