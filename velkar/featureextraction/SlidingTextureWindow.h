#pragma once

// The co-occurrence pairs of one square window that moves over a block of pixels, as
// TextureHistogram2D counts them: pixel (i, j) of the window and its partner (i + dx[k],
// j + dy[k]), both inside the window, form a pair of levels per band. The pairs sit in a tally
// that the caller owns; moving the window by less than its size takes out only the pairs that
// leave and puts in those that enter, so an overlapping window costs its changed strips
// instead of all its pairs. A tally is any type whose Pairs(k, band) gives a copyable object
// with Add(low, high) and Remove(low, high), low <= high the pair's two levels, worked on as a
// copy that is then assigned back. Pairs leave before others enter, so a tally never holds more
// than a window's pairs of a displacement and band. SumPairTerms adds up terms of a pair's
// levels over every window of a tile without a tally. Load copies a block's levels once; one
// object serves one thread.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "velkar/featureextraction/GridBatch.h"
#include "velkar/imageprocessing/ImageFileSystem.h"

namespace velkar::featureextraction {

class SlidingTextureWindow {
  public:
    // Displacements as TextureHistogram2D::CheckDisplacements accepts them; bands levels a pixel.
    SlidingTextureWindow(int windowSize, std::vector<int> dx, std::vector<int> dy, int bands);

    // Copies the levels of the width x height pixels at (left, top), which lie inside the image.
    // The window then holds no place: the tally it was moved with must be empty.
    void Load(const imageprocessing::ImageFileSystem& image, int left, int top, int width,
              int height);

    // Moves the window to origin (x, y) of the block (it must fit there), updating the tally
    // it was last moved with (an empty one after Load or Clear).
    template <typename Tally>
    void MoveTo(int x, int y, Tally& tally);
    // Takes the window's pairs out of the tally, which is then empty.
    template <typename Tally>
    void Clear(Tally& tally);

    // Moves the window over the batch's windows in a tile whose region is loaded, row by row,
    // turning at the end of each row, calling visit(n) with the tally holding the window of batch
    // place n. The tally is empty before and after.
    template <typename Tally, typename Visit>
    void Sweep(const GridBatch& batch, const GridBatch::Tile& tile, Tally& tally, Visit&& visit);

    // Calls visit(n, k, band, sums) for every window of the batch in a tile whose region is
    // loaded, displacement and band, sums being the sum of Terms::Of(low, high) over the
    // window's pairs. Terms is a value type with += and -=; such sums need no tally: they are
    // kept per column of the block, slid down from grid row to grid row and added across.
    template <typename Terms, typename Visit>
    void SumPairTerms(const GridBatch& batch, const GridBatch::Tile& tile, Visit&& visit) const;

  private:
    // Where a displacement's pixels (anchors) lie in a window: columns [left, right) and rows
    // [top, bottom) relative to its origin; a partner is offset from its anchor's level.
    struct Shift {
        int left;
        int right;
        int top;
        int bottom;
        std::ptrdiff_t offset;
    };

    // Puts in (Add) or takes out the pairs of displacement k whose anchors lie in block
    // columns [column0, column1) and rows [row0, row1).
    template <bool Add, typename Tally>
    void Strip(std::size_t k, int column0, int column1, int row0, int row1, Tally& tally) const;

