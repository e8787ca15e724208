// Objects on Windows: the system's COM objects, created by ProgID and driven
// through IDispatch. Texts cross as BSTRs through code page 936; byte arrays
// as one-dimensional SAFEARRAYs of bytes.
// windows.h first: the OLE headers build on it.
#include <windows.h>

#include <oleauto.h>

#include <algorithm>
#include <cstring>

#include "base/encoding.h"
#include "base/url.h"
#include "runtime/kernel/services/object.h"

namespace kernel {

namespace {

using base::ErrorOr;
using base::fail;

ObjectError error_of(HRESULT hr) {
    switch (hr) {
        case DISP_E_UNKNOWNNAME:
        case DISP_E_MEMBERNOTFOUND:
            return ObjectError::UnknownMember;
        case DISP_E_BADPARAMCOUNT:
        case DISP_E_TYPEMISMATCH:
        case DISP_E_PARAMNOTOPTIONAL:
        case DISP_E_BADVARTYPE:
            return ObjectError::WrongArguments;
        case E_NOTIMPL:
            return ObjectError::NotImplemented;
        default:
            return ObjectError::Failed;
    }
}

// Fills `out` (an empty VARIANT) from `value`.
bool to_variant(const ObjectValue& value, VARIANT& out) {
    switch (value.kind) {
        case ObjectValue::Kind::None:
            out.vt = VT_ERROR;  // an optional argument left out
            out.scode = DISP_E_PARAMNOTFOUND;
            return true;
        case ObjectValue::Kind::Integer:
            out.vt = VT_I4;
            out.lVal = static_cast<LONG>(value.integer);
            return true;
        case ObjectValue::Kind::Logical:
            out.vt = VT_BOOL;
            out.boolVal = value.integer != 0 ? VARIANT_TRUE : VARIANT_FALSE;
            return true;
        case ObjectValue::Kind::Number:
            out.vt = VT_R8;
            out.dblVal = value.number;
            return true;
        case ObjectValue::Kind::Text: {
            const std::wstring text = base::gbk_to_wide_replacing(value.text);
            out.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            if (out.bstrVal == nullptr)
                return false;
            out.vt = VT_BSTR;
            return true;
        }
        case ObjectValue::Kind::Bytes: {
            SAFEARRAY* array =
                SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(value.bytes.size()));
            if (array == nullptr)
                return false;
            void* data = nullptr;
            if (FAILED(SafeArrayAccessData(array, &data))) {
                SafeArrayDestroy(array);
                return false;
            }
            if (!value.bytes.empty())
                std::memcpy(data, value.bytes.data(), value.bytes.size());
            SafeArrayUnaccessData(array);
            out.vt = VT_ARRAY | VT_UI1;
            out.parray = array;
            return true;
        }
    }
    return false;
}

ErrorOr<ObjectValue, ObjectError> bytes_of(SAFEARRAY* array) {
    if (array == nullptr)
        return ObjectValue::of_bytes({});
    LONG lower = 0;
    LONG upper = -1;
    if (SafeArrayGetDim(array) != 1 || SafeArrayGetElemsize(array) != 1 ||
        FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(array, 1, &upper)))
        return fail(ObjectError::Failed);
    const size_t count = upper >= lower ? static_cast<size_t>(upper - lower) + 1 : 0;
    std::vector<uint8_t> bytes(count);
    if (count > 0) {
        void* data = nullptr;
        if (FAILED(SafeArrayAccessData(array, &data)))
            return fail(ObjectError::Failed);
        std::memcpy(bytes.data(), data, count);
        SafeArrayUnaccessData(array);
    }
    return ObjectValue::of_bytes(std::move(bytes));
}

