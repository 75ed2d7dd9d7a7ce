#include "Report.h"

#include <cmath>
#include <fstream>
#include <sstream>

namespace sigquality {

namespace {

constexpr int kCaseWidth = 22;
constexpr int kSubjectWidth = 26;
constexpr int kFigureWidth = 11;

std::string FigureText(const Figure& f, int decimals)
{
    if (!f.text.empty())
        return f.text;
    if (std::isnan(f.value))
        return "-";
    // A value that rounds to zero prints as 0, not as -0.
    const double shown = std::abs(f.value) < 0.5 * std::pow(10.0, -decimals) ? 0.0 : f.value;
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, shown);
    return text;
}

// The first and the second word of a header, for its two lines.
std::string HeaderLine(const std::string& header, int line)
{
    const std::size_t space = header.find(' ');
    if (space == std::string::npos)
        return line == 0 ? header : "";
    return line == 0 ? header.substr(0, space) : header.substr(space + 1);
}

const char* GroupTitle(const std::string& group)
{
    if (group == "rate")
        return "Rate change (float I/O unless said)";
    if (group == "channel")
        return "Channel cut from an I/Q recording";
    return "Receivers on generated recordings";
}

std::string JsonString(const std::string& s)
{
    std::string out = "\"";
    for (const char ch : s)
    {
        if (ch == '"' || ch == '\\')
            out += '\\';
        if (static_cast<unsigned char>(ch) < 0x20)
        {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", ch);
            out += code;
            continue;
        }
        out += ch;
    }
    return out + "\"";
}

std::string JsonNumber(double v)
{
    if (!std::isfinite(v))
        return "null";
    char text[48];
    std::snprintf(text, sizeof text, "%.9g", v);
    return text;
}

} // namespace

void PrintGroup(std::FILE* out, const std::string& group, const std::vector<Case>& cases,
                const std::vector<Row>& rows)
{
    const std::vector<Column>& columns = ColumnsOf(group);
    std::fprintf(out, "\n%s\n", GroupTitle(group));
    for (int line = 0; line < 2; ++line)
    {
        std::fprintf(out, "%-*s %-*s", kCaseWidth, line == 0 ? "case" : "", kSubjectWidth,
                     line == 0 ? "subject" : "");
        for (const Column& c : columns)
            std::fprintf(out, " %*s", kFigureWidth, HeaderLine(c.header, line).c_str());
        std::fprintf(out, "\n");
    }
    for (const Case& c : cases)
    {
        if (c.group != group)
            continue;
        bool named = false;
        const auto caseColumn = [&]() {
            const char* name = named ? "" : c.name.c_str();
            named = true;
            return name;
        };
        if (!c.targets.empty())
        {
            std::fprintf(out, "%-*s %-*s", kCaseWidth, caseColumn(), kSubjectWidth, "target");
            for (const Column& col : columns)
            {
                const auto it = c.targets.find(col.key);
                std::fprintf(out, " %*s", kFigureWidth,
                             it == c.targets.end() ? "" : it->second.text.c_str());
            }
            std::fprintf(out, "\n");
        }
        for (const Row& row : rows)
        {
            if (row.caseName != c.name)
                continue;
            std::fprintf(out, "%-*s %-*s", kCaseWidth, caseColumn(), kSubjectWidth,
                         row.subject.c_str());
            if (row.figures.empty() && !row.note.empty())
            {
                std::fprintf(out, " %s\n", row.note.c_str());
                continue;
            }
            for (const Column& col : columns)
            {
                const auto it = row.figures.find(col.key);
                std::fprintf(
                    out, " %*s", kFigureWidth,
                    it == row.figures.end() ? "-" : FigureText(it->second, col.decimals).c_str());
            }
            if (!row.note.empty())
                std::fprintf(out, "  (%s)", row.note.c_str());
            std::fprintf(out, "\n");
        }
    }
    std::fprintf(out, "%s\n", LegendOf(group));
}

bool WriteJson(const std::string& path, const std::vector<Case>& cases,
               const std::vector<Row>& rows, const Settings& settings, std::string& error)
{
    std::ostringstream j;
    j << "{\n  \"quick\": " << (settings.quick ? "true" : "false") << ",\n  \"cases\": [";
    bool firstCase = true;
    for (const Case& c : cases)
    {
        bool any = false;
        for (const Row& row : rows)
            any = any || row.caseName == c.name;
        if (!any)
            continue;
        j << (firstCase ? "" : ",") << "\n    {\"name\": " << JsonString(c.name)
          << ", \"group\": " << JsonString(c.group) << ", \"inRate\": " << JsonNumber(c.inRate)
          << ", \"outRate\": " << JsonNumber(c.job.outRate) << ",\n     \"targets\": {";
        firstCase = false;
        bool first = true;
        for (const auto& [key, target] : c.targets)
        {
            j << (first ? "" : ", ") << JsonString(key) << ": " << JsonString(target.text);
            first = false;
        }
        j << "},\n     \"rows\": [";
        bool firstRow = true;
        for (const Row& row : rows)
        {
            if (row.caseName != c.name)
                continue;
            j << (firstRow ? "" : ",") << "\n       {\"subject\": " << JsonString(row.subject)
              << ", \"note\": " << JsonString(row.note) << ",\n        \"figures\": {";
            firstRow = false;
            first = true;
            for (const Column& col : ColumnsOf(c.group))
            {
                const auto it = row.figures.find(col.key);
                j << (first ? "" : ", ") << JsonString(col.key) << ": "
                  << (it == row.figures.end() ? "null" : JsonNumber(it->second.value));
                first = false;
            }
            // Figures that have no column of their own (where the worst alias lay).
            for (const auto& [key, figure] : row.figures)
            {
                bool column = false;
                for (const Column& col : ColumnsOf(c.group))
                    column = column || col.key == key;
                if (!column)
                    j << ", " << JsonString(key) << ": " << JsonNumber(figure.value);
            }
            j << "},\n        \"bounds\": {";
            first = true;
            for (const auto& [key, figure] : row.figures)
            {
                if (figure.text.empty())
                    continue;
                j << (first ? "" : ", ") << JsonString(key) << ": " << JsonString(figure.text);
                first = false;
            }
            j << "},\n        \"meets\": {";
            first = true;
            for (const auto& [key, target] : c.targets)
            {
                const auto it = row.figures.find(key);
                if (!target.met || it == row.figures.end() || std::isnan(it->second.value))
                    continue;
                j << (first ? "" : ", ") << JsonString(key) << ": "
                  << (target.met(it->second.value) ? "true" : "false");
                first = false;
            }
            j << "}}";
        }
        j << "\n     ]}";
    }
    j << "\n  ]\n}\n";
    std::ofstream file(path, std::ios::trunc);
    file << j.str();
    if (!file)
    {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

} // namespace sigquality
