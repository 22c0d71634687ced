// The one description of a function's parameters: its name, the parameter
// names in order (also the keyword names) and how many are required. The
// binder, the conversions' messages and the text signature all read it.
#pragma once

#include <array>
#include <cstddef>

namespace velmo::py {

// The most parameters a function can have: the binder keeps a bit per slot
// and a fixed array of the missing ones.
inline constexpr std::size_t max_parameters = 8;

template <std::size_t N>
struct Signature {
    static_assert(N <= max_parameters);

    const char* function_name;
    std::array<const char*, N> parameter_names;
    std::size_t required_count;
    // Parameters the text signature shows without a default. `init` shows
    // its optional `fps` as if it were required.
    std::size_t shown_without_default = required_count;

    static constexpr std::size_t size = N;
};

// The part of a signature the binder needs, without its size in the type.
struct SignatureView {
    const char* function_name;
    const char* const* parameter_names;
    std::size_t parameter_count;
    std::size_t required_count;

    template <std::size_t N>
    constexpr SignatureView(const Signature<N>& signature) noexcept  // NOLINT: a view
        : function_name(signature.function_name),
          parameter_names(signature.parameter_names.data()),
          parameter_count(N),
          required_count(signature.required_count) {}
};

namespace detail {

// "noise(x, y=None, z=None)\n--\n\n": the interpreter shows the part in
// parentheses as `__text_signature__` and no `__doc__`.
template <std::size_t N>
class TextSignatureWriter {
public:
    constexpr explicit TextSignatureWriter(const Signature<N>& signature) : signature_(signature) {}

    // Calls `append` with each piece of the text in order.
    template <typename Append>
    constexpr void write(Append&& append) const {
        append(signature_.function_name);
        append("(");
        for (std::size_t i = 0; i < N; ++i) {
            if (i > 0) append(", ");
            append(signature_.parameter_names[i]);
            if (i >= signature_.shown_without_default) append("=None");
        }
        append(")\n--\n\n");
    }

private:
    const Signature<N>& signature_;
};

template <const auto& S>
constexpr std::size_t text_signature_length() {
    std::size_t length = 0;
    TextSignatureWriter(S).write([&](const char* piece) {
        while (*piece++ != '\0') ++length;
    });
    return length;
}

template <const auto& S>
constexpr auto text_signature() {
    std::array<char, text_signature_length<S>() + 1> text{};
    std::size_t at = 0;
    TextSignatureWriter(S).write([&](const char* piece) {
        while (*piece != '\0') text[at++] = *piece++;
    });
    return text;
}

}  // namespace detail

// The documentation string of the function described by `S`, for its method record.
template <const auto& S>
inline constexpr auto documentation = detail::text_signature<S>();

}  // namespace velmo::py
