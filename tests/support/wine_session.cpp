#include "tests/support/wine_session.h"

#include <unistd.h>

#include <sstream>

#include "tests/support/test_support.h"

namespace test_support {

namespace {

namespace fs = std::filesystem;

const fs::path kWineEnvScript = fs::path(SOURCE_DIR) / "scripts" / "wine-env.sh";

std::string holder() {
    return std::to_string(getpid());
}

WineSession* const session =
    static_cast<WineSession*>(::testing::AddGlobalTestEnvironment(new WineSession));

}  // namespace

WineSession& WineSession::ensure() {
    if (session->state_ == State::NotStarted)
        session->start();
    return *session;
}

void WineSession::TearDown() {
    // A start that failed half-way may still have started something.
    if (state_ != State::Running && state_ != State::Failed)
        return;
    auto result = run({"/bin/bash", kWineEnvScript.string(), "stop", holder()}, {}, 120);
    EXPECT_EQ(result.exit_code, 0) << "wine-env.sh stop: " << result.err;
    state_ = State::NotStarted;
}

void WineSession::start() {
    auto result = run({"/bin/bash", kWineEnvScript.string(), "start", holder()}, {}, 900);
    if (result.exit_code == 3) {
        state_ = State::NotInstalled;
        message_ = "cannot run Windows programs here: " + result.err;
        return;
    }
    if (result.exit_code != 0) {
        state_ = State::Failed;
        message_ =
            "wine-env.sh start ended with " + std::to_string(result.exit_code) + ": " + result.err;
        return;
    }
    // Lines "export NAME='value'".
    std::istringstream lines(result.out);
    std::string line;
    while (std::getline(lines, line)) {
        const std::string prefix = "export ";
        size_t equals = line.find("='");
        if (!line.starts_with(prefix) || equals == std::string::npos || !line.ends_with("'"))
            continue;
        std::string name = line.substr(prefix.size(), equals - prefix.size());
        std::string value = line.substr(equals + 2, line.size() - equals - 3);
        if (name == "WINE")
            wine_ = value;
        else if (name == "WINE_TEMP_DIR")
            temp_dir_ = value;
        else if (name != "WINESERVER")
            environment_.push_back(name + "=" + value);
    }
    // The environment is held from here on, whatever else is missing.
    state_ = State::Running;
    if (wine_.empty() || temp_dir_.empty() || environment_.size() != 4) {
        state_ = State::Failed;
        message_ = "unexpected output of wine-env.sh start:\n" + result.out;
    }
    // Programs run without real windows unless a test asks for them
    // (WJRT_UI=win32): one without a script or transcript would otherwise
    // wait for a person at the screen.
    environment_.push_back("WJRT_UI=headless");
}

std::string windows_path(const fs::path& path) {
    std::string text = "Z:" + path.string();
    for (char& c : text) {
        if (c == '/')
            c = '\\';
    }
    return text;
}

}  // namespace test_support
