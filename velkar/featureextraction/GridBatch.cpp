#include "velkar/featureextraction/GridBatch.h"

#include <algorithm>

#include "velkar/util/Parallel.h"

namespace velkar::featureextraction {

GridBatch::GridBatch(const WindowGrid& grid, std::size_t first, std::size_t count)
    : grid(grid), first(first), last(first + count - 1) {}

std::size_t GridBatch::RowBegin(std::size_t column) const {
    return column == first / grid.Rows() ? first % grid.Rows() : 0;
}

std::size_t GridBatch::RowEnd(std::size_t column) const {
    return column == last / grid.Rows() ? last % grid.Rows() + 1 : grid.Rows();
}

std::vector<GridBatch::Tile> GridBatch::Tiles(int tileSide, std::size_t smallestSide) const {
    const std::size_t rows = grid.Rows();
    const std::size_t firstColumn = first / rows;
    const std::size_t lastColumn = last / rows;
    const std::size_t rowLow = firstColumn == lastColumn ? first % rows : 0;
    const std::size_t rowHigh = firstColumn == lastColumn ? last % rows + 1 : rows;
    const std::size_t columnCount = lastColumn - firstColumn + 1;
    const std::size_t rowCount = rowHigh - rowLow;

    const int w = grid.WindowSize();
    const int step = grid.Step();
    const std::size_t fitting =
        tileSide > w ? static_cast<std::size_t>((tileSide - w) / step) + 1 : 1;
    const std::size_t smallest = std::max<std::size_t>(smallestSide, 1);
    std::size_t across = std::min(fitting, columnCount);
    std::size_t down = std::min(fitting, rowCount);
    const auto tileCount = [&] {
        return ((columnCount + across - 1) / across) * ((rowCount + down - 1) / down);
    };
    const std::size_t wanted = 8 * static_cast<std::size_t>(util::MaxThreads());
    while (tileCount() < wanted && std::max(across, down) / 2 >= smallest) {
        if (down >= across) {
            down = (down + 1) / 2;
        } else {
            across = (across + 1) / 2;
        }
    }

    std::vector<Tile> tiles;
    for (std::size_t column0 = firstColumn; column0 <= lastColumn; column0 += across) {
        const std::size_t column1 = std::min(column0 + across, lastColumn + 1);
        for (std::size_t row0 = rowLow; row0 < rowHigh; row0 += down) {
            const std::size_t row1 = std::min(row0 + down, rowHigh);
            Tile tile{column1, column0, row1, row0};
            for (std::size_t column = column0; column < column1; ++column) {
                const std::size_t begin = std::max(row0, RowBegin(column));
                const std::size_t end = std::min(row1, RowEnd(column));
                if (begin < end) {
                    tile.column0 = std::min(tile.column0, column);
                    tile.column1 = std::max(tile.column1, column + 1);
                    tile.row0 = std::min(tile.row0, begin);
                    tile.row1 = std::max(tile.row1, end);
                }
            }
            if (tile.column0 < tile.column1) {
                tiles.push_back(tile);
            }
        }
    }
    return tiles;
}

int GridBatch::Left(const Tile& tile) const { return static_cast<int>(tile.column0) * grid.Step(); }

int GridBatch::Top(const Tile& tile) const { return static_cast<int>(tile.row0) * grid.Step(); }

int GridBatch::RegionWidth(const Tile& tile) const {
    return static_cast<int>(tile.column1 - tile.column0 - 1) * grid.Step() + grid.WindowSize();
}

int GridBatch::RegionHeight(const Tile& tile) const {
    return static_cast<int>(tile.row1 - tile.row0 - 1) * grid.Step() + grid.WindowSize();
}

}  // namespace velkar::featureextraction
