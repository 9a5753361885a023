#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"

namespace velkar::patternrecognition {

std::string PatternRecognitionAlgorithm::FileExtension() { return "txt"; }

std::string PatternRecognitionAlgorithm::Version() { return "1.0"; }

std::string PatternRecognitionAlgorithm::Name() { return "Pattern Recognition Algorithm"; }

int PatternRecognitionAlgorithm::InputSize() { return -1; }

}  // namespace velkar::patternrecognition
