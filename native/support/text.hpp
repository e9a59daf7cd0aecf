// Text built at compile time: the docstrings, signature lines and qualified names the modules'
// catalogues render from their rows.
#pragma once

#include <cstddef>
#include <string_view>

namespace orbivex::py {

/// Text in a fixed buffer of N characters, NUL-terminated. Appending past the buffer throws,
/// which in a constant evaluation stops the build.
template <std::size_t N>
struct Text {
    char chars[N]{};
    std::size_t size = 0;

    constexpr Text& operator+=(std::string_view s) {
        for (char c : s) {
            if (size + 1 >= N) throw "text longer than its buffer";
            chars[size++] = c;
        }
        return *this;
    }
    constexpr const char* c_str() const { return chars; }
};

}  // namespace orbivex::py
