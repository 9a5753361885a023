#pragma once

// The windows first ... last of a WindowGrid, cut into tiles: rectangles of grid columns and
// rows whose windows share one pixel region, so that a grid path can prepare the region once
// (sums, gradients) for all its windows. A tile's region spans the pixels of its windows:
// Left() ... Left() + RegionWidth() - 1 across and Top() ... Top() + RegionHeight() - 1 down.
// A plain value over the grid it was given, which must outlive it. ForEachWindow visits a tile's
// windows column by column; ForEachRow hands them out a grid row at a time, for paths that share
// work between the windows of a row.

#include <cstddef>
#include <vector>

#include "velkar/featureextraction/WindowGrid.h"

namespace velkar::featureextraction {

class GridBatch {
  public:
    // Window columns [column0, column1) and rows [row0, row1) of the grid.
    struct Tile {
        std::size_t column0;
        std::size_t column1;
        std::size_t row0;
        std::size_t row1;
    };

    // count >= 1 and first + count <= grid.Count(), which the caller checks.
    GridBatch(const WindowGrid& grid, std::size_t first, std::size_t count);

    const WindowGrid& Grid() const { return grid; }
    std::size_t First() const { return first; }

    // The rows of a grid column that hold windows of the batch: [RowBegin, RowEnd).
    std::size_t RowBegin(std::size_t column) const;
    std::size_t RowEnd(std::size_t column) const;

    // As many windows a side as fit tileSide pixels (one window at least), fewer when that leaves
    // too few tiles to share among the threads, but not below smallestSide windows a side (unless
    // the batch itself is smaller). Every window of the batch is in exactly one tile; tiles are
    // trimmed to the batch's windows in their outer columns and rows.
    std::vector<Tile> Tiles(int tileSide, std::size_t smallestSide) const;

    int Left(const Tile& tile) const;
    int Top(const Tile& tile) const;
    int RegionWidth(const Tile& tile) const;
    int RegionHeight(const Tile& tile) const;

    // Calls visit(n, x, y) for every window of the batch in the tile: n its place in the batch
    // (grid index - First()), (x, y) its origin relative to the tile's region.
    template <typename Visit>
    void ForEachWindow(const Tile& tile, Visit&& visit) const {
        const std::size_t step = static_cast<std::size_t>(grid.Step());
        for (std::size_t column = tile.column0; column < tile.column1; ++column) {
            const std::size_t end = tile.row1 < RowEnd(column) ? tile.row1 : RowEnd(column);
            std::size_t row = tile.row0 > RowBegin(column) ? tile.row0 : RowBegin(column);
            for (; row < end; ++row) {
                visit(column * grid.Rows() + row - first,
                      static_cast<int>((column - tile.column0) * step),
                      static_cast<int>((row - tile.row0) * step));
            }
        }
    }

    // The windows of the batch in one grid row of a tile, left to right: window m (0 <= m < count)
    // has batch place first + m * Grid().Rows() and origin (x + m * Grid().Step(), y) relative
    // to the tile's region.
    struct RowRun {
        std::size_t first;
        std::size_t count;
        int x;
        int y;
    };

    // Calls visit(run) for every grid row of the tile that holds windows of the batch, top down.
    template <typename Visit>
    void ForEachRow(const Tile& tile, Visit&& visit) const {
        const std::size_t step = static_cast<std::size_t>(grid.Step());
        for (std::size_t row = tile.row0; row < tile.row1; ++row) {
            // Only the batch's first column can start below row 0 and only its last can end
            // above the grid's last row, so the row's windows are contiguous.
            std::size_t column0 = tile.column0;
            if (row < RowBegin(column0) || row >= RowEnd(column0)) {
                ++column0;
            }
            std::size_t column1 = tile.column1;
            if (column1 > column0 && (row < RowBegin(column1 - 1) || row >= RowEnd(column1 - 1))) {
                --column1;
            }
            if (column0 < column1) {
                visit(RowRun{column0 * grid.Rows() + row - first, column1 - column0,
                             static_cast<int>((column0 - tile.column0) * step),
                             static_cast<int>((row - tile.row0) * step)});
            }
        }
    }

  private:
    const WindowGrid& grid;
    std::size_t first;
    std::size_t last;
};

}  // namespace velkar::featureextraction
