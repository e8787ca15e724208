// Automation scripts: the user's part in a run, one step a line (UTF-8).
//
//   # a comment; blank lines are skipped
//   click 按钮1                  click a unit of the window in front
//   type 编辑框1 "text"          replace an edit box's content, as typed
//   select 列表框1 2             select a list box row (counted from 0)
//   answer ok|cancel|yes|no      answer the message box that is up
//   close                        close the window in front, as its user would
//   activate 52010002            bring another open window to the front
//   expect-window 52010002       the window in front must be this one
//   expect-text 编辑框1 "text"   the unit's text must be this
//   choose-folder D:\发布         choose this folder in the folder dialog that is up
//   cancel-folder                cancel the folder dialog that is up
//   capture "main.png"           a picture of the window in front, as a PNG file
//                                (where windows are drawn; elsewhere nothing)
//   tab                          press Tab in the window in front
//   back-tab                     press Shift+Tab in the window in front
//   expect-focus 编辑框1          the unit of the window in front with the
//                                keyboard focus must be this one
//   program update.exe           the lines up to the next `program` line are
//                                steps of the program of this file name only
//
// Programs that start one another inherit the one script that the
// environment names; `program` parts give each its own steps (A-Z case
// ignored in the name). Steps before the first part are every program's.
//
// Units are named by their unit names; a name with spaces is quoted. Quoted
// texts take \" \\ \n \r \t. Window identifiers are hexadecimal.
// A folder is any path, quoted or not; a character of it that has no GBK
// form becomes '?', as in the names the system gives programs that take
// their texts in GBK.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "base/error_or.h"

namespace kernel::automation {

enum class StepKind {
    Click,
    Type,
    Select,
    Answer,
    Close,
    Activate,
    ExpectWindow,
    ExpectText,
    ChooseFolder,  // text: the folder's path
    CancelFolder,
    Capture,
    Tab,
    BackTab,
    ExpectFocus,
};

struct Step {
    StepKind kind = StepKind::Close;
    int line = 0;        // in the script, from 1
    std::string source;  // the line as written, for messages (UTF-8)
    std::string unit;    // unit name, GBK
    std::string text;    // GBK; for a capture, the file (UTF-8)
    int32_t row = 0;
    uint32_t window = 0;
    int32_t answer = 0;  // RT_MB_ANSWER_*
};

// The steps of the program whose executable file is named `program`
// (UTF-8, without its folder), or the first line that is not one
// ("line 3: ..."); every line is checked, whichever program it is for.
base::Result<std::vector<Step>> parse_script(std::string_view utf8, std::string_view program = {});

}  // namespace kernel::automation
