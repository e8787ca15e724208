// Files, folders, processes and places as a program uses them (see
// files_probe.desc). The fixture in the current folder:
//
//   tree\...            a tree with a link to ..\outside inside it
//   outside\keep.txt    what the link points to
//   stuck\kept.txt      a file the system keeps
//   stamp.txt           last written 2021-03-04 05:06:07 UTC
//   lines.txt           "一" CR LF "二" LF CR LF "三", no final line end
//   command.txt         a command line that ends with exit code 7
#include "rt/args.h"
#include "rt/files.h"
#include "rt/markers.h"
#include "rt/process.h"
#include "rt/program.h"
#include "rt/slots.h"
#include "rt/text.h"
#include "rt/text_line.h"

namespace {

using Line = rt::TextLine<' '>;

void report(const Line& line) {
    rt_set_property(RT_ID(52010001), RT_ID(16010001), RT_PROPERTY_TEXT, -1,
                    static_cast<int64_t>(reinterpret_cast<uintptr_t>(line.c_str())));
}

// The current folder followed by a backslash and `name`.
struct Path {
    explicit Path(const char* name) {
        rt::Text folder = rt::current_folder();
        line << folder.c_str() << "\\" << name;
    }
    const char* c_str() const { return line.c_str(); }
    rt::TextLine<> line;
};

void folders() {
    Line deleted;
    deleted << "删除目录" << rt::delete_folder(Path("tree").c_str())
            << rt::file_exists(Path("tree").c_str())
            << rt::file_exists(Path("outside\\keep.txt").c_str());
    report(deleted);
    Line stuck;
    stuck << "删除失败" << rt::delete_folder(Path("stuck").c_str())
          << rt::file_exists(Path("stuck\\kept.txt").c_str());
    report(stuck);
    Line created;
    created << "建目录" << rt::create_folder(Path("new\\a\\b").c_str())
            << rt::file_exists(Path("new\\a\\b").c_str()) << rt::delete_folder(Path("new").c_str())
            << rt::delete_folder(Path("new").c_str());
    report(created);
}

void stamps() {
    rt::Text stamp = rt::file_time(Path("stamp.txt").c_str());
    rt::Text missing = rt::file_time(Path("missing.txt").c_str());
    Line line;
    line << "时间 " << stamp.c_str() << " [" << missing.c_str() << "]"
         << rt::file_size(Path("stamp.txt").c_str()) << rt::file_size(Path("missing.txt").c_str());
    report(line);
}

void lines() {
    rt::LineReader reader(Path("lines.txt").c_str());
    Line line;
    line << "行";
    int64_t count = 0;
    rt::Text text;
    while (reader.next(text)) {
        line << (count == 0 ? " " : "|") << text.c_str();
        ++count;
    }
    rt::LineReader missing(Path("missing.txt").c_str());
    line << count << missing.is_open() << missing.next(text);
    report(line);
}

void reading_and_writing() {
    const char* const written = "写\r\n入";
    Line line;
    line << "写读" << rt::write_file(Path("written.txt").c_str(), written);
    rt::Text text = rt::read_text_file(Path("written.txt").c_str());
    line << " " << text.c_str() << rt::file_size(Path("written.txt").c_str());
    rt::Array<uint8_t> bytes = rt::Array<uint8_t>::of_size(3);
    bytes[1] = 'a';
    bytes[3] = 'c';  // bytes[2] stays 0: a byte array may hold zeros
    line << rt::write_file(Path("bytes.bin").c_str(), bytes);
    rt::Array<uint8_t> back = rt::read_file(Path("bytes.bin").c_str());
    line << back.count() << back[1] << back[2] << back[3];
    rt::Text cut = rt::read_text_file(Path("bytes.bin").c_str());
    line << " " << cut.c_str();  // the text ends at the first zero byte
    line << rt::write_file(Path("missing\\x.txt").c_str(), "x");
    report(line);

    Line copied;
    copied << "复制" << rt::copy_file(Path("written.txt").c_str(), Path("copy.txt").c_str());
    rt::Text copy = rt::read_text_file(Path("copy.txt").c_str());
    copied << " " << copy.c_str()
           << rt::copy_file(Path("written.txt").c_str(), Path("missing\\copy.txt").c_str())
           << rt::copy_file(Path("missing.txt").c_str(), Path("copy.txt").c_str())
           << rt::delete_file(Path("copy.txt").c_str())
           << rt::delete_file(Path("copy.txt").c_str());
    report(copied);
}

void processes() {
    rt::Text command = rt::read_text_file(Path("command.txt").c_str());
    Line line;
    line << "运行" << rt::run(command.c_str(), true) << rt::run(Path("missing.exe").c_str(), true);
    report(line);
    rt::Text current = rt::current_folder();
    rt::Text program = rt::program_folder();
    rt::Text desktop = rt::desktop_folder();
    Line places;
    places << "位置 " << current.c_str() << " " << program.c_str() << (desktop.empty() ? 0 : 1);
    report(places);
    rt::open_address("http://127.0.0.1/首页");
    rt::open_address("file:///etc/passwd");  // no web address: nothing opens
}

}  // namespace

extern "C" RT_CALL void created() {
    folders();
    stamps();
    lines();
    reading_and_writing();
    processes();
}

extern "C" RT_CALL void wrong_type() {
    auto block = rt::arguments(rt::integer(5));
    rt_kernel_command(RT_KERNEL_FILE_EXISTS, block.get());
}

extern "C" RT_CALL void text_outside() {
    auto block = rt::arguments(rt::text(reinterpret_cast<const char*>(0x10)));
    rt_kernel_command(RT_KERNEL_DELETE_FOLDER, block.get());
}

extern "C" RT_CALL void text_without_end() {
    char* text = static_cast<char*>(rt_heap_new(4));
    for (int i = 0; i < 4; ++i)
        text[i] = 'a';
    auto block = rt::arguments(rt::text(text));
    rt_kernel_command(RT_KERNEL_FILE_EXISTS, block.get());
}

extern "C" RT_CALL void handle_not_open() {
    auto block = rt::arguments(rt::integer(4711));
    rt_kernel_command(RT_KERNEL_READ_LINE, block.get());
}

extern "C" RT_CALL void write_integer() {
    auto block = rt::arguments(rt::text("x.txt"), rt::integer(1));
    rt_kernel_command(RT_KERNEL_WRITE_FILE, block.get());
}

extern "C" RT_CALL void missing_argument() {
    auto block = rt::arguments(rt::text("x.txt"));
    rt_kernel_command(RT_KERNEL_COPY_FILE, block.get());
}
