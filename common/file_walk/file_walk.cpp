#include "common/file_walk/file_walk.h"

#include "common/manifest/gbk_text.h"
#include "common/manifest/text_buffer.h"
#include "rt/args.h"
#include "rt/slots.h"
#include "rt/text.h"

namespace common {

namespace {

constexpr intptr_t kFoldersOnly = 0x10;

bool is_dot_name(const char* name) {
    return (name[0] == '.' && name[1] == '\0') ||
           (name[0] == '.' && name[1] == '.' && name[2] == '\0');
}

// One search of the runtime: every name that `query` matches, handed to
// `found` one by one while the search stays open, until `found` gives false
// (the search is ended then, so that its handle is not left open).
template <typename Found>
void search(const char* query, intptr_t attributes, Found&& found) {
    uint32_t state = 0;
    intptr_t first = reinterpret_cast<intptr_t>(query);
    for (;;) {
        rt::Text name = rt::Text::adopt(rt_service(RT_SERVICE_FIND_FILE, first, attributes, 0,
                                                   reinterpret_cast<intptr_t>(&state)));
        first = 0;
        if (name.empty())
            return;
        if (!is_dot_name(name.c_str()) && !found(name.c_str())) {
            rt_service(RT_SERVICE_END_FIND, reinterpret_cast<intptr_t>(&state), 0, 0, 0);
            return;
        }
    }
}

void process_pending_events() {
    rt_kernel_command(RT_KERNEL_PROCESS_EVENTS, nullptr);
}

void show_wait_cursor(bool on) {
    auto block = rt::arguments(rt::logical(on));
    rt_kernel_command(RT_KERNEL_WAIT_CURSOR, block.get());
}

struct Walk {
    const char* patterns;
    bool recurse;
    FileHandler handler;
    void* context;
    WalkEnded ended;
    bool waiting = false;  // the wait cursor is showing
    bool stopped = false;  // `ended` said so: nothing more is searched

    // `folder` ends with a backslash; it is restored before returning.
    void folder_files(TextBuffer& folder) {
        const uint32_t length = folder.length();
        TextBuffer query;
        const char* pattern = patterns;
        do {
            const char* end = pattern;
            while (*end != '\0' && *end != '|')
                end += gbk_char_length(end);
            query.clear();
            query.append(folder.c_str(), length);
            if (end == pattern)
                query << "*.*";
            else
                query.append(pattern, static_cast<uint32_t>(end - pattern));
            search(query.c_str(), 0, [&](const char* name) {
                handler(context, folder.c_str(), name);
                return true;
            });
            pattern = *end == '|' ? end + 1 : end;
        } while (*pattern != '\0');

        if (!recurse)
            return;
        query.clear();
        query.append(folder.c_str(), length) << '*';
        search(query.c_str(), kFoldersOnly, [&](const char* name) {
            process_pending_events();
            // What was served may have ended the walk's purpose (its window
            // closed): a big tree would keep the program for many seconds.
            if (ended != nullptr && ended(context))
                stopped = true;
            if (stopped)
                return false;
            if (!waiting) {
                show_wait_cursor(true);
                waiting = true;
            }
            folder << name << '\\';
            folder_files(folder);
            folder.truncate(length);
            return !stopped;
        });
    }
};

}  // namespace

void walk_files(const char* folder, const char* patterns, bool recurse, FileHandler handler,
                void* context, WalkEnded ended) {
    TextBuffer path;
    path << folder;
    if (!ends_with_separator(path.c_str()))
        path << '\\';
    Walk walk{patterns, recurse, handler, context, ended};
    walk.folder_files(path);
    if (walk.waiting)
        show_wait_cursor(false);
}

}  // namespace common
