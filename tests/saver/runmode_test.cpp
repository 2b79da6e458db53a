// The run mode from the file name and the switch, and the daemons' command lines.
#include <gtest/gtest.h>

#include "ScrnSave.h"

TEST(RunModeTable, ExtensionAndSwitch) {
    struct Case {
        const char* path;
        const char* arg;
        TRunMode want;
    };
    const Case cases[] = {
        {"/home/u/Alps.exe", "", rmSlideshow},
        {"/home/u/Alps.scr", "", rmConfigure},
        {"/home/u/Alps", "", rmConfigure},
        {"/home/u/Alps.EXE", "", rmSlideshow},
        {"/home/u/Alps.Exe", "", rmSlideshow},
        {"/home/u/Alps.exe.scr", "", rmConfigure},
        {"/home/u/Alps.scr.exe", "", rmSlideshow},
        {"/home/my.exe/Alps", "", rmConfigure},   // the dot is in a folder name
        {"/home/u/.exe", "", rmSlideshow},
        {"/home/u/Alps.exe", "/s", rmSaver},
        {"/home/u/Alps.exe", "/S", rmSaver},
        {"/home/u/Alps.exe", "-S", rmSaver},
        {"/home/u/Alps.exe", "s", rmSaver},
        {"/home/u/Alps.exe", "Screen", rmSaver},
        {"/home/u/Alps.scr", "/c:1234", rmConfigure},
        {"/home/u/Alps.exe", "/c:1234", rmConfigure},
        {"/home/u/Alps.exe", "-c", rmConfigure},
        {"/home/u/Alps.exe", "C", rmConfigure},
        {"/home/u/Alps.exe", "configure", rmConfigure},
        {"/home/u/Alps.scr", "/p", rmPreview},
        {"/home/u/Alps.scr", "-P", rmPreview},
        {"/home/u/Alps.scr", "preview", rmPreview},
        {"/home/u/Alps.scr", "a", rmSetPassword},
        {"/home/u/Alps.exe", "about", rmSetPassword},
        {"/home/u/Alps.scr", "/A", rmSetPassword},
        {"/home/u/Alps.exe", "/x", rmSlideshow},
        {"/home/u/Alps.exe", "x", rmSlideshow},
        {"/home/u/Alps.exe", "--root", rmSlideshow},
        {"/home/u/Alps.scr", "-window-id", rmConfigure},
        {"/home/u/Alps.exe", "//s", rmSlideshow},   // only the second character counts
        {"/home/u/Alps.exe", "/", rmSlideshow},
        {"/home/u/Alps.exe", "-", rmSlideshow},
        {"/home/u/Alps.exe", " s", rmSlideshow},
        {"/home/u/Alps.exe", "\xC3\xA9s", rmSlideshow},   // no locale case mapping
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChooseRunMode(c.path, c.arg), c.want) << c.path << " '" << c.arg << "'";
}

TEST(DaemonArguments, MapOntoThePreviewSwitch) {
    using V = std::vector<std::string>;
    struct Case {
        const char* name;
        V args;
        const char* env;
        V want;
        uintptr_t root = 0x2b5;   // the X root window; 0 where there is none
    };
    const std::vector<Case> cases = {
        {"xscreensaver --root, hex id", {"--root"}, "0x1a00007", {"/P", "27262983"}},
        {"-root, decimal id", {"-root"}, "41943047", {"/P", "41943047"}},
        {"-root, upper-case hex", {"-root"}, "0X10", {"/P", "16"}},
        {"--root without the variable: the root window", {"--root"}, nullptr, {"/P", "693"}},
        {"-root with an empty variable: the root window", {"-root"}, "", {"/P", "693"}},
        {"-root without X11: the full-screen saver", {"-root"}, nullptr, {"/S"}, 0},
        {"-window-id N", {"-window-id", "0x400001"}, nullptr, {"/P", "4194305"}},
        {"--window-id N", {"--window-id", "77"}, "0x5", {"/P", "77"}},
        {"-window-id without N", {"-window-id"}, nullptr, {"-window-id"}},
        {"garbage id passes through for the conversion error", {"-root"}, "0xzz", {"/P", "0xzz"}},
        {"id too large passes through", {"-root"}, "0x1ffffffff", {"/P", "0x1ffffffff"}},
        {"ordinary switch untouched", {"/S"}, "0x10", {"/S"}},
        {"no arguments", {}, "0x10", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(MapDaemonArguments(c.args, c.env, c.root), c.want);
    }
}

TEST(DaemonArguments, MappedLineSelectsPreview) {
    const auto args = MapDaemonArguments({"--root"}, "0x200003");
    EXPECT_EQ(ChooseRunMode("/x/Alps.scr", args.at(0)), rmPreview);
}

TEST(ProgramArguments, ParamStrAndCount) {
    SetProgramArguments("/x/Alps.scr", {"/p", "1234"});
    EXPECT_EQ(ParamCount(), 2);
    EXPECT_EQ(ParamStr(0), "/x/Alps.scr");
    EXPECT_EQ(ParamStr(1), "/p");
    EXPECT_EQ(ParamStr(2), "1234");
    EXPECT_EQ(ParamStr(3), "");
    EXPECT_EQ(ParamStr(-1), "");
    SetProgramArguments("/x/Alps.exe", {});
    EXPECT_EQ(ParamCount(), 0);
    EXPECT_EQ(ParamStr(1), "");
}
