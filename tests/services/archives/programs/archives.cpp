// See archives.desc. Each fact the program finds becomes the text of
// 标签_报告, so the transcript lists them in order.
#include "rt/archive.h"
#include "rt/markers.h"
#include "rt/network.h"
#include "rt/program.h"
#include "rt/slots.h"
#include "rt/text_line.h"

namespace {

using Line = rt::TextLine<' '>;

void report(const Line& line) {
    rt_set_property(RT_ID(52010001), RT_ID(16010001), RT_PROPERTY_TEXT, -1,
                    static_cast<int64_t>(reinterpret_cast<uintptr_t>(line.c_str())));
}

}  // namespace

extern "C" RT_CALL void created() {
    Line packed;
    packed << "打包" << static_cast<int64_t>(rt::zip_file("数据\\输入.txt", "包.zip"));
    report(packed);
    Line unpacked;
    unpacked << "解包" << static_cast<int64_t>(rt::unzip("包.zip", "出\\子"));
    report(unpacked);
    Line refused;
    refused << "拒绝" << static_cast<int64_t>(rt::unzip("坏.zip", "出"));
    report(refused);
    Line missing;
    missing << "缺少" << static_cast<int64_t>(rt::zip_file("没有.txt", "空.zip"));
    report(missing);

    rt::Text local = rt::resolve_host("localhost");
    rt::Text dotted = rt::resolve_host("127.0.0.1");
    rt::Text bad = rt::resolve_host("no such host");
    Line names;
    names << "解析 " << local.c_str() << " " << dotted.c_str() << " [" << bad.c_str() << "]";
    report(names);
    Line echo;
    echo << "回显" << static_cast<int64_t>(rt::ping("127.0.0.1", 2000) >= 0)
         << static_cast<int64_t>(rt::ping("localhost", 2000));
    report(echo);

    auto block = rt::arguments(rt::integer(static_cast<int32_t>(RT_ID(52010001))));
    rt_kernel_command(RT_KERNEL_CLOSE_WINDOW, block.get());
}
