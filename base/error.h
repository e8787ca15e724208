// Why something failed, for every part of the host-side code: one cause from
// a fixed list, each with its fixed message text, and where the cause needs
// one a detail (what was refused, and where). Results are ErrorOr<T, Error>
// (`base::Result<T>`).
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "base/error_or.h"

namespace base {

class Error {
  public:
    enum Cause : uint8_t {
        // A refusal that says why in its detail (readers, parsers, the
        // linker, the binder, tools): the message is the detail.
        Refused,
        // The start of a program, each the text of its "Error" message box.
        CantOpenFile,
        InvalidData,
        TrailerReadFailed,
        PackageReadFailed,
        OutOfMemory,
        NoTempFolder,
        DecompressFailed,
        KernelNotFound,
        KernelLoadFailed,
        KernelInvalid,
        KernelInterfaceInvalid,
        // Files the runtime reads and replaces whole.
        FileNotFound,  // no such file (a folder counts as none)
        FileFailed,    // there, but not readable or not writable
        // Member calls of objects.
        UnknownMember,   // the object has no member of that name
        WrongArguments,  // too few, too many, or of a type the member cannot take
        Failed,          // the member ran and failed (or may not run in this state)
        NotImplemented,  // the system's object has the member but does not do it
    };

    Error() : Error(Refused) {}
    Error(Cause cause) : cause_(cause), message_(message_text(cause)) {}
    Error(Cause cause, std::string detail) : cause_(cause), detail_(std::move(detail)) {
        const std::string text = message_text(cause);
        message_ = text.empty() ? detail_ : detail_.empty() ? text : text + ": " + detail_;
    }
    // A refusal with this detail.
    explicit Error(std::string detail) : Error(Refused, std::move(detail)) {}

    Cause cause() const { return cause_; }
    const std::string& detail() const { return detail_; }
    // The cause's fixed text, followed by ": " and the detail when there is
    // one; a refusal's detail alone.
    const std::string& message() const { return message_; }

    // The fixed text of a cause; empty for a refusal.
    static const char* message_text(Cause cause) {
        switch (cause) {
            case Refused:
                return "";
            case CantOpenFile:
                return "Can't open file!";
            case InvalidData:
                return "Invalid data in the file!";
            case TrailerReadFailed:
                return "Failed to read data from the file!";
            case PackageReadFailed:
                return "Failed to read file or invalid data in file!";
            case OutOfMemory:
                return "Insufficient memory!";
            case NoTempFolder:
                return "Can't retrieve the temporary directory!";
            case DecompressFailed:
                return "Failed to decompress data!";
            case KernelNotFound:
                return "Not found the kernel library!";
            case KernelLoadFailed:
                return "Failed to load kernel library!";
            case KernelInvalid:
                return "The kernel library is invalid!";
            case KernelInterfaceInvalid:
                return "The interface of kernel library is invalid!";
            case FileNotFound:
                return "no such file";
            case FileFailed:
                return "the file cannot be read or written";
            case UnknownMember:
                return "no such member";
            case WrongArguments:
                return "arguments the member cannot take";
            case Failed:
                return "the call failed";
            case NotImplemented:
                return "not implemented";
        }
        return "";
    }

    // An error reads as its message where a text is wanted.
    operator const std::string&() const { return message_; }
    const char* c_str() const { return message_.c_str(); }
    bool empty() const { return message_.empty(); }
    size_t find(std::string_view text, size_t at = 0) const { return message_.find(text, at); }

    friend bool operator==(const Error& a, const Error& b) {
        return a.cause_ == b.cause_ && a.detail_ == b.detail_;
    }
    friend bool operator==(const Error& error, Cause cause) { return error.cause_ == cause; }
    friend bool operator==(const Error& error, std::string_view text) {
        return error.message_ == text;
    }
    friend std::ostream& operator<<(std::ostream& out, const Error& error) {
        return out << error.message_;
    }

  private:
    Cause cause_ = Refused;
    std::string detail_;
    std::string message_;
};

template <typename T>
using Result = ErrorOr<T, Error>;

}  // namespace base
