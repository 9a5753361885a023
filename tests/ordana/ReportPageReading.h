#pragma once

// Reads back what a report page shows, from the generator's HTML or from a browser's serialised
// DOM (both quote attributes with '"'), by plain searching (the pages hold megabytes of data URIs,
// too much for std::regex): the report sections with their matrices and figures, the legend's
// class names, every reference to something outside the page, and pictures without a text
// alternative. ReadReport reads the same sections from an accuracy report file.

#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace reportpage {

// One section of an accuracy report: its heading, the matrix rows (class name, then the counts
// as written), the figures in report order (recall and precision per class, overall accuracy,
// kappa), or the "not evaluated: ..." line.
struct Section {
    std::string heading;
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> figures;
    std::string notEvaluated;

    bool operator==(const Section&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Section& section) {
    out << "[" << section.heading << "]";
    for (const auto& row : section.rows) {
        for (const std::string& cell : row) {
            out << " " << cell;
        }
        out << ";";
    }
    for (const std::string& figure : section.figures) {
        out << " " << figure;
    }
    return out << " " << section.notEvaluated;
}

inline std::string Unescape(const std::string& text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        bool replaced = false;
        for (const auto& [reference, character] :
             {std::pair{"&amp;", '&'}, std::pair{"&lt;", '<'}, std::pair{"&gt;", '>'},
              std::pair{"&quot;", '"'}, std::pair{"&#39;", '\''}}) {
            if (text.compare(i, std::string(reference).size(), reference) == 0) {
                plain += character;
                i += std::string(reference).size() - 1;
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            plain += text[i];
        }
    }
    return plain;
}

// The text of an element's content with its tags removed, unescaped.
inline std::string TextOf(const std::string& html) {
    std::string text;
    bool inTag = false;
    for (const char c : html) {
        if (c == '<') {
            inTag = true;
        } else if (c == '>') {
            inTag = false;
        } else if (!inTag) {
            text += c;
        }
    }
    return Unescape(text);
}

// The pieces of html from each occurrence of open to the following close (both excluded).
inline std::vector<std::string> Pieces(const std::string& html, const std::string& open,
                                       const std::string& close) {
    std::vector<std::string> pieces;
    for (std::size_t at = html.find(open); at != std::string::npos; at = html.find(open, at)) {
        const std::size_t start = at + open.size();
        const std::size_t end = html.find(close, start);
        if (end == std::string::npos) {
            break;
        }
        pieces.push_back(html.substr(start, end - start));
        at = end;
    }
    return pieces;
}

// The texts of the th and td cells of every row in a table's body.
inline std::vector<std::vector<std::string>> BodyRows(const std::string& table) {
    std::vector<std::vector<std::string>> rows;
    for (const std::string& body : Pieces(table, "<tbody>", "</tbody>")) {
        for (const std::string& row : Pieces(body, "<tr", "</tr>")) {
            std::vector<std::string> cells;
            for (std::size_t at = row.find("<t"); at != std::string::npos;
                 at = row.find("<t", at + 1)) {
                const std::size_t start = row.find('>', at) + 1;
                const std::size_t end = row.find("</t", start);
                cells.push_back(TextOf(row.substr(start, end - start)));
                at = end;
            }
            rows.push_back(cells);
        }
    }
    return rows;
}

inline std::vector<Section> PageSections(const std::string& html) {
    std::vector<Section> sections;
    for (const std::string& piece :
         Pieces(html, "<div class=\"report-section\" data-section=\"", "</div>")) {
        Section section;
        section.heading = Unescape(piece.substr(0, piece.find('"')));
        for (const std::string& table : Pieces(piece, "<table class=\"confusion\"", "</table>")) {
            section.rows = BodyRows(table);
        }
        for (const std::string& figure : Pieces(piece, "class=\"figure\">", "</")) {
            section.figures.push_back(TextOf(figure));
        }
        for (const std::string& line : Pieces(piece, "class=\"not-evaluated\">", "</p>")) {
            section.notEvaluated = TextOf(line);
        }
        sections.push_back(section);
    }
    return sections;
}

inline std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    for (const char c : text) {
        if (c == separator) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

inline std::vector<Section> ReadReport(const std::string& report) {
    std::vector<Section> sections;
    enum { kNone, kMatrix, kFigures } part = kNone;
    for (const std::string& line : Split(report, '\n')) {
        if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
            sections.push_back({line.substr(1, line.size() - 2), {}, {}, ""});
            part = kNone;
        } else if (sections.empty() || line.empty() || line.front() == '#') {
            continue;
        } else if (line.rfind("true\\predicted", 0) == 0) {
            part = kMatrix;
        } else if (line.rfind("class\t", 0) == 0) {
            part = kFigures;
        } else if (line.rfind("overall accuracy: ", 0) == 0 || line.rfind("kappa: ", 0) == 0) {
            sections.back().figures.push_back(line.substr(line.find(": ") + 2));
        } else if (line.rfind("not evaluated: ", 0) == 0) {
            sections.back().notEvaluated = line;
        } else if (part == kMatrix) {
            sections.back().rows.push_back(Split(line, '\t'));
        } else if (part == kFigures) {
            const std::vector<std::string> cells = Split(line, '\t');
            sections.back().figures.insert(sections.back().figures.end(), cells.begin() + 1,
                                           cells.end());
        }
    }
    return sections;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The sections of the accuracy reports of the page's classifier sections, in page order.
template <typename Page>
std::vector<Section> ReportSections(const Page& page) {
    std::vector<Section> sections;
    for (const auto& classifier : page.sections) {
        for (const Section& section : ReadReport(ReadFile(classifier.reportFile))) {
            sections.push_back(section);
        }
    }
    return sections;
}

// The cells of the legend's rows: the class name, then its counts as written.
inline std::vector<std::vector<std::string>> LegendRows(const std::string& html) {
    std::vector<std::vector<std::string>> rows;
    for (const std::string& table : Pieces(html, "<table class=\"legend\"", "</table>")) {
        for (const auto& row : BodyRows(table)) {
            rows.push_back(row);
        }
    }
    return rows;
}

// The class names in the first cells of the legend's rows.
inline std::vector<std::string> LegendNames(const std::string& html) {
    std::vector<std::string> names;
    for (const std::string& table : Pieces(html, "<table class=\"legend\"", "</table>")) {
        for (const auto& row : BodyRows(table)) {
            names.push_back(row.empty() ? "" : row.front());
        }
    }
    return names;
}

// Every attribute or style value that names something outside the page (anything but a data:
// URI or a reference into the page), and every element that would load or run something.
inline std::vector<std::string> ExternalReferences(const std::string& html) {
    std::vector<std::string> found;
    for (const std::string attribute : {" src=\"", " href=\"", " xlink:href=\"", "url("}) {
        for (const std::string& value : Pieces(html, attribute, attribute == "url(" ? ")" : "\"")) {
            std::string target = value;
            if (!target.empty() && (target.front() == '\'' || target.front() == '"')) {
                target.erase(0, 1);
            }
            if (target.rfind("data:", 0) != 0 && target.rfind("#", 0) != 0) {
                found.push_back(attribute + value.substr(0, 80));
            }
        }
    }
    for (const std::string element :
         {"<script", "<link", "<iframe", "<object", "<embed", "@import"}) {
        if (html.find(element) != std::string::npos) {
            found.push_back(element);
        }
    }
    return found;
}

// Images without a text alternative: an img without alt text, an svg that is neither hidden
// from screen readers nor a named image.
inline std::vector<std::string> ImagesWithoutText(const std::string& html) {
    std::vector<std::string> found;
    for (const std::string& tag : Pieces(html, "<img ", ">")) {
        if (tag.find(" alt=\"\"") != std::string::npos ||
            tag.find(" alt=\"") == std::string::npos) {
            found.push_back("<img " + tag.substr(0, 80));
        }
    }
    for (const std::string& tag : Pieces(html, "<svg", ">")) {
        const bool hidden = tag.find("aria-hidden=\"true\"") != std::string::npos;
        const bool named = tag.find("role=\"img\"") != std::string::npos &&
                           tag.find("aria-label=\"") != std::string::npos &&
                           tag.find("aria-label=\"\"") == std::string::npos;
        if (!hidden && !named) {
            found.push_back("<svg" + tag.substr(0, 80));
        }
    }
    return found;
}

// The bytes of every PNG data URI in the page, in page order.
inline std::vector<std::vector<unsigned char>> EmbeddedPngs(const std::string& html) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<std::vector<unsigned char>> pngs;
    for (const std::string& text : Pieces(html, "data:image/png;base64,", "\"")) {
        std::vector<unsigned char> bytes;
        unsigned group = 0;
        int bits = 0;
        for (const char c : text) {
            const std::size_t value = alphabet.find(c);
            if (value == std::string::npos) {
                break;
            }
            group = group << 6 | static_cast<unsigned>(value);
            bits += 6;
            if (bits >= 8) {
                bits -= 8;
                bytes.push_back(static_cast<unsigned char>(group >> bits));
            }
        }
        pngs.push_back(bytes);
    }
    return pngs;
}

}  // namespace reportpage
