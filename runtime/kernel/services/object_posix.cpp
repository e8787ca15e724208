// The objects of systems without COM: the runtime's own implementations.
#include "runtime/kernel/services/http_request.h"
#include "runtime/kernel/services/object.h"

namespace kernel {

std::unique_ptr<Object> create_object(std::string_view prog_id) {
    if (same_name(prog_id, "MSXML2.ServerXMLHTTP"))
        return HttpRequest::create();
    return nullptr;
}

}  // namespace kernel
