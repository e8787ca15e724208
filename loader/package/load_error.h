// The failures that end a start before the hand-off, each with the text of
// its "Error" message box.
#pragma once

#include <cstdint>

namespace loader {

enum class LoadError : uint8_t {
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
};

inline const char* message_text(LoadError error) {
    switch (error) {
        case LoadError::CantOpenFile:
            return "Can't open file!";
        case LoadError::InvalidData:
            return "Invalid data in the file!";
        case LoadError::TrailerReadFailed:
            return "Failed to read data from the file!";
        case LoadError::PackageReadFailed:
            return "Failed to read file or invalid data in file!";
        case LoadError::OutOfMemory:
            return "Insufficient memory!";
        case LoadError::NoTempFolder:
            return "Can't retrieve the temporary directory!";
        case LoadError::DecompressFailed:
            return "Failed to decompress data!";
        case LoadError::KernelNotFound:
            return "Not found the kernel library!";
        case LoadError::KernelLoadFailed:
            return "Failed to load kernel library!";
        case LoadError::KernelInvalid:
            return "The kernel library is invalid!";
        case LoadError::KernelInterfaceInvalid:
            return "The interface of kernel library is invalid!";
    }
    return "Invalid data in the file!";
}

}  // namespace loader