ErrorOr<ObjectValue, ObjectError> from_variant(const VARIANT& value) {
    switch (value.vt) {
        case VT_EMPTY:
        case VT_NULL:
            return ObjectValue::none();
        case VT_I1:
            return ObjectValue::of_integer(value.cVal);
        case VT_I2:
            return ObjectValue::of_integer(value.iVal);
        case VT_I4:
        case VT_INT:
            return ObjectValue::of_integer(value.lVal);
        case VT_I8:
            return ObjectValue::of_integer(value.llVal);
        case VT_UI1:
            return ObjectValue::of_integer(value.bVal);
        case VT_UI2:
            return ObjectValue::of_integer(value.uiVal);
        case VT_UI4:
        case VT_UINT:
            return ObjectValue::of_integer(value.ulVal);
        case VT_UI8:
            return ObjectValue::of_integer(static_cast<int64_t>(value.ullVal));
        case VT_BOOL:
            return ObjectValue::of_logical(value.boolVal != VARIANT_FALSE);
        case VT_R4:
            return ObjectValue::of_number(value.fltVal);
        case VT_R8:
        case VT_DATE:
            return ObjectValue::of_number(value.dblVal);
        case VT_BSTR:
            return ObjectValue::of_text(
                base::wide_to_gbk_replacing({value.bstrVal, SysStringLen(value.bstrVal)}));
        case VT_ARRAY | VT_UI1:
        case VT_ARRAY | VT_I1:
            return bytes_of(value.parray);
    }
    return fail(ObjectError::Failed);
}

// Ensures COM on the program's thread, once.
bool com_ready() {
    static const bool ready = [] {
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        return SUCCEEDED(hr) || hr == RPC_E_CHANGED_MODE;
    }();
    return ready;
}

class DispatchObject final : public Object {
  public:
    explicit DispatchObject(IDispatch* dispatch) : dispatch_(dispatch) {}
    ~DispatchObject() override { dispatch_->Release(); }
    DispatchObject(const DispatchObject&) = delete;
    DispatchObject& operator=(const DispatchObject&) = delete;

    ErrorOr<ObjectValue, ObjectError> call(std::string_view name,
                                           std::span<const ObjectValue> arguments) override {
        // An address opened goes as it goes on Linux: UTF-8, bytes above
        // 0x7F percent-escaped. Wine's request object would make a Chinese
        // file name into question marks, which start a query.
        std::vector<ObjectValue> escaped;
        if (same_name(name, "open") && arguments.size() >= 2 &&
            arguments[1].kind == ObjectValue::Kind::Text) {
            const std::optional<std::string> utf8 = base::gbk_to_utf8(arguments[1].text);
            if (utf8 && base::is_http_address(*utf8)) {
                std::optional<std::string> wire = base::wire_address(*utf8);
                if (!wire)
                    return fail(ObjectError::Failed);
                escaped.assign(arguments.begin(), arguments.end());
                escaped[1].text = std::move(*wire);
                arguments = escaped;
            }
        }
        auto outcome = invoke(name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, arguments);
        if (outcome.is_error() && outcome.error() == ObjectError::NotImplemented &&
            same_name(name, "waitForResponse"))
            return wait_for_response(arguments);
        if (outcome.is_error() && outcome.error() == ObjectError::NotImplemented)
            return fail(ObjectError::Failed);
        return outcome;
    }
    ErrorOr<ObjectValue, ObjectError> get(std::string_view name) override {
        return invoke(name, DISPATCH_PROPERTYGET, {});
    }

