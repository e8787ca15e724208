// Message boxes: one icon value plus one button value (RT_MB_* of the
// runtime contract); the result is the RT_MB_ANSWER_* of the button pressed.
//
//   rt::message_box("更新文件生成完毕！", RT_MB_ICON_INFORMATION | RT_MB_OK);
//   if (rt::message_box(question, RT_MB_YES_NO, "删除") == RT_MB_ANSWER_YES) ...
#pragma once

#include <stdint.h>

#include "rt/args.h"
#include "rt/slots.h"

namespace rt {

// A box without a title of its own (`title` null) or with `title`.
inline int32_t message_box(const char* text, int32_t style, const char* title = nullptr) {
    auto block = arguments(rt::text(text), integer(style), rt::text(title));
    return static_cast<int32_t>(rt_kernel_command(RT_KERNEL_MESSAGE_BOX, block.get()));
}

}  // namespace rt
