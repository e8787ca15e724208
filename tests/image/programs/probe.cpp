// The probe program: its start routine and its window's creation handler
// call the runtime in a fixed order, so a test host can check every binding
// by the calls it sees.
#include "rt/markers.h"
#include "rt/program.h"
#include "rt/slots.h"

namespace {

// Kernel commands the test hosts understand.
constexpr int32_t kRecord = 1;        // records its argument block
constexpr int32_t kCallBack = 2;      // calls the routine at argument 1 with argument 2
constexpr int32_t kPropertyText = 1;  // a property number

class Shape {
  public:
    virtual ~Shape() = default;
    virtual int32_t area() const = 0;
};

class Rectangle final : public Shape {
  public:
    Rectangle(int32_t width, int32_t height) : width_(width), height_(height) {}
    int32_t area() const override { return width_ * height_; }

  private:
    int32_t width_;
    int32_t height_;
};

// Globals: zero-filled, set at run time.
Shape* g_shape;
int32_t g_constructed;
int32_t g_callbacks;

// A module initialiser: runs from the start routine, after the globals.
struct ModuleInit {
    ModuleInit() { g_constructed = 7; }
};
ModuleInit g_module_init;

RtArgument argument(uint32_t low, uint32_t high, uint32_t type) {
    return RtArgument{low, high, type};
}

void record(const char* text, int32_t number, int32_t flag) {
    struct {
        uint32_t count;
        RtArgument arguments[3];
    } block{3,
            {argument(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(text)), 0, RT_TYPE_TEXT),
             argument(static_cast<uint32_t>(number), 0, RT_TYPE_INT32),
             argument(static_cast<uint32_t>(flag), 0, RT_TYPE_BOOL)}};
    rt_kernel_command(kRecord, reinterpret_cast<const RtArgumentBlock*>(&block));
}

}  // namespace

extern "C" {

RT_CALL void app_initialise_globals() {
    g_shape = new Rectangle(6, 7);
}

RT_CALL void app_release_globals() {
    delete g_shape;
    g_shape = nullptr;
}

RT_CALL void probe_callback(int32_t value) {
    g_callbacks += value;
    record("回调", g_callbacks, 1);
}

RT_CALL void on_button_clicked() {}

RT_CALL void on_window_created() {
    record("你好", g_shape->area(), g_constructed == 7);

    rt_set_property(RT_ID(52010001), RT_ID(16010003), kPropertyText, -1, g_shape->area());
    int64_t read_back = rt_get_property(RT_ID(52010001), RT_ID(16010003), kPropertyText, -1);
    record("读回", static_cast<int32_t>(read_back), 0);

    intptr_t rect[2] = {3, 4};
    intptr_t sum = rt_dll_call(RT_DLL(set_rect), 2, rect);
    record("DLL", static_cast<int32_t>(sum), 1);

    struct {
        uint32_t count;
        RtArgument arguments[1];
    } unit{1, {argument(RT_ID(52010001), RT_ID(16010004), RT_TYPE(eCompress, 0001))}};
    int64_t packed = rt_library_command(RT_LIBRARY(eCompress), 5,
                                        reinterpret_cast<const RtArgumentBlock*>(&unit));
    record("库", static_cast<int32_t>(packed), 1);

    using Callback = void(RT_CALL*)(int32_t);
    Callback callback = &probe_callback;
    struct {
        uint32_t count;
        RtArgument arguments[2];
    } call{
        2,
        {argument(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(callback)), 0, RT_TYPE_INT32),
         argument(5, 0, RT_TYPE_INT32)}};
    rt_kernel_command(kCallBack, reinterpret_cast<const RtArgumentBlock*>(&call));

    void* block = rt_heap_new(100);
    block = rt_heap_resize(block, 200);
    rt_heap_free(block);
}

}  // extern "C"
