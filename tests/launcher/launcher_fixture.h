// The launcher (build/linux-x64/launcher/launcher) in a client folder that a
// test makes: wow.ini from a table of keys, stand-in "wow.exe" and
// "update.exe" that record their start, the locale folders the case asks
// for, and nginx on loopback serving the version file and launcher.ini. Each
// run copies the launcher into the client folder (the launcher works on the
// folder of its own executable), gives it a desktop of its own, a script and
// a transcript.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/nginx_server.h"
#include "tests/support/test_support.h"

namespace launcher_test {

namespace fs = std::filesystem;

std::string gbk(const std::string& utf8);
fs::path u8path(const std::string& utf8);
void write_text(const fs::path& path, const std::string& bytes);
bool contains(const std::string& text, const std::string& part);

// Keys of wow.ini, UTF-8 (written as GBK). Every key is in its section
// (Main, v, Server) by name; a key set to the text "<none>" is left out.
using Settings = std::map<std::string, std::string>;

struct Outcome {
    int exit_code = -1;
    std::string transcript;
    std::string err;
};

class LauncherTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();

    // The served files' folder and their addresses.
    static fs::path site() { return *scratch_ / "site"; }
    static std::string served(const std::string& name);

    // Settings with a working realm 1 and 2, the version file "1.0.ini"
    // (vs=1.0) and launcher.ini on the server.
    static Settings current_settings();

    // A fresh client folder: wow.ini (unless `settings` is null), the two
    // stand-ins (unless left out), and `folders` below it.
    fs::path make_client(const Settings* settings, bool with_client = true,
                         const std::vector<std::string>& folders = {});
    // Rewrites the client's wow.ini.
    static void write_settings(const fs::path& client, const Settings& settings);

    // Runs the client's launcher with the script; `extra` are further
    // NAME=value entries of its environment.
    Outcome run(const fs::path& client, const std::string& script,
                const std::vector<std::string>& extra = {});

    // What the stand-ins recorded: one line per start, "name|arguments|folder".
    static std::string started(const fs::path& client);
    static fs::path desktop() { return *scratch_ / "home" / "Desktop"; }

    static test_support::ScratchDir* scratch_;
    static test_support::NginxServer* server_;
    static int clients_;
};

}  // namespace launcher_test
