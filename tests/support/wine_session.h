// The wine environment for tests that run Windows programs: started or
// joined through scripts/wine-env.sh on first use, with the test process as
// its holder, and let go when the test program ends; parallel test
// processes share it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace test_support {

class WineSession : public ::testing::Environment {
  public:
    enum class State { NotStarted, Running, NotInstalled, Failed };

    // Starts or joins the environment on first use.
    static WineSession& ensure();

    State state() const { return state_; }
    const std::string& message() const { return message_; }
    // NAME=value entries for a wine run; WJRT_UI=headless among them.
    const std::vector<std::string>& environment() const { return environment_; }
    const std::string& wine() const { return wine_; }
    // The Unix path of the prefix's Windows temporary folder.
    const std::filesystem::path& temp_dir() const { return temp_dir_; }

    void TearDown() override;

  private:
    void start();

    State state_ = State::NotStarted;
    std::string message_;
    std::vector<std::string> environment_;
    std::string wine_;
    std::filesystem::path temp_dir_;
};

// "Z:\..." for an absolute Unix path: wine maps drive Z: to the root.
std::string windows_path(const std::filesystem::path& path);

}  // namespace test_support
