#include "image/format/image.h"

namespace image {

namespace {

// Descriptions are GBK bytes; the UTF-8 text stands beside each.
const LibraryEntry kKnownLibraries[] = {
    // 系统核心支持库
    {"krnln", "d09f2340818511d396f6aaf844c7e325", "4", "6",
     "\xcf\xb5\xcd\xb3\xba\xcb\xd0\xc4\xd6\xa7\xb3\xd6\xbf\xe2"},
    // 互联网支持库
    {"internet", "707ca37322474f6ca841f0e224f4b620", "1", "1",
     "\xbb\xa5\xc1\xaa\xcd\xf8\xd6\xa7\xb3\xd6\xbf\xe2"},
    // 压缩解压支持库
    {"eCompress", "7B68736E818E41c5A28B0AE4D43C128C", "1", "1",
     "\xd1\xb9\xcb\xf5\xbd\xe2\xd1\xb9\xd6\xa7\xb3\xd6\xbf\xe2"},
    // 扩展界面支持库一
    {"iext", "27bb20fdd3e145e4bee3db39ddd6e64c", "1", "6",
     "\xc0\xa9\xd5\xb9\xbd\xe7\xc3\xe6\xd6\xa7\xb3\xd6\xbf\xe2\xd2\xbb"},
    // 操作系统界面功能支持库(PB版)
    {"pbshell", "52F260023059454187AF826A3C07AF2A", "1", "0",
     "\xb2\xd9\xd7\xf7\xcf\xb5\xcd\xb3\xbd\xe7\xc3\xe6\xb9\xa6\xc4\xdc\xd6\xa7\xb3\xd6\xbf\xe2"
     "(PB\xb0\xe6)"},
    // 超文本浏览框支持库
    {"HtmlView", "5014D8FA6DCA40b68FA626D8183666EB", "1", "1",
     "\xb3\xac\xce\xc4\xb1\xbe\xe4\xaf\xc0\xc0\xbf\xf2\xd6\xa7\xb3\xd6\xbf\xe2"},
    // 应用接口支持库
    {"eAPI", "F7FC1AE45C5C4758AF03EF19F18A395D", "1", "2",
     "\xd3\xa6\xd3\xc3\xbd\xd3\xbf\xda\xd6\xa7\xb3\xd6\xbf\xe2"},
};

}  // namespace

const LibraryEntry* known_library(std::string_view name) {
    for (const LibraryEntry& entry : kKnownLibraries) {
        if (entry.name == name)
            return &entry;
    }
    return nullptr;
}

}  // namespace image
