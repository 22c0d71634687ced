// A source location as fatal diagnostics print it: "file:line:column".
//
// Its own header so that the compatibility texts, which fix some locations,
// depend on nothing but the standard library.
#pragma once

#include <source_location>
#include <string>

namespace velmo {

struct SourceLocation {
    const char* file;
    unsigned line;
    unsigned column;

    static SourceLocation from(const std::source_location& where) noexcept {
        return {where.file_name(), static_cast<unsigned>(where.line()),
                static_cast<unsigned>(where.column())};
    }

    // "file:line:column".
    std::string text() const {
        return std::string(file) + ':' + std::to_string(line) + ':' + std::to_string(column);
    }
};

}  // namespace velmo
