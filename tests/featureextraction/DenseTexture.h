#pragma once

// Co-occurrence matrices, their eight statistics and the grey-level difference vector computed
// the plain way, as an independent reference: a dense [displacement][band][256][256] array,
// cleared whole for every window and filled pixel by pixel through Pixel(), then three passes
// over the whole upper triangle with sums of type Sum. The tests use long double: in double,
// the tens of thousands of epsilon terms of the entropy alone drift by about 1e-12 relative from
// the exact sum. The texture benchmark uses the double version as its baseline.

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "velkar/imageprocessing/ImageFileSystem.h"

namespace velkar::testing {

template <typename Sum>
class DenseTexture {
  public:
    using Bands = std::vector<std::vector<double>>;

    DenseTexture(std::shared_ptr<imageprocessing::ImageFileSystem> image, int windowSize,
                 std::vector<int> dx, std::vector<int> dy)
        : image(std::move(image)),
          w(windowSize),
          dx(std::move(dx)),
          dy(std::move(dy)),
          cells(this->dx.size() * 3 * 256 * 256) {}

    double& Cell(std::size_t k, int b, int a, int c) {
        return cells[((k * 3 + b) * 256 + a) * 256 + c];
    }

    void Calculate(int x, int y) {
        std::fill(cells.begin(), cells.end(), 0.0);
        for (std::size_t k = 0; k < dx.size(); ++k) {
            double count = 0;
            for (int b = 0; b < 3; ++b) {
                for (int i = x; i < x + w; ++i) {
                    for (int j = y; j < y + w; ++j) {
                        const int pi = i + dx[k], pj = j + dy[k];
                        if (Inside(i, j) && Inside(pi, pj) && pi >= x && pi < x + w && pj >= y &&
                            pj < y + w) {
                            count += 1;
                            Cell(k, b, image->Pixel(i, j, b), image->Pixel(pi, pj, b)) += 1;
                            Cell(k, b, image->Pixel(pi, pj, b), image->Pixel(i, j, b)) += 1;
                        }
                    }
                }
            }
            for (int b = 0; b < 3 && count > 0; ++b) {
                for (int a = 0; a < 256; ++a) {
                    for (int c = 0; c < 256; ++c) {
                        Cell(k, b, a, c) /= 2 * count;
                    }
                }
            }
        }
    }

    Bands CoOccurrence(int x, int y) {
        Calculate(x, y);
        Bands bands(3);
        for (int b = 0; b < 3; ++b) {
            for (std::size_t k = 0; k < dx.size(); ++k) {
                const std::vector<double> values = Statistics(k, b);
                bands[b].insert(bands[b].end(), values.begin(), values.end());
            }
        }
        return bands;
    }

    Bands Differences(int x, int y) {
        Calculate(x, y);
        Bands bands(3, std::vector<double>(256 * dx.size(), 0.0));
        for (int b = 0; b < 3; ++b) {
            for (std::size_t k = 0; k < dx.size(); ++k) {
                for (int a = 0; a < 256; ++a) {
                    for (int c = a; c < 256; ++c) {
                        bands[b][256 * k + (c - a)] += Cell(k, b, a, c);
                    }
                }
            }
        }
        return bands;
    }

  private:
    bool Inside(int x, int y) const {
        return x >= 0 && y >= 0 && x < image->Width() && y < image->Height();
    }

    std::vector<double> Statistics(std::size_t k, int b) {
        const double epsilon = std::numeric_limits<double>::epsilon();
        Sum hom = 0, con = 0, dis = 0, mean = 0, var = 0, energy = 0, corr = 0, ent = 0;
        for (int a = 0; a < 256; ++a) {
            for (int c = a; c < 256; ++c) {
                const double p = Cell(k, b, a, c), P = a == c ? 1 : 2;
                const double q = p == 0 ? epsilon : p;
                hom += P * p / (1 + (a - c) * (a - c));
                con += P * p * (a - c) * (a - c);
                dis += P * p * std::abs(a - c);
                mean += P * p * a;
                energy += P * p * p;
                ent -= P * q * std::log(q);
            }
        }
        for (int a = 0; a < 256; ++a) {
            for (int c = a; c < 256; ++c) {
                var += (a == c ? 1 : 2) * Cell(k, b, a, c) * (a - mean) * (a - mean);
            }
        }
        for (int a = 0; a < 256; ++a) {
            for (int c = a; c < 256; ++c) {
                corr += (a == c ? 1 : 2) * Cell(k, b, a, c) * (a - mean) * (c - mean) / var;
            }
        }
        // A band of zero variance has correlation 1.
        return {double(hom),
                double(con),
                double(dis),
                double(mean),
                double(std::sqrt(var)),
                double(energy),
                var == 0 ? 1.0 : double(corr),
                double(ent)};
    }

    std::shared_ptr<imageprocessing::ImageFileSystem> image;
    int w;
    std::vector<int> dx;
    std::vector<int> dy;
    std::vector<double> cells;
};

}  // namespace velkar::testing
