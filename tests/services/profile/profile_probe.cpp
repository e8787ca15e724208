// A Windows program for the differential tests: runs the system's profile
// functions on requests read from a file and writes their results.
//
//   profile_probe.exe requests results
//
// Each request line is "R file section key" or "W file section key value",
// every field in hexadecimal ("-" for the empty text), so that no byte of a
// GBK text passes through a command line. Results: the line "ACP <code page>"
// first, then one line per request: the hexadecimal value read ("-" for
// empty), or 1 / 0 for a write.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string from_hex(const std::string& hex) {
    std::string out;
    if (hex == "-")
        return out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

std::string to_hex(const std::string& bytes) {
    if (bytes.empty())
        return "-";
    std::string out;
    char digits[3];
    for (unsigned char c : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", c);
        out += digits;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    FILE* in = std::fopen(argv[1], "rb");
    FILE* out = std::fopen(argv[2], "wb");
    if (in == nullptr || out == nullptr)
        return 2;
    std::fprintf(out, "ACP %u\n", GetACP());
    char line[65536];
    std::vector<char> buffer(1 << 20);
    while (std::fgets(line, sizeof line, in) != nullptr) {
        // The operation, then the fields in hexadecimal.
        std::vector<std::string> fields;
        std::string field;
        for (const char* p = line; *p != '\0'; ++p) {
            if (*p != ' ' && *p != '\n' && *p != '\r') {
                field += *p;
                continue;
            }
            if (!field.empty())
                fields.push_back(fields.empty() ? field : from_hex(field));
            field.clear();
        }
        if (fields.empty())
            continue;
        const std::string op = fields[0];
        if (op == "R" && fields.size() == 4) {
            const DWORD length =
                GetPrivateProfileStringA(fields[2].c_str(), fields[3].c_str(), "", buffer.data(),
                                         static_cast<DWORD>(buffer.size()), fields[1].c_str());
            std::fprintf(out, "%s\n", to_hex(std::string(buffer.data(), length)).c_str());
        } else if (op == "W" && fields.size() == 5) {
            const BOOL ok = WritePrivateProfileStringA(fields[2].c_str(), fields[3].c_str(),
                                                       fields[4].c_str(), fields[1].c_str());
            std::fprintf(out, "%d\n", ok ? 1 : 0);
        } else {
            std::fprintf(out, "?\n");
        }
    }
    std::fclose(out);
    std::fclose(in);
    return 0;
}
