#include "platform/places.h"
#include "server/platform/temp_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(Places, ProgramFolderHoldsTheRunningExecutable)
{
    std::string folder = GetProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '/');
    EXPECT_TRUE(std::filesystem::exists(folder + "/platform_tests"));
}

TEST(Places, DataFolderFollowsTheOverrideThenXdg)
{
    {
        ScopedEnv data("VEMBACAST_DATA_DIR", "/srv/vemba/");
        EXPECT_EQ(GetDataFolder(), "/srv/vemba");
        EXPECT_EQ(GetServicesFolder(), "/srv/vemba/Services");
    }
    unsetenv("VEMBACAST_DATA_DIR");
    {
        ScopedEnv xdg("XDG_DATA_HOME", "/xdg/data");
        EXPECT_EQ(GetDataFolder(), "/xdg/data/Vemba Family/Vemba Cast");
    }
    unsetenv("XDG_DATA_HOME");
    ScopedEnv home("HOME", "/home/someone");
    EXPECT_EQ(GetDataFolder(), "/home/someone/.local/share/Vemba Family/Vemba Cast");
    EXPECT_EQ(GetStartupFolder().substr(0, 14), "/home/someone/");
}

TEST(Places, StartupFolderIsXdgAutostart)
{
    ScopedEnv xdg("XDG_CONFIG_HOME", "/xdg/config");
    EXPECT_EQ(GetStartupFolder(), "/xdg/config/autostart");
    setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    ScopedEnv home("HOME", "/home/u");
    EXPECT_EQ(GetStartupFolder(), "/home/u/.config/autostart");
}

TEST(Places, RuntimeFolderWithoutXdgIsPrivate)
{
    {
        ScopedEnv runtime("XDG_RUNTIME_DIR", "/run/user/77");
        EXPECT_EQ(GetRuntimeFolder(), "/run/user/77");
    }
    unsetenv("XDG_RUNTIME_DIR");
    std::string folder = GetRuntimeFolder();
    EXPECT_EQ(folder, "/tmp/vembacast-" + std::to_string(getuid()));
    struct stat info { };
    ASSERT_EQ(stat(folder.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_uid, getuid());
}

TEST(Places, AServersPlacesAreResolvedOnceFromItsDataFolder)
{
    ScopedEnv data("VEMBACAST_DATA_DIR", "/srv/default");
    ScopedEnv temp("TMPDIR", "/var/tmp/");
    ServerPlaces places = ResolvePlaces("/srv/one//");
    EXPECT_EQ(places.dataFolder, "/srv/one");
    EXPECT_EQ(places.ServicesFolder(), "/srv/one/Services");
    EXPECT_EQ(places.programFolder, GetProgramFolder());
    EXPECT_EQ(places.resourceFolder, GetResourceFolder());
    EXPECT_EQ(places.tempFolder, "/var/tmp");
    EXPECT_EQ(ResolvePlaces().dataFolder, "/srv/default");
    ScopedEnv relative("TMPDIR", "scratch");
    EXPECT_EQ(ResolvePlaces("/srv/one").tempFolder, "/tmp") << "a relative TMPDIR is ignored";
}

} // namespace
