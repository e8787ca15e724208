// The runtime services of RT_SLOT_SERVICE, whose numbers and four values the
// image format fixes: the file search, an empty array, the release routine.
// Each value is checked for the kind its entry gives before the service uses
// it, as a kernel command's arguments are.
#include <cstring>

#include "runtime/kernel/commands/kernel_commands.h"
#include "runtime/kernel/runtime.h"

namespace kernel {

namespace {

// (pattern or null to go on, attribute filter, flag, search state): the next
// matching name as a new heap text, empty when the search is done.
int64_t find_file(const Arguments& a) {
    auto* state = a.variable<uint32_t>(3);
    FileSearches& searches = a.runtime().searches();
    if (!a.null(0)) {
        const std::string pattern = a.text(0);
        searches.end(*state);
        *state = searches.start(pattern, static_cast<uint32_t>(a.integer(1)));
    }
    const std::string name = searches.next(*state).value_or(std::string());
    if (name.empty())
        *state = 0;
    return a.runtime().new_text(name);
}

// (search state): ends the search; a null state ends none.
int64_t end_find(const Arguments& a) {
    if (a.null(0))
        return 0;
    auto* state = a.variable<uint32_t>(0);
    a.runtime().searches().end(*state);
    *state = 0;
    return 0;
}

// (array variable, element size): releases the array the variable holds and
// gives it a new one without elements.
int64_t empty_array(const Arguments& a) {
    auto* variable = a.variable<RtArrayHeader*>(0);
    if (a.integer(1) < 0)
        a.wrong(1, "an element size of 0 or more");
    Runtime& runtime = a.runtime();
    runtime.heap_free(*variable);
    *variable = nullptr;
    auto* array = static_cast<RtArrayHeader*>(runtime.heap_new(sizeof(RtArrayHeader)));
    array->dimensions = 1;
    array->count = 0;
    *variable = array;
    return 0;
}

// (routine): the release routine that runs once when the program ends; null
// for none.
int64_t on_release(const Arguments& a) {
    a.runtime().set_release_routine(
        reinterpret_cast<RtReleaseRoutine>(const_cast<void*>(a.routine(0))));
    return 0;
}

const RuntimeService kServices[] = {
    {RT_SERVICE_FIND_FILE,
     "next file name",
     {RT_TYPE_TEXT, RT_TYPE_INT32, kTypeUnused, kTypeVariable},
     find_file},
    {RT_SERVICE_END_FIND,
     "end file search",
     {kTypeVariable, kTypeUnused, kTypeUnused, kTypeUnused},
     end_find},
    {RT_SERVICE_EMPTY_ARRAY,
     "empty array",
     {kTypeVariable, RT_TYPE_INT32, kTypeUnused, kTypeUnused},
     empty_array},
    {RT_SERVICE_ON_RELEASE,
     "release routine",
     {kTypeRoutine, kTypeUnused, kTypeUnused, kTypeUnused},
     on_release},
};

}  // namespace

const RuntimeService* find_runtime_service(int32_t number) {
    for (const RuntimeService& service : kServices) {
        if (service.number == number)
            return &service;
    }
    return nullptr;
}

}  // namespace kernel
