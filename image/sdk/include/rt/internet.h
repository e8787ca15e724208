// The "internet" support library. A program that uses it lists it in its
// description: `library internet`.
#pragma once

#include <stdint.h>

#include "rt/args.h"
#include "rt/array.h"
#include "rt/markers.h"
#include "rt/slots.h"

namespace rt {

// The body of an HTTP GET of the whole address (a GBK text); an empty
// array holding no block when the fetch failed: no connection, a dropped
// one, or an error reply such as 404.
inline Array<uint8_t> http_get(const char* address) {
    auto block = rt::arguments(rt::text(address));
    return Array<uint8_t>::adopt(static_cast<intptr_t>(
        rt_library_command(RT_LIBRARY(internet), RT_INTERNET_HTTP_GET, block.get())));
}

}  // namespace rt
