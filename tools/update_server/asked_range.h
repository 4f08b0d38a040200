#pragma once

#include <cstddef>
#include <string_view>

// What a request's Range header asks of a file of a given size, as the
// update server answers it.
struct TAskedRange {
    enum class Kind {
        Whole,          // no header, several ranges or one this server cannot read: 200 and every byte
        Part,           // one range: 206 with bytes first .. first + length - 1
        Unsatisfiable,  // one range that starts past the end, or an empty suffix: 416
    };
    Kind kind = Kind::Whole;
    size_t first = 0;
    size_t length = 0;

    // Reads "bytes=a-b", "bytes=a-" and "bytes=-n"; a range reaching past the
    // end is cut at it.
    static TAskedRange Read(std::string_view header, size_t size);
};
