// The probe program: its start routine and its window's creation handler
// call the runtime in a fixed order, so a test host can check every binding
// by the calls it sees.
#include "rt/args.h"
#include "rt/array.h"
#include "rt/markers.h"
#include "rt/program.h"
#include "rt/slots.h"
#include "rt/text.h"

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

void record(const char* text, int32_t number, bool flag) {
    auto block = rt::arguments(rt::text(text), rt::integer(number), rt::logical(flag));
    rt_kernel_command(kRecord, block.get());
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
    record("回调", g_callbacks, true);
}

RT_CALL void on_button_clicked() {}

RT_CALL void on_window_created() {
    record("你好", g_shape->area(), g_constructed == 7);

    rt_set_property(RT_ID(52010001), RT_ID(16010003), kPropertyText, -1, g_shape->area());
    int64_t read_back = rt_get_property(RT_ID(52010001), RT_ID(16010003), kPropertyText, -1);
    record("读回", static_cast<int32_t>(read_back), false);

    intptr_t rect[2] = {3, 4};
    intptr_t sum = rt_dll_call(RT_DLL(set_rect), 2, rect);
    record("DLL", static_cast<int32_t>(sum), true);

    auto unit = rt::arguments(rt::unit(RT_TYPE(eCompress, 0001), RT_ID(52010001), RT_ID(16010004)));
    int64_t packed = rt_library_command(RT_LIBRARY(eCompress), 5, unit.get());
    record("库", static_cast<int32_t>(packed), true);

    using Callback = void(RT_CALL*)(int32_t);
    Callback callback = &probe_callback;
    auto call =
        rt::arguments(rt::address_argument(reinterpret_cast<const void*>(callback), RT_TYPE_INT32),
                      rt::integer(5));
    rt_kernel_command(kCallBack, call.get());

    {
        // Heap texts and arrays release themselves.
        rt::Text copy = rt::Text::copy("复制");
        rt::Array<int32_t> numbers = rt::Array<int32_t>::of_size(3);
        for (int32_t i = 1; i <= 3; ++i)
            numbers[i] = i * 10;
        record(copy.c_str(), numbers[1] + numbers[2] + numbers[3], numbers.count() == 3);
    }

    void* block = rt_heap_new(100);
    block = rt_heap_resize(block, 200);
    rt_heap_free(block);
}

}  // extern "C"
