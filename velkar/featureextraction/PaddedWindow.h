#pragma once

// The zero-padded square in which the spectral extractors place a w x w window before
// transforming it: its side N is the smallest power of two with N >= w (1 for w = 1), and the
// window is centred with Pad() = (N - w) / 2 (integer division) zero columns and rows before it,
// so window pixel (i, j) sits at (Pad() + i, Pad() + j). Valid window sizes are 1 ... 2^30, the
// largest whose padded side still fits an int.

namespace velkar::featureextraction {

class PaddedWindow {
  public:
    static constexpr int kLargestWindowSize = 1 << 30;

    // Throws std::invalid_argument when windowSize is outside 1 ... kLargestWindowSize.
    explicit PaddedWindow(int windowSize);

    int WindowSize() const { return windowSize; }
    int Side() const { return side; }
    int Pad() const { return pad; }

  private:
    int windowSize;
    int side;
    int pad;
};

}  // namespace velkar::featureextraction