    int windowSize;
    std::vector<int> dx;
    std::vector<int> dy;
    int bands;
    std::vector<Shift> shifts;
    // The block's levels, one plane per band, row after row.
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> levels;
    bool placed = false;
    int placedX = 0;
    int placedY = 0;
};

template <bool Add, typename Tally>
void SlidingTextureWindow::Strip(std::size_t k, int column0, int column1, int row0, int row1,
                                 Tally& tally) const {
    if (column0 >= column1 || row0 >= row1) {
        return;
    }
    const std::ptrdiff_t offset = shifts[k].offset;
    const std::size_t planeSize =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    for (int band = 0; band < bands; ++band) {
        // A copy the compiler can keep in registers: nothing the loop stores can reach it.
        auto pairs = tally.Pairs(static_cast<int>(k), band);
        const std::uint8_t* plane = levels.data() + static_cast<std::size_t>(band) * planeSize;
        for (int row = row0; row < row1; ++row) {
            const std::uint8_t* here = plane + static_cast<std::size_t>(row) * width;
            for (int column = column0; column < column1; ++column) {
                const unsigned a = here[column];
                const unsigned c = here[column + offset];
                const unsigned low = a <= c ? a : c;
                const unsigned high = a <= c ? c : a;
                if constexpr (Add) {
                    pairs.Add(low, high);
                } else {
                    pairs.Remove(low, high);
                }
            }
        }
        tally.Pairs(static_cast<int>(k), band) = pairs;
    }
}

template <typename Tally>
void SlidingTextureWindow::MoveTo(int x, int y, Tally& tally) {
    for (std::size_t k = 0; k < shifts.size(); ++k) {
        const Shift& s = shifts[k];
        if (!placed) {
            Strip<true>(k, x + s.left, x + s.right, y + s.top, y + s.bottom, tally);
            continue;
        }
        // Across at the old row, then down at the new column; anchor ranges that no longer
        // overlap simply leave and enter whole.
        const int oldTop = placedY + s.top;
        const int oldBottom = placedY + s.bottom;
        if (x > placedX) {
            Strip<false>(k, placedX + s.left, std::min(placedX + s.right, x + s.left), oldTop,
                         oldBottom, tally);
            Strip<true>(k, std::max(x + s.left, placedX + s.right), x + s.right, oldTop, oldBottom,
                        tally);
        } else if (x < placedX) {
            Strip<false>(k, std::max(placedX + s.left, x + s.right), placedX + s.right, oldTop,
                         oldBottom, tally);
            Strip<true>(k, x + s.left, std::min(x + s.right, placedX + s.left), oldTop, oldBottom,
                        tally);
        }
        const int left = x + s.left;
        const int right = x + s.right;
        if (y > placedY) {
            Strip<false>(k, left, right, oldTop, std::min(oldBottom, y + s.top), tally);
            Strip<true>(k, left, right, std::max(y + s.top, oldBottom), y + s.bottom, tally);
        } else if (y < placedY) {
            Strip<false>(k, left, right, std::max(oldTop, y + s.bottom), oldBottom, tally);
            Strip<true>(k, left, right, y + s.top, std::min(y + s.bottom, oldTop), tally);
        }
    }
    placed = true;
    placedX = x;
    placedY = y;
}

template <typename Tally>
void SlidingTextureWindow::Clear(Tally& tally) {
    if (!placed) {
        return;
    }
    for (std::size_t k = 0; k < shifts.size(); ++k) {
        const Shift& s = shifts[k];
        Strip<false>(k, placedX + s.left, placedX + s.right, placedY + s.top, placedY + s.bottom,
                     tally);
    }
    placed = false;
}

template <typename Tally, typename Visit>
void SlidingTextureWindow::Sweep(const GridBatch& batch, const GridBatch::Tile& tile, Tally& tally,
                                 Visit&& visit) {
    const std::size_t rows = batch.Grid().Rows();
    const int step = batch.Grid().Step();
    bool rightwards = true;
    batch.ForEachRow(tile, [&](const GridBatch::RowRun& run) {
        for (std::size_t m = 0; m < run.count; ++m) {
            const std::size_t place = rightwards ? m : run.count - 1 - m;
            MoveTo(run.x + static_cast<int>(place) * step, run.y, tally);
            visit(run.first + place * rows);
        }
        rightwards = !rightwards;
    });
    Clear(tally);
}

template <typename Terms, typename Visit>
void SlidingTextureWindow::SumPairTerms(const GridBatch& batch, const GridBatch::Tile& tile,
                                        Visit&& visit) const {
    const std::size_t rows = batch.Grid().Rows();
    const int step = batch.Grid().Step();
    const std::size_t planeSize =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::vector<Terms> columns(static_cast<std::size_t>(width));
    for (std::size_t k = 0; k < shifts.size(); ++k) {
        const Shift& s = shifts[k];
        // The anchor columns a window inside the block can have.
        const int firstColumn = s.left;
        const int endColumn = width - windowSize + s.right;
        const int anchorRows = s.bottom - s.top;
        for (int band = 0; band < bands; ++band) {
            const std::uint8_t* plane = levels.data() + static_cast<std::size_t>(band) * planeSize;
            // Adds (sign 1) or takes out the terms of anchor rows [row0, row1) to every column.
            const auto addRows = [&](int row0, int row1, bool add) {
                for (int row = row0; row < row1; ++row) {
                    const std::uint8_t* here = plane + static_cast<std::size_t>(row) * width;
                    for (int column = firstColumn; column < endColumn; ++column) {
                        const unsigned a = here[column];
                        const unsigned c = here[column + s.offset];
                        const Terms terms = Terms::Of(a <= c ? a : c, a <= c ? c : a);
                        if (add) {
                            columns[static_cast<std::size_t>(column)] += terms;
                        } else {
                            columns[static_cast<std::size_t>(column)] -= terms;
                        }
                    }
                }
            };
            bool filled = false;
            int filledY = 0;
            batch.ForEachRow(tile, [&](const GridBatch::RowRun& run) {
                if (filled && run.y - filledY < anchorRows) {
                    addRows(filledY + s.top, run.y + s.top, false);
                    addRows(filledY + s.bottom, run.y + s.bottom, true);
                } else {
                    std::fill(columns.begin(), columns.end(), Terms{});
                    addRows(run.y + s.top, run.y + s.bottom, true);
                }
                filled = true;
                filledY = run.y;
                const int anchorColumns = s.right - s.left;
                Terms sums{};
                int x = run.x;
                for (int column = x + s.left; column < x + s.right; ++column) {
                    sums += columns[static_cast<std::size_t>(column)];
                }
                for (std::size_t m = 0; m < run.count; ++m) {
                    if (m > 0) {
                        const int next = x + step;
                        if (step < anchorColumns) {
                            for (int column = x + s.left; column < next + s.left; ++column) {
                                sums -= columns[static_cast<std::size_t>(column)];
                            }
                            for (int column = x + s.right; column < next + s.right; ++column) {
                                sums += columns[static_cast<std::size_t>(column)];
                            }
                        } else {
                            sums = Terms{};
                            for (int column = next + s.left; column < next + s.right; ++column) {
                                sums += columns[static_cast<std::size_t>(column)];
                            }
                        }
                        x = next;
                    }
                    visit(run.first + m * rows, static_cast<int>(k), band,
                          static_cast<const Terms&>(sums));
                }
            });
        }
    }
}

}  // namespace velkar::featureextraction
