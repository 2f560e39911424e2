#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "foundation/files/Paths.h"
#include "support/TempDir.h"

using namespace velto;

namespace {
// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};
}  // namespace

TEST(Paths, XdgHomesWinOverHomeButRelativeValuesAreIgnored) {
    TempDir dir;
    ScopedEnv home("HOME", dir.path().c_str());
    ScopedEnv data("XDG_DATA_HOME", "/srv/data");
    ScopedEnv cache("XDG_CACHE_HOME", "relative/cache");
    ScopedEnv config("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(Paths::applicationSupportDir(), "/srv/data/cn.quorvanel.velto.mac");
    EXPECT_EQ(Paths::cachesDir(), dir.path() / ".cache/cn.quorvanel.velto.mac");
    EXPECT_EQ(Paths::defaultsFile(), dir.path() / ".config/velto/defaults.json");
}

TEST(Paths, DocumentsComeFromTheUserDirsFileWithHomeExpanded) {
    TempDir dir;
    ScopedEnv home("HOME", dir.path().c_str());
    ScopedEnv config("XDG_CONFIG_HOME", nullptr);
    ScopedEnv documents("XDG_DOCUMENTS_DIR", nullptr);
    EXPECT_EQ(Paths::documentsDir(), dir.path() / "Documents");
    std::filesystem::create_directories(dir.path() / ".config");
    std::ofstream(dir.path() / ".config/user-dirs.dirs")
        << "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/文档\"\n";
    EXPECT_EQ(Paths::documentsDir(), dir.path() / "文档");
}

TEST(Paths, ResourceDirFollowsTheEnvironmentOverride) {
    {
        ScopedEnv resources("VELTO_RESOURCE_DIR", "/opt/velto/resources");
        EXPECT_EQ(Paths::resourceDir(), "/opt/velto/resources");
    }
    ScopedEnv resources("VELTO_RESOURCE_DIR", nullptr);
    EXPECT_EQ(Paths::resourceDir().filename(), "resources");
}
