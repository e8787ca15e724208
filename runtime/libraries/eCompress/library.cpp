// The eCompress library: packing one file into a ZIP archive and unpacking
// an archive into a folder (zip_archive.h). A command that fails returns
// false and, with automation on, writes why into the transcript:
//
//   archive-failed command=unpack archive="更新\a.zip" entry="../x" why="not a plain file name"
#include <string>

#include "base/automation/transcript.h"
#include "base/encoding.h"
#include "runtime/libraries/eCompress/zip_archive.h"
#include "runtime/libraries/support/library_command.h"

namespace {

// UTF-8 for the transcript; bytes that are not GBK as \xNN.
std::string printable(std::string_view gbk) {
    if (auto utf8 = base::gbk_to_utf8(gbk))
        return *utf8;
    std::string out;
    static const char kHex[] = "0123456789ABCDEF";
    for (char c : gbk) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80 && u >= 0x20) {
            out += c;
        } else {
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return out;
}

int64_t report(const char* command, std::string_view archive,
               const ecompress::Result<void>& result) {
    if (!result.is_error())
        return 1;
    const ecompress::Problem problem = result.error();
    // The names may hold bytes that are not text: quote() escapes controls,
    // printable() what is not GBK.
    automation::append_transcript_line(std::string("archive-failed command=") + command +
                                       " archive=" + automation::quote(printable(archive)) +
                                       " entry=" + automation::quote(printable(problem.entry)) +
                                       " why=" + automation::quote(problem.why));
    return 0;
}

}  // namespace

SUPPORT_LIBRARY_EXPORT int64_t LibraryCommand(int32_t command, const RtArgumentBlock* arguments,
                                              const RtKernelServices* kernel) {
    switch (command) {
        case RT_ECOMPRESS_PACK_FILE: {
            const support::LibraryArguments a("eCompress", command, arguments, 2, *kernel);
            const std::string file = a.text(0);
            const std::string archive = a.text(1);
            return report("pack", archive, ecompress::pack_file(file, archive));
        }
        case RT_ECOMPRESS_UNPACK: {
            const support::LibraryArguments a("eCompress", command, arguments, 2, *kernel);
            const std::string archive = a.text(0);
            const std::string folder = a.text(1);
            return report("unpack", archive, ecompress::unpack(archive, folder));
        }
    }
    support::unknown_command("eCompress", command, *kernel);
}
