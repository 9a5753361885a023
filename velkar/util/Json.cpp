#include "velkar/util/Json.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <limits>
#include <locale>
#include <memory>

namespace velkar::util {

namespace {

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::string_view Trim(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsSpace(text[begin])) {
        ++begin;
    }
    while (end > begin && IsSpace(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// The text without its first and last characters (the enclosing braces, brackets or quotes).
std::string_view Inner(std::string_view text) {
    return text.size() < 2 ? std::string_view() : text.substr(1, text.size() - 2);
}

// Position of the comma that ends the piece starting at start: the first comma outside any
// braces and brackets (counted from start, quoted ones included) after an even number of
// quotes; the end of the body when there is none.
std::size_t PieceEnd(std::string_view body, std::size_t start) {
    std::ptrdiff_t braces = 0;
    std::ptrdiff_t brackets = 0;
    bool insideQuotes = false;
    for (std::size_t i = start; i < body.size(); ++i) {
        switch (body[i]) {
            case '{':
                ++braces;
                break;
            case '}':
                --braces;
                break;
            case '[':
                ++brackets;
                break;
            case ']':
                --brackets;
                break;
            case '"':
                insideQuotes = !insideQuotes;
                break;
            case ',':
                if (braces == 0 && brackets == 0 && !insideQuotes) {
                    return i;
                }
                break;
            default:
                break;
        }
    }
    return body.size();
}

// Reads a number the way the standard stream extraction does, in the classic locale whatever
// the program's global locale is. False when not even a prefix of the text is a number, or
// when the number is out of range; such text never becomes a made-up value.
template <typename T>
bool ExtractNumber(std::string_view text, T& value) {
    std::istringstream in{std::string(text)};
    in.imbue(std::locale::classic());
    in >> value;
    return !in.fail();
}

bool StartsCollection(std::string_view value) {
    return !value.empty() && (value.front() == '{' || value.front() == '[');
}

// Stores a scalar value (anything but a nested collection) through put, or nothing at all. An
// empty string ("") is stored only where its position carries meaning (in arrays): dropping it
// there would move every later element. False for a string without its closing quote, which
// makes the whole text unreadable.
template <typename Put>
bool StoreScalar(std::string_view value, Put put, bool keepEmptyString) {
    if (value.empty()) {
        return true;
    }
    if (value.front() == '"' && (value.size() < 2 || value.back() != '"')) {
        return false;
    }
    if (value == "true" || value == "false") {
        put(new bool(value == "true"));
    } else if (value == "nan") {
        put(new double(std::numeric_limits<double>::quiet_NaN()));
    } else if (value == "inf" || value == "-inf") {
        double infinity = std::numeric_limits<double>::infinity();
        put(new double(value == "inf" ? infinity : -infinity));
    } else if (value.front() != '"') {
        // A decimal point makes a double; anything else is read as an int, so "1e3" is 1.
        if (value.find('.') != std::string_view::npos) {
            double number = 0.0;
            if (ExtractNumber(value, number)) {
                put(new double(number));
            }
        } else {
            int number = 0;
            if (ExtractNumber(value, number)) {
                put(new int(number));
            }
        }
    } else if (value.size() >= 3 || (keepEmptyString && value == "\"\"")) {
        put(new std::string(Inner(value)));
    }
    return true;
}

// An object's text must end with its closing brace and an array's with its closing bracket: a
// text cut short (a model file truncated on disk) is not read as a smaller tree.
bool IsClosed(std::string_view text) {
    return text.size() >= 2 && text.back() == (text.front() == '{' ? '}' : ']');
}

// The shortest text that reads back to the same double. The reader takes a number as a double
// only when it holds a decimal point, so one is added where the shortest form has none:
// 3 -> "3.0", 1e-09 -> "1.0e-09".
void WriteReal(std::ostringstream& out, double value) {
    char text[32];
    const std::to_chars_result written = std::to_chars(std::begin(text), std::end(text), value);
    const std::string_view shortest(text, static_cast<std::size_t>(written.ptr - text));
    if (shortest.find('.') != std::string_view::npos) {
        out << shortest;
        return;
    }
    const std::size_t exponent = std::min(shortest.find('e'), shortest.size());
    out << shortest.substr(0, exponent) << ".0" << shortest.substr(exponent);
}

void Indent(std::ostringstream& out, int tabs) {
    static constexpr std::string_view chunk = "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
    while (tabs > 0) {
        int count = std::min(tabs, static_cast<int>(chunk.size()));
        out.write(chunk.data(), count);
        tabs -= count;
    }
}

}  // namespace

std::string Json::Serialize(const Collection* root) const {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    if (const auto* map = dynamic_cast<const Map*>(root)) {
        SerializeMap(out, map, 1);
    } else if (const auto* array = dynamic_cast<const Array*>(root)) {
        SerializeArray(out, array, 1);
    }
    return out.str();
}

void Json::SerializeMap(std::ostringstream& out, const Map* map, int depth) const {
    out << '{';
    if (pretty) {
        out << '\n';
    }
    const auto& items = map->Items();
    std::size_t written = 0;
    for (const auto& [key, item] : items) {
        if (pretty) {
            Indent(out, depth);
        }
        out << '"' << key << "\":";
        if (pretty) {
            out << ' ';
        }
        PrintValue(out, item, depth);
        if (++written < items.size()) {
            out << ',';
        }
        if (pretty) {
            out << '\n';
        }
    }
    if (pretty) {
        Indent(out, depth - 1);
    }
    out << '}';
}

void Json::SerializeArray(std::ostringstream& out, const Array* array, int depth) const {
    out << '[';
    const auto& items = array->Items();
    for (std::size_t i = 0; i < items.size(); ++i) {
        PrintValue(out, items[i], depth);
        if (i + 1 < items.size()) {
            out << (pretty ? ", " : ",");
        }
    }
    out << ']';
}

void Json::PrintValue(std::ostringstream& out, const Collection::CollectionItem* item,
                      int depth) const {
    switch (item->kind) {
        case Collection::IntKind:
            out << *static_cast<const int*>(item->value);
            break;
        case Collection::DoubleKind: {
            double value = *static_cast<const double*>(item->value);
            // The stream would write "-nan" for some NaNs; these bare words are the ones the
            // reader recognises, so a non-finite value never comes back as a finite one.
            if (std::isnan(value)) {
                out << "nan";
            } else if (std::isinf(value)) {
                out << (value > 0 ? "inf" : "-inf");
            } else {
                WriteReal(out, value);
            }
            break;
        }
        case Collection::BoolKind:
            out << (*static_cast<const bool*>(item->value) ? "true" : "false");
            break;
        case Collection::StringKind:
            out << '"' << *static_cast<const std::string*>(item->value) << '"';
            break;
        case Collection::CollectionKind: {
            const auto* nested = static_cast<const Collection*>(item->value);
            if (const auto* map = dynamic_cast<const Map*>(nested)) {
                SerializeMap(out, map, depth + 1);
            } else if (const auto* array = dynamic_cast<const Array*>(nested)) {
                SerializeArray(out, array, depth + 1);
            }
            break;
        }
        default:
            break;
    }
}

Collection* Json::Deserialize(const std::string& text) const {
    std::string_view trimmed = Trim(text);
    return StartsCollection(trimmed) ? DeserializeCollection(trimmed, 1) : nullptr;
}

Collection* Json::DeserializeCollection(std::string_view text, int depth) const {
    if (text.front() == '{') {
        return DeserializeMap(text, depth);
    }
    return DeserializeArray(text, depth);
}

Map* Json::DeserializeMap(std::string_view text, int depth) const {
    if (depth > MaxDepth || !IsClosed(text)) {
        return nullptr;
    }
    auto map = std::make_unique<Map>();
    std::string_view body = Trim(Inner(text));
    std::size_t position = 0;
    while (!body.empty()) {
        std::size_t colon = body.find(':', position);
        if (colon == std::string_view::npos) {
            break;
        }
        std::string_view key = Trim(body.substr(position, colon - position));
        std::size_t end = PieceEnd(body, colon + 1);
        std::string_view value = Trim(body.substr(colon + 1, end - colon - 1));
        if (key.size() >= 2) {
            std::string name(Inner(key));
            if (StartsCollection(value)) {
                Collection* child = DeserializeCollection(value, depth + 1);
                if (child == nullptr) {
                    return nullptr;
                }
                map->Put(name, child);
            } else if (!StoreScalar(
                           value, [&](auto* scalar) { map->Put(name, scalar); }, false)) {
                return nullptr;
            }
        }
        if (end >= body.size()) {
            break;
        }
        position = end + 1;
    }
    return map.release();
}

Array* Json::DeserializeArray(std::string_view text, int depth) const {
    if (depth > MaxDepth || !IsClosed(text)) {
        return nullptr;
    }
    auto array = std::make_unique<Array>();
    std::string_view body = Trim(Inner(text));
    std::size_t position = 0;
    while (!body.empty()) {
        std::size_t end = PieceEnd(body, position);
        std::string_view value = Trim(body.substr(position, end - position));
        if (StartsCollection(value)) {
            Collection* child = DeserializeCollection(value, depth + 1);
            if (child == nullptr) {
                return nullptr;
            }
            array->Add(child);
        } else if (!StoreScalar(
                       value, [&](auto* scalar) { array->Add(scalar); }, true)) {
            return nullptr;
        }
        if (end >= body.size()) {
            break;
        }
        position = end + 1;
    }
    return array.release();
}

}  // namespace velkar::util