  private:
    // For an HTTP request object without waitForResponse of its own (Wine's
    // binds asynchronously through window messages): waits the same way,
    // dispatching this thread's messages until readyState is 4, for at most
    // the seconds asked and at most one second, like the Linux object.
    ErrorOr<ObjectValue, ObjectError> wait_for_response(std::span<const ObjectValue> arguments) {
        double seconds = -1;
        if (arguments.size() > 1)
            return fail(ObjectError::WrongArguments);
        if (arguments.size() == 1) {
            if (arguments[0].kind == ObjectValue::Kind::Integer)
                seconds = static_cast<double>(arguments[0].integer);
            else if (arguments[0].kind == ObjectValue::Kind::Number)
                seconds = arguments[0].number;
            else
                return fail(ObjectError::WrongArguments);
        }
        const ULONGLONG limit =
            seconds >= 0 && seconds < 1 ? static_cast<ULONGLONG>(seconds * 1000) : 1000;
        const ULONGLONG deadline = GetTickCount64() + limit;
        for (;;) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.message == WM_QUIT) {
                    PostQuitMessage(static_cast<int>(message.wParam));
                    break;
                }
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
            const auto state = invoke("readyState", DISPATCH_PROPERTYGET, {});
            if (state.is_error())
                return fail(ObjectError::Failed);
            if (state.value().integer == 4)
                return ObjectValue::of_logical(true);
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline)
                return ObjectValue::of_logical(false);
            MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                      static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 50)),
                                      QS_ALLINPUT);
        }
    }

    ErrorOr<DISPID, ObjectError> id_of(std::string_view name) {
        for (const auto& [known, id] : ids_)
            if (same_name(known, name))
                return id;
        std::wstring text = base::gbk_to_wide_replacing(name);
        LPOLESTR names[] = {text.data()};
        DISPID id = DISPID_UNKNOWN;
        const HRESULT hr = dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr))
            return fail(error_of(hr));
        ids_.emplace_back(std::string(name), id);
        return id;
    }

    ErrorOr<ObjectValue, ObjectError> invoke(std::string_view name, WORD flags,
                                             std::span<const ObjectValue> arguments) {
        const DISPID id = TRY(id_of(name));
        // IDispatch takes the arguments last first.
        std::vector<VARIANT> values(arguments.size());
        for (VARIANT& v : values)
            VariantInit(&v);
        auto clear = [&] {
            for (VARIANT& v : values)
                VariantClear(&v);
        };
        for (size_t i = 0; i < arguments.size(); ++i) {
            if (!to_variant(arguments[i], values[arguments.size() - 1 - i])) {
                clear();
                return fail(ObjectError::Failed);
            }
        }
        DISPPARAMS parameters{values.data(), nullptr, static_cast<UINT>(values.size()), 0};
        VARIANT outcome;
        VariantInit(&outcome);
        EXCEPINFO exception{};
        UINT wrong_argument = 0;
        HRESULT hr = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters,
                                       &outcome, &exception, &wrong_argument);
        clear();
        // A member's own failure comes back as an exception holding it.
        if (hr == DISP_E_EXCEPTION) {
            if (exception.pfnDeferredFillIn != nullptr)
                exception.pfnDeferredFillIn(&exception);
            if (FAILED(exception.scode))
                hr = exception.scode;
        }
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        if (FAILED(hr)) {
            VariantClear(&outcome);
            return fail(error_of(hr));
        }
        VARIANT plain;
        VariantInit(&plain);
        const bool copied =
            (outcome.vt & VT_BYREF) == 0 || SUCCEEDED(VariantCopyInd(&plain, &outcome));
        auto value = from_variant((outcome.vt & VT_BYREF) != 0 ? plain : outcome);
        VariantClear(&plain);
        VariantClear(&outcome);
        if (!copied)
            return fail(ObjectError::Failed);
        return value;
    }

    IDispatch* dispatch_;
    std::vector<std::pair<std::string, DISPID>> ids_;
};

}  // namespace

std::unique_ptr<Object> create_object(std::string_view prog_id) {
    if (prog_id.empty() || !com_ready())
        return nullptr;
    const std::wstring name = base::gbk_to_wide_replacing(prog_id);
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(name.c_str(), &clsid)))
        return nullptr;
    IDispatch* dispatch = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                IID_IDispatch, reinterpret_cast<void**>(&dispatch))) ||
        dispatch == nullptr)
        return nullptr;
    return std::make_unique<DispatchObject>(dispatch);
}

}  // namespace kernel
