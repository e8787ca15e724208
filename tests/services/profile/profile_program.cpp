// Reads and writes profile files in the folder "配置" of the current folder
// (GBK names, a backslash between folders) through the kernel commands; what
// the reads give and what the writes report become the edit box's text.
#include "rt/markers.h"
#include "rt/profile.h"
#include "rt/slots.h"
#include "rt/text.h"
#include "rt/text_line.h"

namespace {

const char* const kSettings = "配置\\设置.ini";

}  // namespace

extern "C" RT_CALL void on_window_created() {
    rt::TextLine<> report;
    report << "[" << rt::read_profile(kSettings, "main", "TITLE").c_str() << "]";
    report << "[" << rt::read_profile(kSettings, "版本", "版本号").c_str() << "]";
    report << "[" << rt::read_profile(kSettings, "Main", "缺少").c_str() << "]";
    report << "[" << rt::read_profile("配置\\没有.ini", "Main", "Title").c_str() << "]";
    report << int64_t{rt::write_profile(kSettings, "main", "title", "新标题")};
    report << int64_t{rt::write_profile(kSettings, "Main", "增加", "是")};
    report << int64_t{rt::write_profile(kSettings, "新节", "键", "值")};
    report << int64_t{rt::write_profile("配置\\新的.ini", "文件", "文件名", "a.exe")};
    report << int64_t{rt::write_profile(kSettings, "Main", "坏", "a\r\nb")};
    report << "[" << rt::read_profile(kSettings, "MAIN", "Title").c_str() << "]";
    rt_set_property(RT_ID(52010001), RT_ID(16010002), RT_PROPERTY_TEXT, -1,
                    static_cast<int64_t>(reinterpret_cast<uintptr_t>(report.c_str())));
}
