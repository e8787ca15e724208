#include <iconv.h>

#include "base/encoding.h"

namespace base {

namespace {

bool is_ascii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

std::optional<std::string> convert(std::string_view text, const char* to, const char* from) {
    if (is_ascii(text))
        return std::string(text);
    iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string in(text);
    // GBK takes at most 2 bytes per character, UTF-8 at most 3 for GBK's.
    std::string out(text.size() * 3 + 4, '\0');
    char* in_at = in.data();
    size_t in_left = in.size();
    char* out_at = out.data();
    size_t out_left = out.size();
    size_t result = iconv(converter, &in_at, &in_left, &out_at, &out_left);
    iconv_close(converter);
    if (result == static_cast<size_t>(-1) || in_left != 0)
        return std::nullopt;
    out.resize(out.size() - out_left);
    return out;
}

}  // namespace

std::optional<std::string> gbk_to_utf8(std::string_view gbk) {
    return convert(gbk, "UTF-8", "GBK");
}

std::optional<std::string> utf8_to_gbk(std::string_view utf8) {
    return convert(utf8, "GBK", "UTF-8");
}

}  // namespace base
