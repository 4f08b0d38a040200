#include "platform/oem_text.h"

#include "platform/ascii.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace platform {
namespace {

// One converter for the process: opening iconv per name would dominate the
// listing of large archives. Everything runs on one thread.
class OemConverter {
public:
    OemConverter() : handle_(iconv_open("UTF-8", QUENDAL_OEM_CODEPAGE)) {}
    ~OemConverter() {
        if (Usable()) iconv_close(handle_);
    }
    OemConverter(const OemConverter&) = delete;
    OemConverter& operator=(const OemConverter&) = delete;

    std::string Convert(std::string_view text) {
        if (!Usable()) return std::string(text);
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        std::string out(text.size() * 5 + 4, '\0');
        char* in = const_cast<char*>(text.data());
        size_t inLeft = text.size();
        char* outPtr = out.data();
        size_t outLeft = out.size();
        while (inLeft > 0) {
            if (iconv(handle_, &in, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1)) break;
            if (errno == E2BIG) break;  // cannot happen: 5 bytes per input byte suffice
            // An invalid or truncated sequence: its first byte is kept as a
            // replacement character and the byte in hex, then go on. The code
            // page never yields that character itself, so two different names
            // never come out as one.
            iconv(handle_, nullptr, nullptr, nullptr, nullptr);
            char escaped[6];
            std::snprintf(escaped, sizeof escaped, "\xEF\xBF\xBD%02X", static_cast<unsigned char>(*in));
            outPtr = std::copy_n(escaped, 5, outPtr);
            outLeft -= 5;
            ++in;
            --inLeft;
        }
        out.resize(out.size() - outLeft);
        return out;
    }

private:
    bool Usable() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t handle_;
};

}  // namespace

std::string OemToUtf8(std::string_view oemText) {
    if (IsAscii(oemText)) return std::string(oemText);
    static OemConverter converter;
    return converter.Convert(oemText);
}

}  // namespace platform
