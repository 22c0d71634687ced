// Reads the checked-in tables of known values beside the tests.
//
// A table is a text file of rows: a name followed by values, separated by
// blanks; '#' starts a comment line. Values stay text until a test reads them
// as the type it expects, so one row may mix integers and floats.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace velmo::golden {

struct Row {
    std::string name;
    std::vector<std::string> values;

    std::uint64_t u64(std::size_t i) const { return std::stoull(values.at(i), nullptr, 0); }
    std::int64_t i64(std::size_t i) const { return std::stoll(values.at(i), nullptr, 10); }
    // strtod reads "nan", "inf" and "-0.0", and rounds decimal text correctly.
    double f64(std::size_t i) const { return std::strtod(values.at(i).c_str(), nullptr); }
    std::size_t size() const { return values.size(); }
};

// Every row of `file` (a name under the golden directory) named `name`.
inline std::vector<Row> rows(const std::string& file, const std::string& name) {
    std::ifstream in(std::string(VELMO_GOLDEN_DIR) + "/" + file);
    if (!in) throw std::runtime_error("cannot open golden table " + file);
    std::vector<Row> found;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        Row row;
        if (!(words >> row.name) || row.name[0] == '#') continue;
        for (std::string value; words >> value;) row.values.push_back(value);
        if (row.name == name) found.push_back(std::move(row));
    }
    if (found.empty()) throw std::runtime_error("no row " + name + " in " + file);
    return found;
}

inline Row row(const std::string& file, const std::string& name) { return rows(file, name).at(0); }

// Equal as bit patterns, so that -0.0 and +0.0 differ; any two NaNs match.
inline ::testing::AssertionResult same_double(double expected, double actual) {
    if (std::isnan(expected) && std::isnan(actual)) return ::testing::AssertionSuccess();
    if (std::bit_cast<std::uint64_t>(expected) == std::bit_cast<std::uint64_t>(actual)) {
        return ::testing::AssertionSuccess();
    }
    std::ostringstream text;
    text.precision(17);
    text << "expected " << expected << ", got " << actual;
    return ::testing::AssertionFailure() << text.str();
}

}  // namespace velmo::golden
